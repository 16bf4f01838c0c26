#include "reader/frm_finder.h"

#include "desktop/app_icon.h"
#include "desktop/twips.h"
#include "mailstore/mime/charset.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace mbx::reader {

using desktop::paintBackground;
using desktop::place;
using desktop::tw;

namespace {

// Mailbox bytes are shown one character per byte, as Windows-1252 text. The code page comes
// from our own table: Qt knows it by name only where it is built with ICU, which Windows builds
// are not.
QString fromBytes(std::string_view bytes) {
    return QString::fromStdString(mime::windows1252ToUtf8(bytes));
}

std::string toBytes(const QString& text) {
    return mime::utf8ToWindows1252(text.toStdString());
}

} // namespace

// The window's writing surface: lines of text from the top, cleared as a whole.
class TextSurface : public QWidget {
public:
    explicit TextSurface(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void clear() {
        text_.clear();
        update();
    }
    void write(const QString& text) {
        text_ += text;
        update();
    }
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int lineHeight = fontMetrics().height();
        int y = fontMetrics().ascent() + 2;
        QString normalised = text_;
        normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        normalised.replace(u'\r', u'\n');
        for (const QString& line : normalised.split(u'\n')) {
            if (y - lineHeight > height()) {
                break;
            }
            p.drawText(4, y, line);
            y += lineHeight;
        }
    }

private:
    QString text_;
};

FrmFinder::FrmFinder(desktop::Desktop& desktop, QWidget* parent)
    : QWidget(parent), desktop_(desktop) {
    setObjectName(QStringLiteral("FrmFinder"));
    setWindowTitle(QString());
    setWindowIcon(desktop::applicationIcon());
    setFixedSize(tw(7380), tw(4560 + 375));

    // The surface lies under every control, in the space between the two panels.
    surface = new TextSurface(this);
    place(surface, "surface", 0, 1400, 7380, 4560 - 1400);

    Frame1 = new QWidget(this);
    place(Frame1, "Frame1", 0, 0, 7380, 1400);
    paintBackground(Frame1, QColor(255, 255, 192));
    QFont arial(QStringLiteral("Arial"));
    arial.setStyleHint(QFont::SansSerif);
    arial.setPointSizeF(9.75);

    Label1 = new QLabel(QStringLiteral("File Name :"), Frame1);
    place(Label1, "Label1", 120, 120, 1215, 255);
    Text1 = new QLineEdit(Frame1);
    place(Text1, "Text1", 1440, 120, 5775, 360);
    Label2 = new QLabel(QStringLiteral("String :"), Frame1);
    place(Label2, "Label2", 480, 600, 855, 255);
    Text2 = new QLineEdit(Frame1);
    place(Text2, "Text2", 1440, 600, 2895, 360);
    Check1 = new QCheckBox(QStringLiteral("Case Sensitive"), Frame1);
    place(Check1, "Check1", 1440, 1080, 1695, 255);
    Check1->setChecked(true);
    paintBackground(Check1, QColor(255, 255, 192));
    for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Text1),
                       static_cast<QWidget*>(Label2), static_cast<QWidget*>(Text2),
                       static_cast<QWidget*>(Check1)}) {
        w->setFont(arial);
    }
    Command3 = new QPushButton(QStringLiteral("Find"), Frame1);
    place(Command3, "Command3", 4440, 600, 855, 375);
    Command1 = new QPushButton(QStringLiteral("Open"), Frame1);
    place(Command1, "Command1", 5400, 600, 855, 375);

    Command4 = new QPushButton(QStringLiteral("Command4"), this);
    place(Command4, "Command4", 4440, 1560, 1215, 375);

    Frame2 = new QWidget(this);
    place(Frame2, "Frame2", 0, 4560, 7335, 375);
    Frame2->setAccessibleName(QStringLiteral("Frame2"));
    paintBackground(Frame2, QColor(255, 224, 192));
    Label3 = new QLabel(QStringLiteral("Mbxvane File Reader: finds any text in files of any size   "
                                       "[ F10 = HELP ]"),
                        Frame2);
    place(Label3, "Label3", 120, 50, 7215, 250);

    const QWidget* order[] = {Label1, Text1, Label2, Text2, Check1, Command3, Command1, Command4};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    }

    connect(Command3, &QPushButton::clicked, this, &FrmFinder::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &FrmFinder::Command4_Click);
    // Command1 ("Open") has no action.

    reader_ = std::make_unique<MailboxReader>(state_, static_cast<ReaderSink&>(*this));
    sinceYield_.start();
}

FrmFinder::~FrmFinder() = default;

QString FrmFinder::surfaceText() const {
    return surface->text();
}

void FrmFinder::syncInputs() {
    reader_->Text1 = Text1->text().toStdString();
    reader_->Text2 = toBytes(Text2->text());
    reader_->Check1 = Check1->isChecked();
}

void FrmFinder::Command3_Click() {
    syncInputs();
    reader_->Find_Click();
}

void FrmFinder::Command4_Click() {
    syncInputs();
    reader_->FindNext_Click();
}

void FrmFinder::closeEvent(QCloseEvent* event) {
    // Unloading closes an open file and is never refused.
    if (reader_->FileNo() >= 1) {
        reader_->Close_Click();
    }
    event->accept();
}

void FrmFinder::beep() {
    desktop_.beep();
}

void FrmFinder::warning(const std::string& text, desktop::Icon icon, const std::string& title) {
    desktop_.messageBox(title, text, icon, desktop::Buttons::Ok);
}

void FrmFinder::clearSurface() {
    surface->clear();
}

void FrmFinder::writeSurface(std::string_view text) {
    surface->write(fromBytes(text));
}

// The window has no progress controls of its own; the search's progress is not shown.
void FrmFinder::setProgressBar2(int /*value*/) {}

void FrmFinder::setLblHappening(const std::string& /*text*/) {}

void FrmFinder::setText1(const std::string& text) {
    Text1->setText(QString::fromStdString(text));
}

void FrmFinder::focusText1() {
    if (isVisible()) {
        Text1->setFocus(Qt::OtherFocusReason);
    }
}

bool FrmFinder::yield() {
    if (sinceYield_.elapsed() >= 30) {
        QApplication::processEvents();
        sinceYield_.restart();
    }
    return true;
}

} // namespace mbx::reader
