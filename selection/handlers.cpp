#include "selection/handlers.h"

#include "selection/path_logger.h"
#include "selection/paths.h"

namespace mbx::selection {

using desktop::Buttons;
using desktop::Icon;

std::size_t namesThatFit(const std::string& folder, const std::vector<std::string>& names,
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

void pickMailboxFiles(desktop::Desktop& desktop, MailboxList& list, const WindowHooks& hooks) {
    const desktop::OpenFilesResult chosen =
        desktop.openFiles({.filter = kMailboxFilter, .multiSelect = true});
    if (chosen.names.empty()) {
        return;
    }
    const std::size_t fit = namesThatFit(chosen.folder, chosen.names, kFileNameBufferChars);
    if (fit < chosen.names.size()) {
        desktop.messageBox(desktop::kAppTitle,
                           "Please select only " + std::to_string(fit) + " files at a time",
                           Icon::Exclamation, Buttons::Ok);
        return;
    }
    hooks.setConvertEnabled(true);
    const std::string folder = paths::ensureTrailingSeparator(chosen.folder);
    for (const auto& name : chosen.names) {
        list.addRow(folder + name);
    }
}

void clearMailboxes(desktop::Desktop& desktop, MailboxList& list) {
    if (list.isEmpty()) {
        return;
    }
    list.makeCurrent(0);
    const auto answer = desktop.messageBox(
        desktop::kAppTitle, "Do you want to clear all the files in the list\r\n Proceed?",
        Icon::Question, Buttons::YesNo);
    if (answer == desktop::Answer::Yes) {
        list.clear();
    }
}

void scanFolderForMailboxes(desktop::Desktop& desktop, MailboxList& list,
                            const WindowHooks& hooks) {
    std::string folder = desktop.browseForFolder("Choose Source Folder...");
    if (folder.empty()) {
        return;
    }
    folder = paths::ensureTrailingSeparator(folder);
    int added = 0;
    {
        desktop::BusyPointer busy(desktop);
        std::shared_ptr<PathLogger::TextList> found;
        {
            PathLogger logger;
            logger.init();
            logger.fullFileNamesOnly(true);
            logger.logPath(folder);
            found = logger.fullFileNames();
            logger.terminate();
        }
        for (const auto& entry : found->items()) {
            hooks.yield();
            if (isMailboxFile(entry)) {
                hooks.yield();
                list.addRow(entry);
                ++added;
            }
        }
    }
    hooks.setConvertEnabled(added > 0);
    desktop.messageBox(desktop::kAppTitle, std::to_string(added) + " Files Added to List.",
                       Icon::None, Buttons::Ok);
}

} // namespace mbx::selection
