#include "app/frm_step1.h"

#include "app/window_constants.h"
#include "desktop/app_icon.h"
#include "selection/handlers.h"
#include "selection/mailbox_list.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>

// The window's pictures are compiled into this static library; make sure they are registered.
static void initWindowResources() {
    Q_INIT_RESOURCE(resources);
}

namespace mbx::app {

namespace {

const QColor kCream(255, 231, 176);
const QColor kLabelTeal(0, 64, 64);

// A straight line between two points of its parent, drawn in one colour.
class LineWidget : public QWidget {
public:
    LineWidget(QWidget* parent, QColor colour) : QWidget(parent), colour_(colour) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(colour_);
        p.drawLine(0, 0, width() - 1, 0);
    }

private:
    QColor colour_;
};

// A filled rectangle with a one-pixel border.
class ShapeWidget : public QWidget {
public:
    ShapeWidget(QWidget* parent, QColor fill, QColor border)
        : QWidget(parent), fill_(fill), border_(border) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), fill_);
        p.setPen(border_);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    QColor fill_;
    QColor border_;
};

using desktop::paintBackground;
using desktop::place;
using desktop::tw;

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    pal.setColor(QPalette::ButtonText, colour);
    w->setPalette(pal);
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* text, int l, int t, int w, int h) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    place(label, name, l, t, w, h);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* text, int l, int t, int w,
                        int h) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    place(button, name, l, t, w, h);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QProgressBar* makeBar(QWidget* parent, const char* name, int l, int t, int w, int h) {
    auto* bar = new QProgressBar(parent);
    place(bar, name, l, t, w, h);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

} // namespace

frmStep1::frmStep1(desktop::Desktop& desktop, QWidget* parent)
    : QWidget(parent), desktop_(desktop) {
    initWindowResources();
    setObjectName(QStringLiteral("frmStep1"));
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowIcon(desktop::applicationIcon());
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    setFont(font);
    paintBackground(this, kCream);
    setFixedSize(tw(8985), tw(8895));
    buildControls();
    setTabOrder();
    sinceYield_.start();
}

frmStep1::~frmStep1() = default;

void frmStep1::buildControls() {
    // Graphic elements first, so that buttons, panels, grid and bars lie above them.
    Image2 = makeLabel(this, "Image2", "", 0, 0, 9000, 1275);
    Image2->setPixmap(QPixmap(QStringLiteral(":/mbxvane/banner.png")));
    Line1 = new LineWidget(this, QColor(255, 128, 0));
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setGeometry(0, tw(1280), tw(9000), 1);
    Shape1 = new ShapeWidget(this, Qt::white, QColor(192, 192, 192));
    place(Shape1, "Shape1", 0, 8280, 9015, 855);

    lblCount1 = makeLabel(this, "lblCount1", "0 files", 270, 1920, 8535, 255);
    paintBackground(lblCount1, kCream);
    Label4 = makeLabel(this, "Label4", "Converting Messages...", 240, 5235, 1815, 255);
    LblHappening = makeLabel(this, "LblHappening", "", 2040, 5235, 6735, 255);
    setTextColour(LblHappening, QColor(0, 0, 255));
    LblProgessCurrent =
        makeLabel(this, "LblProgessCurrent", "Mailbox  0 (of 0)", 600, 5520, 8175, 255);
    Label1 = makeLabel(this, "Label1", "Reading          :", 600, 5760, 1335, 255);
    LblIMMFile = makeLabel(this, "LblIMMFile", "", 1920, 5760, 6855, 255);
    Label2 = makeLabel(this, "Label2", "Emails Found :", 600, 6285, 1335, 255);
    LblEmlsFound = makeLabel(this, "LblEmlsFound", "", 1920, 6285, 6855, 255);
    LblByteUpdate = makeLabel(this, "LblByteUpdate", "", 960, 6480, 7815, 255);
    setTextColour(LblByteUpdate, QColor(128, 0, 0));
    Image3 = makeLabel(this, "Image3", "", 600, 6735, 240, 240);
    Image3->setPixmap(QPixmap(QStringLiteral(":/mbxvane/saving.png")));
    LblProgress = makeLabel(this, "LblProgress", "Saving :", 960, 6735, 7815, 255);
    for (QLabel* bold : {Label1, Label2}) {
        QFont f = bold->font();
        f.setBold(true);
        bold->setFont(f);
        setTextColour(bold, kLabelTeal);
    }

    cmdAdd = makeButton(this, "cmdAdd", "Select (.mbx) file(s)...", 240, 1440, 2535, 375);
    CmdAddFolder = makeButton(this, "CmdAddFolder", "Select folder having (.mbx) file(s)...", 3000,
                              1440, 3375, 375);
    cmdClear1 = makeButton(this, "cmdClear1", "Clear file(s)...", 7440, 1440, 1335, 375);

    grdFiles1 = new QTableWidget(this);
    place(grdFiles1, "grdFiles1", 240, 2160, 8535, 1575);
    grdFiles1->horizontalHeader()->hide();
    grdFiles1->verticalHeader()->hide();
    grdFiles1->verticalHeader()->setDefaultSectionSize(tw(240));
    grdFiles1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdFiles1->setSelectionMode(QAbstractItemView::SingleSelection);
    grdFiles1->setWordWrap(false);
    grdFiles1->setStyleSheet(
        QStringLiteral("QTableWidget { background-color: white; color: black; "
                       "gridline-color: rgb(192,192,192); "
                       "selection-background-color: rgb(184,123,30); selection-color: white; }"
                       "QTableWidget::item { background-color: rgb(255,255,191); }"
                       "QTableWidget::item:selected { background-color: rgb(184,123,30); }"));
    list_ = std::make_unique<selection::MailboxList>(*grdFiles1, *lblCount1);

    Frame1 = new QGroupBox(QStringLiteral(" I want to convert mbox mailbox messages to"), this);
    place(Frame1, "Frame1", 240, 3840, 8535, 1335);
    paintBackground(Frame1, kCream);
    Picture1 = new QWidget(Frame1);
    place(Picture1, "Picture1", 120, 240, 8295, 975);
    paintBackground(Picture1, kCream);
    // Four choices in the panel's 975 twips: spaced so that all four show, .msg last.
    const auto option = [this](const char* name, const char* text, int top, int width) {
        auto* b = new QRadioButton(QString::fromUtf8(text), Picture1);
        place(b, name, 0, top, width, 240);
        paintBackground(b, kCream);
        b->setBackgroundRole(QPalette::Window);
        return b;
    };
    OptEML = option("OptEML",
                    "(.eml) files          -     (Supported by Outlook Express, Windows Mail, "
                    "Windows Live Mail)",
                    0, 8055);
    OptEMLX = option("OptEMLX", "(.emlx) files        -     (Supported by Mac OS X ) Tiger Mail ",
                     240, 8295);
    OptPST = option("OptPST", "(.pst) files          -     (Supported by MS Outlook)", 480, 8055);
    OptMSG = option("OptMSG",
                    "(.msg) files         -     (Supported by MS Outlook, Document Management "
                    "Software, Forensic Tools)",
                    720, 8055);

    ProgressBar2 = makeBar(this, "ProgressBar2", 600, 6000, 8175, 255);
    ProgressBar1 = makeBar(this, "ProgressBar1", 600, 7080, 8175, 255);

    CmdConvert = makeButton(this, "CmdConvert", "Convert", 3120, 7680, 2775, 435);
    CmdConvert->setEnabled(false);

    Picture3 = new QWidget(this);
    place(Picture3, "Picture3", 240, 8400, 8655, 495);
    paintBackground(Picture3, Qt::white);
    CmdHelp = makeButton(Picture3, "CmdHelp", "&Help Manual", 0, 0, 1695, 375);
    cmdEnd = makeButton(Picture3, "cmdEnd", "E&xit", 7200, 0, 1335, 375);

    connect(cmdAdd, &QPushButton::clicked, this, &frmStep1::cmdAdd_Click);
    connect(CmdAddFolder, &QPushButton::clicked, this, &frmStep1::CmdAddFolder_Click);
    connect(cmdClear1, &QPushButton::clicked, this, &frmStep1::cmdClear1_Click);
    connect(CmdConvert, &QPushButton::clicked, this, &frmStep1::CmdConvert_Click);
    connect(CmdHelp, &QPushButton::clicked, this, &frmStep1::CmdHelp_Click);
    connect(cmdEnd, &QPushButton::clicked, this, &frmStep1::cmdEnd_Click);
}

void frmStep1::setTabOrder() {
    // By tab index: cmdAdd 0, cmdClear1 1, CmdAddFolder 2, grdFiles1 3, CmdConvert 5, cmdEnd 7,
    // CmdHelp 12, then the option group (OptMSG 22, OptPST 23, OptEML 24, OptEMLX 25).
    const QWidget* order[] = {cmdAdd,  cmdClear1, CmdAddFolder, grdFiles1, CmdConvert, cmdEnd,
                              CmdHelp, OptMSG,    OptPST,       OptEML,    OptEMLX};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    }
    for (QWidget* w : {static_cast<QWidget*>(lblCount1), static_cast<QWidget*>(Picture1),
                       static_cast<QWidget*>(Picture3), static_cast<QWidget*>(Frame1),
                       static_cast<QWidget*>(ProgressBar1), static_cast<QWidget*>(ProgressBar2)}) {
        w->setFocusPolicy(Qt::NoFocus);
    }
    cmdAdd->setFocus(Qt::OtherFocusReason);
}

bool frmStep1::yieldToEvents(bool force) {
    if (force || sinceYield_.elapsed() >= 30) {
        QApplication::processEvents();
        sinceYield_.restart();
    }
    return !closing_;
}

void frmStep1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!centred_) {
        centred_ = true;
        if (const QScreen* s = screen()) {
            const QRect area = s->availableGeometry();
            move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
        }
        cmdAdd->setFocus(Qt::OtherFocusReason);
    }
}

void frmStep1::cmdAdd_Click() {
    selection::pickMailboxFiles(
        desktop_, *list_,
        {[this](bool on) { CmdConvert->setEnabled(on); }, [this] { yieldToEvents(); }});
}

void frmStep1::CmdAddFolder_Click() {
    selection::scanFolderForMailboxes(
        desktop_, *list_,
        {[this](bool on) { CmdConvert->setEnabled(on); }, [this] { yieldToEvents(); }});
}

void frmStep1::cmdClear1_Click() {
    selection::clearMailboxes(desktop_, *list_);
}

void frmStep1::CmdConvert_Click() {
    emit convertRequested();
}

void frmStep1::CmdHelp_Click() {
    if (!desktop_.shellOpen(kMakerWebAddress)) {
        desktop_.messageBox(desktop::kAppTitle, std::string(kHelpNotOpenedText) + kMakerWebAddress,
                            desktop::Icon::Information, desktop::Buttons::Ok);
    }
}

void frmStep1::cmdEnd_Click() {
    if (desktop_.messageBox(desktop::kAppTitle, kExitQuestion, desktop::Icon::Question,
                            desktop::Buttons::YesNo) == desktop::Answer::Yes) {
        close();
    }
}

void frmStep1::closeEvent(QCloseEvent* event) {
    // A close request is never refused and ends the program: a conversion run is stopped and
    // waited for (closeRequested); the folder scan notices through yieldToEvents() and stops.
    closing_ = true;
    emit closeRequested();
    event->accept();
    QCoreApplication::quit();
}

} // namespace mbx::app
