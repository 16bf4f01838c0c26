// The engine on a thread of its own, as in Qt's threaded examples: the thread runs one
// conversion and sends its progress to the window as queued signals carrying the engine's
// typed events, gathered into batches between two of the engine's yields (about every 30 ms), so
// a fast run does not flood the window's event queue. The window cancels through the engine's
// flag (requestStop) and waits for the thread; nothing of the desktop is used on this thread.
#pragma once

#include "convert/engine.h"
#include "convert/targets.h"

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace mbx::app {

struct SearchStarted {};
struct MailboxProblem {
    convert::MailboxProblem problem{};
    std::uint64_t size = 0;
};
using ProgressEvent = std::variant<convert::MailboxStarted, SearchStarted, convert::SearchProgress,
                                   MailboxProblem, convert::MessagesFound, convert::BytesRead,
                                   convert::MessageDone, convert::MailboxFinished>;
using ProgressBatch = std::vector<ProgressEvent>;

class ConversionThread : public QThread {
    Q_OBJECT
public:
    ConversionThread(convert::RunRequest request, std::string outputRoot,
                     convert::RunOptions options, QObject* parent = nullptr);
    ~ConversionThread() override; // stops the run and waits for it

    // Asks the run to stop after the current message; from any thread.
    void requestStop();
    // The window has shown the boxes of the last `problemFound`; the run goes on.
    void problemShown();
    // The engine's account, once the thread has finished.
    const convert::RunResult& result() const { return result_; }

    // Test seam: called on this thread after each message, before the run goes on.
    std::function<void(const convert::MessageDone&)> afterMessage;
    // For afterMessage: blocks until requestStop() has been called.
    void waitForStopRequest();

signals:
    void progressed(const mbx::app::ProgressBatch& events);

protected:
    void run() override;

private:
    class Observer;

    convert::RunRequest request_;
    std::string outputRoot_;
    convert::RunOptions options_;
    std::unique_ptr<convert::StoreTarget> store_;
    convert::RunResult result_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable problemDone_;
    bool problemPending_ = false;
};

} // namespace mbx::app

Q_DECLARE_METATYPE(mbx::app::ProgressBatch)
