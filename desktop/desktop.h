// The one seam between Mbxvane and everything modal or outside its window: message boxes, the
// file and folder dialogs, the shell's "open", the beep and the busy pointer. The window and the
// conversion engine talk only to this interface, so tests can replace it with a scripted fake.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mbx::desktop {

// The program's name, the caption of its message boxes.
inline constexpr char kAppTitle[] = "Mbxvane";

enum class Icon { None, Information, Exclamation, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct OpenFilesRequest {
    std::string filter; // "Description|*.a;*.b" (one entry)
    bool multiSelect = true;
};

// What a file-open dialog gave back: the folder the user chose in and the names chosen there,
// in the dialog's order. An empty `names` means the user cancelled.
struct OpenFilesResult {
    std::string folder;
    std::vector<std::string> names;
};

class Desktop {
public:
    virtual ~Desktop() = default;

    virtual Answer messageBox(const std::string& caption, const std::string& text, Icon icon,
                              Buttons buttons) = 0;
    virtual OpenFilesResult openFiles(const OpenFilesRequest& request) = 0;
    // The chosen folder as the platform gives it (no trailing separator except for a root),
    // or the empty text when the user cancelled.
    virtual std::string browseForFolder(const std::string& title) = 0;
    // Hands a document path or web address to the desktop. False when nothing could take it
    // (no program to open it with) or the target is empty; whether the program then shows it
    // is not known.
    virtual bool shellOpen(const std::string& target) = 0;
    virtual void beep() = 0;
    // Busy pointer for the whole application on (true) or back to normal (false).
    virtual void setBusy(bool busy) = 0;
};

// Restores the normal pointer however the scope is left.
class BusyPointer {
public:
    explicit BusyPointer(Desktop& desktop) : desktop_(desktop) { desktop_.setBusy(true); }
    ~BusyPointer() { desktop_.setBusy(false); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    Desktop& desktop_;
};

} // namespace mbx::desktop
