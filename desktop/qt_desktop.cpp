#include "desktop/qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace mbx::desktop {

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QMessageBox::Icon qtIcon(Icon icon) {
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

Answer QtDesktop::messageBox(const std::string& caption, const std::string& text, Icon icon,
                             Buttons buttons) {
    QMessageBox box(
        qtIcon(icon), q(caption), q(text),
        buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner_);
    const int result = box.exec();
    if (buttons == Buttons::Ok) {
        return Answer::Ok;
    }
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDesktop::qtFilter(const std::string& filter) {
    const QString f = q(filter);
    const auto bar = f.indexOf(u'|');
    if (bar < 0) {
        return f;
    }
    QString patterns = f.mid(bar + 1);
    patterns.replace(u';', u' ');
    // Qt reads the patterns from the last parentheses and shows them; a description that already
    // lists them in its own parentheses gives them up, so they show once, in the form Qt needs.
    QString description = f.left(bar).trimmed();
    if (description.endsWith(u')')) {
        const auto open = description.lastIndexOf(u'(');
        if (open > 0) {
            description = description.left(open).trimmed();
        }
    }
    return description + QStringLiteral(" (") + patterns + QStringLiteral(")");
}

OpenFilesResult QtDesktop::openFiles(const OpenFilesRequest& request) {
    const QString filter = qtFilter(request.filter);
    QStringList chosen;
    if (request.multiSelect) {
        chosen = QFileDialog::getOpenFileNames(owner_, QString(), QString(), filter);
    } else {
        const QString one = QFileDialog::getOpenFileName(owner_, QString(), QString(), filter);
        if (!one.isEmpty()) {
            chosen << one;
        }
    }
    OpenFilesResult result;
    if (chosen.isEmpty()) {
        return result;
    }
    // A multiple selection comes from one folder; keep the dialog's order of names.
    result.folder =
        QDir::toNativeSeparators(QFileInfo(chosen.front()).absolutePath()).toStdString();
    for (const QString& path : chosen) {
        result.names.push_back(QFileInfo(path).fileName().toStdString());
    }
    return result;
}

std::string QtDesktop::browseForFolder(const std::string& title) {
    const QString dir = QFileDialog::getExistingDirectory(owner_, q(title));
    return QDir::toNativeSeparators(dir).toStdString();
}

bool QtDesktop::shellOpen(const std::string& target) {
    if (target.empty()) {
        return false;
    }
    const QString t = q(target);
    const QUrl url = t.contains(QStringLiteral("://")) ? QUrl(t) : QUrl::fromLocalFile(t);
    return QDesktopServices::openUrl(url);
}

void QtDesktop::beep() {
    QApplication::beep();
}

void QtDesktop::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

} // namespace mbx::desktop
