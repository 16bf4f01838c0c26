#include "selection/handlers.h"

#include "selection/path_logger.h"
#include "selection/paths.h"

#include <algorithm>
#include <cctype>

namespace mbx::selection {

using desktop::Buttons;
using desktop::Icon;

std::size_t NamesThatFit(const std::string& folder, const std::vector<std::string>& names,
                         std::size_t bufferChars) {
    std::size_t used = folder.size() + 1 + 1; // folder, its NUL, the final NUL
    std::size_t fit = 0;
    for (const auto& name : names) {
        used += name.size() + 1;
        if (used > bufferChars) {
            break;
        }
        ++fit;
    }
    return fit;
}

void PickMailboxFiles(desktop::Desktop& desktop, MailboxList& list, const WindowHooks& hooks) {
    const desktop::OpenFilesResult chosen =
        desktop.openFiles({.filter = kMailboxFilter, .multiSelect = true});
    if (chosen.names.empty()) {
        return;
    }
    const std::size_t fit = NamesThatFit(chosen.folder, chosen.names, kFileNameBufferChars);
    if (fit < chosen.names.size()) {
        desktop.messageBox(kAppTitle,
                           "Please select only " + std::to_string(fit) + " files at a time",
                           Icon::Exclamation, Buttons::Ok);
        return;
    }
    hooks.setConvertEnabled(true);
    const std::string folder = paths::EnsureTrailingSeparator(chosen.folder);
    for (const auto& name : chosen.names) {
        list.AddMailboxRow(folder + name);
    }
}

void ClearMailboxes(desktop::Desktop& desktop, MailboxList& list) {
    list.makeCurrent(0);
    if (list.cellText(0).empty()) {
        return;
    }
    const auto answer =
        desktop.messageBox(kAppTitle, "Do you want to clear all the files in the list\r\n Proceed?",
                           Icon::Question, Buttons::YesNo);
    if (answer == desktop::Answer::Yes) {
        list.ClearMailboxList();
    }
}

bool LooksLikeMailbox(const std::string& path) {
    std::string s = path;
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return false;
    }
    s = s.substr(first, s.find_last_not_of(' ') - first + 1);
    const auto endsWith = [&s](std::string_view tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith(".mbox") || endsWith(".mbx");
}

void ScanFolderForMailboxes(desktop::Desktop& desktop, MailboxList& list,
                            const WindowHooks& hooks) {
    std::string folder = desktop.browseForFolder("Choose Source Folder...");
    if (folder.empty()) {
        return;
    }
    folder = paths::EnsureTrailingSeparator(folder);
    int added = 0;
    {
        desktop::BusyPointer busy(desktop);
        std::shared_ptr<pathLogger::TextList> found;
        {
            pathLogger logger;
            logger.PathLogInit();
            logger.fullFileNamesOnly(true);
            logger.LogPath(folder);
            found = logger.fullFileNames();
            logger.Terminate();
        }
        for (const auto& entry : found->items()) {
            hooks.yield();
            if (LooksLikeMailbox(entry)) {
                hooks.yield();
                list.AddMailboxRow(entry);
                ++added;
            }
        }
    }
    hooks.setConvertEnabled(added > 0);
    desktop.messageBox(kAppTitle, std::to_string(added) + " Files Added to List.", Icon::None,
                       Buttons::Ok);
}

} // namespace mbx::selection
