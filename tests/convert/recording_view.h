// A RunView that records every value the run reports, in order, and fake mail-store steps.
#pragma once

#include "convert/conversion_run.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace mbx::testing {

inline const char* LabelName(convert::Label label) {
    switch (label) {
    case convert::Label::LblHappening:
        return "LblHappening";
    case convert::Label::LblProgessCurrent:
        return "LblProgessCurrent";
    case convert::Label::LblIMMFile:
        return "LblIMMFile";
    case convert::Label::LblEmlsFound:
        return "LblEmlsFound";
    case convert::Label::LblProgress:
        return "LblProgress";
    }
    return "?";
}

class RecordingView : public convert::RunView {
public:
    std::vector<std::string> events;
    std::vector<float> bar1;
    int yields = 0;
    int yieldsBeforeEnding = -1; // < 0: the program never ends
    std::function<void()> onFirstLabel;

    void setLabel(convert::Label label, const std::string& text) override {
        if (onFirstLabel) {
            auto f = std::move(onFirstLabel);
            onFirstLabel = nullptr;
            f();
        }
        events.push_back(std::string(LabelName(label)) + "=" + text);
    }
    void setByteUpdate(std::uint64_t soFar, std::uint64_t total) override {
        events.push_back("Saving: " + std::to_string(soFar) + " Bytes out of " +
                         std::to_string(total) + " Total Bytes.");
    }
    void setBarRange(convert::Bar bar, int minimum, int maximum) override {
        events.push_back(
            std::string(bar == convert::Bar::ProgressBar1 ? "ProgressBar1" : "ProgressBar2") +
            " range " + std::to_string(minimum) + ".." + std::to_string(maximum));
    }
    void setBarValue(convert::Bar bar, float value) override {
        if (bar == convert::Bar::ProgressBar1) {
            bar1.push_back(value);
            events.push_back("ProgressBar1");
        } else {
            events.push_back("ProgressBar2=" + std::to_string(static_cast<int>(value)));
        }
    }
    void setCurrentRow(int row) override { events.push_back("row " + std::to_string(row)); }
    void setConvertEnabled(bool enabled) override {
        events.push_back(enabled ? "Convert on" : "Convert off");
    }
    void clearFormats() override { events.push_back("formats cleared"); }
    bool yield() override {
        ++yields;
        return yieldsBeforeEnding < 0 || yields <= yieldsBeforeEnding;
    }

    // The events without the per-match search progress, which tests check separately.
    std::vector<std::string> Steps() const {
        std::vector<std::string> out;
        for (const auto& e : events) {
            if (e.rfind("ProgressBar2=", 0) != 0 &&
                e.rfind("LblHappening=Searching for messages", 0) != 0) {
                out.push_back(e);
            }
        }
        return out;
    }
};

// Mail-store steps that record their calls and, like the real ones, delete the imported file.
class FakeSteps : public convert::StoreSteps {
public:
    std::vector<std::string> calls;
    bool failOpen = false;
    int openFailsAt = -1; // the OpenMailboxStore call (0-based) that fails
    int opens = 0;

    bool OpenRunStore(const std::string& root) override {
        calls.push_back("OpenRunStore " + root);
        return !failOpen;
    }
    bool OpenMailboxStore(const std::string& root, const std::string& name) override {
        calls.push_back("OpenMailboxStore " + root + " " + name);
        return !failOpen && opens++ != openFailsAt;
    }
    void AddMailboxFolder(const std::string& name) override {
        calls.push_back("AddMailboxFolder " + name);
    }
    void ImportMessage(const std::string& eml, const std::string& folder,
                       std::uint64_t k) override {
        const bool existed = std::filesystem::exists(eml);
        std::filesystem::remove(eml);
        calls.push_back("ImportMessage " + eml + " " + folder + " " + std::to_string(k) +
                        (existed ? "" : " (missing)"));
    }
    void CloseStore() override { calls.push_back("CloseStore"); }
};

} // namespace mbx::testing
