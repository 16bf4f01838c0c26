// What the list's three buttons do: pick files, scan a folder, clear the list. The window passes
// its list, the desktop seam and small callbacks, so these run the same under a test's fake.
#pragma once

#include "desktop/desktop.h"
#include "selection/folder_scan.h"
#include "selection/mailbox_list.h"

#include <functional>
#include <string>
#include <vector>

namespace mbx::selection {

inline constexpr char kMailboxFilter[] = "Eudora Mailboxes (*.mbx,*.mbox)|*.mbx;*.mbox";
inline constexpr std::size_t kFileNameBufferChars = 1000;

// How many of the names fit in a file dialog's result buffer of `bufferChars` characters, the
// result laid out as the platform returns a multiple selection: folder, NUL, each name followed
// by NUL, a final NUL. Returns names.size() when all fit.
std::size_t namesThatFit(const std::string& folder, const std::vector<std::string>& names,
                         std::size_t bufferChars);

struct WindowHooks {
    std::function<void(bool)> setConvertEnabled;
    std::function<void()> yield; // let the window handle pending events
};

void pickMailboxFiles(desktop::Desktop& desktop, MailboxList& list, const WindowHooks& hooks);
void clearMailboxes(desktop::Desktop& desktop, MailboxList& list);
void scanFolderForMailboxes(desktop::Desktop& desktop, MailboxList& list, const WindowHooks& hooks);

} // namespace mbx::selection
