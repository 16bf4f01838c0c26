// Messages parsed on worker threads and handed back in the order they were submitted. The
// messages in flight are bounded in number and in bytes, so memory stays bounded whatever the
// mailbox size.
#pragma once

#include "convert/targets.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace mbx::convert {

class FaultHooks;

class Pipeline {
public:
    struct Done {
        std::uint64_t index = 0;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;                  // of the message in the mailbox
        bool last = false;                         // the mailbox's last message
        std::unique_ptr<PreparedMessage> prepared; // null on failure
        std::string error;
        bool deviceFull = false;
        std::size_t worker = 0; // the worker that prepared it, which also frees it (retire)
    };

    // `workers` 0 prepares each message inside submit().
    Pipeline(const StoreTarget& target, int workers, FaultHooks* faults);
    ~Pipeline(); // waits for the messages being prepared; the others are dropped
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    bool full() const;
    bool empty() const;
    void submit(MessageJob job, std::uint64_t length, bool last);
    // The oldest message once it is prepared (waits for it); nothing when none is in flight.
    std::optional<Done> take();
    // Hands a taken message back once it is stored: the worker that prepared it frees it with its
    // next message, so the writing thread neither spends its time on that nor returns memory to
    // the allocator's pool of another thread.
    void retire(Done done);
    // Forgets the messages no worker has begun; those being prepared are still handed back.
    void dropWaiting();

private:
    struct Slot {
        MessageJob job;
        Done done;
        bool ready = false;
        std::uint64_t bytes = 0; // of the message's text, counted while it is in flight
    };
    void prepare(Slot& slot) const;
    void work(std::size_t worker);

    const StoreTarget& target_;
    FaultHooks* faults_;
    std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable jobsReady_;
    std::condition_variable slotReady_;
    std::deque<std::shared_ptr<Slot>> inOrder_;
    std::deque<std::shared_ptr<Slot>> waiting_;
    // Per worker: the messages it prepared that have been stored, to be freed by it.
    std::vector<std::vector<std::unique_ptr<PreparedMessage>>> retired_;
    std::uint64_t bytes_ = 0;
    bool stopping_ = false;
    // A message found the output device full: no worker begins another one (the engine stops
    // at that message and drops the rest).
    bool deviceFull_ = false;
    std::vector<std::thread> threads_;
};

} // namespace mbx::convert
