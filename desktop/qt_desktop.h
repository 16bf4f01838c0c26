// The desktop seam on Qt: QMessageBox, QFileDialog, QDesktopServices.
#pragma once

#include "desktop/desktop.h"

#include <QPointer>
#include <QWidget>

namespace mbx::desktop {

class QtDesktop : public Desktop {
public:
    // Boxes and dialogs are modal to `owner` (may be null).
    explicit QtDesktop(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    Answer messageBox(const std::string& caption, const std::string& text, Icon icon,
                      Buttons buttons) override;
    OpenFilesResult openFiles(const OpenFilesRequest& request) override;
    std::string browseForFolder(const std::string& title) override;
    bool shellOpen(const std::string& target) override;
    void beep() override;
    void setBusy(bool busy) override;

    // "Description (*.a,*.b)|*.a;*.b" -> "Description (*.a *.b)", the form QFileDialog
    // understands.
    static QString qtFilter(const std::string& filter);

private:
    QPointer<QWidget> owner_;
};

} // namespace mbx::desktop
