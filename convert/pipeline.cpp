#include "convert/pipeline.h"

#include "convert/faults.h"

#include <algorithm>

namespace mbx::convert {

namespace {
// Messages in flight: enough that the workers still have work queued when the writing thread
// is held up (a long message at the head of the queue, a scheduler time slice given to another
// thread: a few milliseconds, dozens of typical messages), bounded by their bytes so that a run
// of large messages stays small.
constexpr std::size_t kMessagesPerWorker = 256;
constexpr std::uint64_t kBytesInFlight = 16 << 20;
// Workers that have run out of messages are woken once this many wait (or when the writing
// thread would otherwise wait for one not begun): woken for each message, a worker slept and woke
// again for each, a futex call and a context switch per message.
constexpr std::size_t kWakeAfter = 16;
} // namespace

Pipeline::Pipeline(const StoreTarget& target, int workers, FaultHooks* faults)
    : target_(target), faults_(faults),
      capacity_(kMessagesPerWorker * static_cast<std::size_t>(std::max(workers, 0)) + 2),
      retired_(static_cast<std::size_t>(std::max(workers, 0))) {
    for (std::size_t i = 0; i < retired_.size(); ++i) {
        threads_.emplace_back([this, i] { work(i); });
    }
}

Pipeline::~Pipeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    jobsReady_.notify_all();
    for (auto& t : threads_) {
        t.join();
    }
}

bool Pipeline::full() const {
    std::lock_guard lock(mutex_);
    return inOrder_.size() >= capacity_ || (!inOrder_.empty() && bytes_ >= kBytesInFlight);
}

bool Pipeline::empty() const {
    std::lock_guard lock(mutex_);
    return inOrder_.empty();
}

void Pipeline::prepare(Slot& slot) const {
    try {
        if (faults_ != nullptr) {
            faults_->beforeImport(slot.job);
        }
        slot.done.prepared = target_.prepare(slot.job);
    } catch (const TargetError& e) {
        slot.done.error = e.what();
        slot.done.deviceFull = e.scope() == TargetError::Scope::Device;
    } catch (const std::exception& e) {
        slot.done.error = e.what();
    }
    // The bytes are not needed any more; free them before the message waits for its turn.
    std::string().swap(slot.job.bytes);
}

void Pipeline::submit(MessageJob job, std::uint64_t length, bool last) {
    auto slot = std::make_shared<Slot>();
    slot->done.index = job.index;
    slot->done.offset = job.offset;
    slot->done.length = length;
    slot->done.last = last;
    slot->bytes = job.bytes.size();
    slot->job = std::move(job);
    if (threads_.empty()) {
        bytes_ += slot->bytes;
        prepare(*slot);
        slot->ready = true;
        inOrder_.push_back(std::move(slot));
        return;
    }
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        bytes_ += slot->bytes;
        inOrder_.push_back(slot);
        waiting_.push_back(std::move(slot));
        wake = waiting_.size() >= kWakeAfter || last;
    }
    if (wake) {
        jobsReady_.notify_all();
    }
}

void Pipeline::work(std::size_t worker) {
    std::vector<std::unique_ptr<PreparedMessage>> retired;
    while (true) {
        std::shared_ptr<Slot> slot;
        {
            std::unique_lock lock(mutex_);
            jobsReady_.wait(lock,
                            [this] { return stopping_ || (!deviceFull_ && !waiting_.empty()); });
            if (stopping_) {
                return;
            }
            slot = std::move(waiting_.front());
            waiting_.pop_front();
            retired.swap(retired_[worker]);
        }
        retired.clear();
        slot->done.worker = worker;
        prepare(*slot);
        bool first = false;
        {
            std::lock_guard lock(mutex_);
            slot->ready = true;
            deviceFull_ = deviceFull_ || slot->done.deviceFull;
            first = !inOrder_.empty() && inOrder_.front() == slot;
        }
        // take() waits for the oldest message only: waking it for another one would be in vain.
        if (first) {
            slotReady_.notify_all();
        }
    }
}

void Pipeline::dropWaiting() {
    std::lock_guard lock(mutex_);
    // Workers begin messages in the order they were submitted: those not begun are the last ones.
    for (const auto& slot : waiting_) {
        bytes_ -= slot->bytes;
    }
    inOrder_.resize(inOrder_.size() - waiting_.size());
    waiting_.clear();
}

std::optional<Pipeline::Done> Pipeline::take() {
    std::unique_lock lock(mutex_);
    if (inOrder_.empty()) {
        return std::nullopt;
    }
    if (!inOrder_.front()->ready && !waiting_.empty()) {
        jobsReady_.notify_all(); // the messages held back for a batch are wanted now
    }
    slotReady_.wait(lock, [this] { return inOrder_.front()->ready; });
    auto slot = std::move(inOrder_.front());
    inOrder_.pop_front();
    bytes_ -= slot->bytes;
    return std::move(slot->done);
}

void Pipeline::retire(Done done) {
    if (threads_.empty() || !done.prepared) {
        return;
    }
    std::lock_guard lock(mutex_);
    retired_[done.worker].push_back(std::move(done.prepared));
}

} // namespace mbx::convert
