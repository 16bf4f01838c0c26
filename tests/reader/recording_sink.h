// A ReaderSink that records everything the reader reports, for the reader's tests.
#pragma once

#include "reader/mailbox_reader.h"

#include <string>
#include <string_view>
#include <vector>

namespace mbx::testing {

struct Warning {
    std::string text;
    desktop::Icon icon;
    std::string title;
    bool operator==(const Warning&) const = default;
};

class RecordingSink : public reader::ReaderSink {
public:
    int beeps = 0;
    std::vector<Warning> warnings;
    std::string surface; // since the last clear
    std::vector<int> progress;
    std::vector<std::string> happening;
    int yields = 0;
    int yieldsBeforeStop = -1; // < 0: never ask to stop
    bool shown = true;

    void beep() override { ++beeps; }
    void warning(const std::string& text, desktop::Icon icon, const std::string& title) override {
        warnings.push_back({text, icon, title});
    }
    void clearSurface() override { surface.clear(); }
    void writeSurface(std::string_view text) override { surface.append(text); }
    bool surfaceShown() const override { return shown; }
    void setProgressBar2(int value) override { progress.push_back(value); }
    void setLblHappening(const std::string& text) override { happening.push_back(text); }
    void setText1(const std::string&) override {}
    void focusText1() override {}
    bool yield() override {
        ++yields;
        return yieldsBeforeStop < 0 || yields <= yieldsBeforeStop;
    }
};

} // namespace mbx::testing
