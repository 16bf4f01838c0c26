#include "app/conversion_thread.h"

#include "convert/store_target.h"

namespace mbx::app {

// Gathers the engine's events and sends them at each yield; a mailbox problem is sent at once
// and the run waits until the window has shown its boxes (or the run is stopped).
class ConversionThread::Observer : public convert::ProgressObserver {
public:
    explicit Observer(ConversionThread& thread) : thread_(thread) {}

    void mailboxStarted(const convert::MailboxStarted& e) override { batch_.emplace_back(e); }
    void searchStarted() override { batch_.emplace_back(SearchStarted{}); }
    void searchProgress(const convert::SearchProgress& e) override { batch_.emplace_back(e); }
    void messagesFound(const convert::MessagesFound& e) override { batch_.emplace_back(e); }
    void bytesRead(const convert::BytesRead& e) override { batch_.emplace_back(e); }
    void messageDone(const convert::MessageDone& e) override {
        batch_.emplace_back(e);
        if (thread_.afterMessage) {
            send();
            thread_.afterMessage(e);
        }
    }
    void mailboxFinished(const convert::MailboxFinished& e) override { batch_.emplace_back(e); }
    void mailboxProblem(convert::MailboxProblem problem, std::uint64_t size) override {
        {
            std::lock_guard lock(thread_.mutex_);
            thread_.problemPending_ = true;
        }
        batch_.emplace_back(MailboxProblem{problem, size});
        send();
        std::unique_lock lock(thread_.mutex_);
        thread_.problemDone_.wait(lock, [this] {
            return !thread_.problemPending_ || thread_.stop_.load(std::memory_order_relaxed);
        });
    }
    bool yield() override {
        send();
        return !thread_.stop_.load(std::memory_order_relaxed);
    }

    void send() {
        if (!batch_.empty()) {
            emit thread_.progressed(batch_);
            batch_.clear();
        }
    }

private:
    ConversionThread& thread_;
    ProgressBatch batch_;
};

ConversionThread::ConversionThread(convert::RunRequest request, std::string outputRoot,
                                   convert::RunOptions options, QObject* parent)
    : QThread(parent), request_(std::move(request)), outputRoot_(std::move(outputRoot)),
      options_(options), store_(convert::makeStoreTarget(request_.format)) {
    qRegisterMetaType<ProgressBatch>();
    options_.cancel = &stop_;
}

ConversionThread::~ConversionThread() {
    requestStop();
    wait();
}

void ConversionThread::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_.store(true);
    }
    stop_.notify_all();
    problemDone_.notify_all();
}

void ConversionThread::problemShown() {
    {
        std::lock_guard lock(mutex_);
        problemPending_ = false;
    }
    problemDone_.notify_all();
}

void ConversionThread::waitForStopRequest() {
    stop_.wait(false);
}

void ConversionThread::run() {
    Observer observer(*this);
    convert::Engine engine(observer, store_.get(), options_);
    result_ = engine.run(request_, outputRoot_);
    observer.send();
    // A data file still open is completed here, on this thread, before the window hears of the end.
    store_.reset();
}

} // namespace mbx::app
