// The window's view of a run without the window: records every value it would show, in order,
// named after the controls that show them, and a fake store target.
#pragma once

#include "app/progress_view.h"
#include "convert/conversion_run.h"
#include "convert/targets.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace mbx::testing {

class RecordingView : public app::ProgressView {
public:
    std::vector<std::string> events;
    std::vector<float> bar1;
    int yields = 0;
    std::function<void()> onFirstLabel;

    void runStarted() override {
        events.push_back("Convert off");
        events.push_back("ProgressBar1 range 0..100");
    }
    void showStatus(app::StatusLine line, const std::string& text) override {
        if (onFirstLabel) {
            auto f = std::move(onFirstLabel);
            onFirstLabel = nullptr;
            f();
        }
        static const char* const kNames[] = {"LblHappening", "LblProgessCurrent", "LblIMMFile",
                                             "LblEmlsFound", "LblProgress"};
        events.push_back(std::string(kNames[static_cast<int>(line)]) + "=" + text);
    }
    void showBytes(std::uint64_t soFar, std::uint64_t total) override {
        events.push_back("Saving: " + std::to_string(soFar) + " Bytes out of " +
                         std::to_string(total) + " Total Bytes.");
    }
    void showSearchStarted() override { events.push_back("ProgressBar2 range 0..100"); }
    void showSearchPercent(int percent) override {
        events.push_back("ProgressBar2=" + std::to_string(percent));
    }
    void showListPercent(float percent) override {
        bar1.push_back(percent);
        events.push_back("ProgressBar1");
    }
    void showRow(int row) override { events.push_back("row " + std::to_string(row)); }
    void runEnded() override {
        events.push_back("Convert on");
        events.push_back("formats cleared");
    }
    bool yield() override {
        ++yields;
        return true;
    }

    // The events without the per-match search progress, which tests check separately.
    std::vector<std::string> steps() const {
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

// A target that parses messages and records what reaches it, in order. Like .pst, it opens a
// data file per mailbox whose messages count once stored and are lost with it.
class FakeStore : public convert::StoreTarget {
public:
    std::vector<std::string> calls;
    int openFailsAt = -1;         // the data file (0-based) that cannot be created
    int commitFailsAt = -1;       // the message (0-based, over the run) the data file refuses
    std::error_code discardError; // what removing a lost data file runs into

    struct Prepared : convert::PreparedMessage {
        std::string text;
    };

    Flow flow() const override { return Flow::Prepare; }
    void beginRun(const std::string& root) override { calls.push_back("beginRun " + root); }
    void beginMailbox(const std::string& root, const convert::MailboxPlace& place) override {
        calls.push_back("beginMailbox " + root + " " + place.name);
        open_ = opens_++ != openFailsAt;
        stored_ = 0;
        if (!open_) {
            throw convert::TargetError(convert::TargetError::Scope::Store, "refused");
        }
    }
    bool acceptsMessages() const override { return open_; }
    std::unique_ptr<convert::PreparedMessage>
    prepare(const convert::MessageJob& job) const override {
        auto p = std::make_unique<Prepared>();
        p->text = "commit " + job.mailboxFolder + " " + std::to_string(job.index) + " " +
                  std::to_string(job.bytes.size());
        return p;
    }
    bool commit(convert::PreparedMessage& message) override {
        calls.push_back(static_cast<Prepared&>(message).text);
        if (commits_++ == commitFailsAt) {
            throw convert::TargetError(convert::TargetError::Scope::Store, "refused");
        }
        stored_ += open_ ? 1 : 0;
        return open_;
    }
    void endMailbox(convert::FaultHooks*) override { close("endMailbox"); }
    void endRun(convert::FaultHooks*) override { close("endRun"); }
    Discarded discardStore() override {
        calls.push_back("discardStore");
        const bool wasOpen = open_;
        open_ = false;
        return wasOpen ? Discarded{"fake.pst", discardError, stored_, false} : Discarded{};
    }

private:
    void close(const char* call) {
        calls.push_back(call);
        open_ = false;
    }
    bool open_ = false;
    int opens_ = 0;
    int commits_ = 0;
    std::uint64_t stored_ = 0;
};

} // namespace mbx::testing
