// Scripted stand-in for the desktop seam: records every box and dialog, answers from a script.
#pragma once

#include "desktop/desktop.h"

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace mbx::testing {

struct RecordedBox {
    std::string caption;
    std::string text;
    desktop::Icon icon;
    desktop::Buttons buttons;
};

class FakeDesktop : public desktop::Desktop {
public:
    // Scripts, consumed in order. A box whose answer was not scripted gets Ok (or No for Yes/No).
    std::deque<desktop::Answer> answers;
    std::deque<desktop::OpenFilesResult> fileChoices;
    std::deque<std::string> folderChoices;

    // Records.
    std::vector<RecordedBox> boxes;
    std::vector<std::string> folderTitles;
    std::vector<desktop::OpenFilesRequest> fileRequests;
    std::vector<std::string> opened;
    int beeps = 0;
    int busyDepth = 0;
    std::vector<bool> busyChanges;

    desktop::Answer messageBox(const std::string& caption, const std::string& text,
                               desktop::Icon icon, desktop::Buttons buttons) override {
        boxes.push_back({caption, text, icon, buttons});
        if (!answers.empty()) {
            auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == desktop::Buttons::YesNo ? desktop::Answer::No : desktop::Answer::Ok;
    }
    desktop::OpenFilesResult openFiles(const desktop::OpenFilesRequest& request) override {
        fileRequests.push_back(request);
        if (fileChoices.empty()) {
            return {};
        }
        auto r = fileChoices.front();
        fileChoices.pop_front();
        return r;
    }
    std::string browseForFolder(const std::string& title) override {
        folderTitles.push_back(title);
        if (folderChoices.empty()) {
            return {};
        }
        auto f = folderChoices.front();
        folderChoices.pop_front();
        return f;
    }
    bool shellOpen(const std::string& target) override {
        opened.push_back(target);
        return true;
    }
    void beep() override { ++beeps; }
    void setBusy(bool busy) override {
        busyDepth += busy ? 1 : -1;
        busyChanges.push_back(busy);
    }
};

} // namespace mbx::testing
