#include "convert/engine.h"

#include "convert/faults.h"
#include "convert/pipeline.h"
#include "convert/targets.h"
#include "platform/file.h"
#include "scanner/separator_search.h"
#include "selection/paths.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <system_error>
#include <thread>

namespace mbx::convert {

namespace {

using Clock = std::chrono::steady_clock;

std::string trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// Deletes every occurrence of `what`, left to right in one pass (pieces that meet after a
// deletion are not looked at again).
std::string deleteAll(std::string_view text, std::string_view what) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const auto hit = text.find(what, pos);
        if (hit == std::string_view::npos) {
            out.append(text.substr(pos));
            return out;
        }
        out.append(text.substr(pos, hit - pos));
        pos = hit + what.size();
    }
}

} // namespace

bool isDeviceFull(const std::error_code& error) {
    if (error == std::errc::no_space_on_device) {
        return true;
    }
#ifdef EDQUOT
    if (error.default_error_condition() == std::error_condition(EDQUOT, std::generic_category())) {
        return true;
    }
#endif
    return false;
}

std::string mailboxNameOf(const std::string& mailboxFileName) {
    const auto once = deleteAll(trimSpaces(mailboxFileName), ".mbox");
    return deleteAll(trimSpaces(once), ".MBOX");
}

std::string mailboxFolderOf(const std::string& outputRoot, const std::string& mailboxPath) {
#ifdef _WIN32
    // Drive paths lose "C:\"; a network path loses its two backslashes and a letter as well.
    const std::string_view rest =
        mailboxPath.size() > 3 ? std::string_view(mailboxPath).substr(3) : std::string_view();
#else
    std::string_view rest(mailboxPath);
    if (!rest.empty() && rest.front() == '/') {
        rest.remove_prefix(1);
    }
#endif
    return outputRoot + std::string(rest);
}

std::uint64_t RunResult::found() const {
    std::uint64_t n = 0;
    for (const auto& m : mailboxes) {
        n += m.found;
    }
    return n;
}

std::uint64_t RunResult::written() const {
    std::uint64_t n = 0;
    for (const auto& m : mailboxes) {
        n += m.written;
    }
    return n;
}

std::uint64_t RunResult::verified() const {
    std::uint64_t n = 0;
    for (const auto& m : mailboxes) {
        n += m.verified;
    }
    return n;
}

// One run. Cancellation latches: once asked to stop, the observer is not asked again.
class Engine::Impl : private ExtractObserver, private scanner::SearchObserver {
public:
    Impl(ProgressObserver& observer, StoreTarget* target, const RunOptions& options)
        : observer_(observer), target_(target), options_(options) {
        workers_ = options.workers >= 0
                       ? options.workers
                       : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    }

    RunResult run(const RunRequest& request, const std::string& outputRoot);

private:
    // ExtractObserver
    void byteUpdate(std::uint64_t soFar, std::uint64_t total) override {
        observer_.bytesRead({soFar, total});
    }
    bool yield() override { return yieldToObserver(); }
    // SearchObserver
    void matchFound(std::uint64_t offset, std::uint64_t found, std::uint64_t fileSize) override {
        yieldToObserver();
        // Round half to even, as the progress value has always been rounded.
        const double percent = static_cast<double>(offset) / static_cast<double>(fileSize) * 100.0;
        observer_.searchProgress({static_cast<int>(std::nearbyint(percent)), found});
    }
    bool keepGoing() override { return yieldToObserver(); }

    bool yieldToObserver(bool force = false) {
        if (stopping_) {
            return false;
        }
        if (options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed)) {
            stopping_ = true;
            return false;
        }
        const auto now = Clock::now();
        if (!force && now - lastYield_ < options_.yieldInterval) {
            return true;
        }
        lastYield_ = now;
        if (!observer_.yield()) {
            stopping_ = true;
        }
        return !stopping_;
    }
    bool stopping() {
        if (!stopping_ && options_.cancel != nullptr &&
            options_.cancel->load(std::memory_order_relaxed)) {
            stopping_ = true;
        }
        return stopping_;
    }

    void fail(const std::string& mailbox, std::optional<std::uint64_t> index, std::uint64_t offset,
              std::string reason) {
        result_.failures.push_back({mailbox, index, offset, std::move(reason)});
    }
    void dataFileLost(const std::string& mailbox, const TargetError& error);
    // Takes what the target's read-backs found into the result; `mailbox` for what names none.
    void collectVerification(const std::string& mailbox);
    void closeDataFile(const std::string& mailbox, void (StoreTarget::*close)(FaultHooks*));
    void streamMessages(const std::string& path, const std::string& folder,
                        const scanner::SearchResult& found);
    void storeMessages(const std::string& path, const std::string& folder,
                       const scanner::SearchResult& found,
                       const std::vector<std::string>& attachmentFolders);
    void drain(Pipeline& pipeline, const std::string& path, std::uint64_t mailboxSize);
    // `stopped`: the run is ending and the message is not stored, only counted when its own
    // file is complete.
    void commit(Pipeline& pipeline, Pipeline::Done done, const std::string& path,
                std::uint64_t mailboxSize, bool stopped = false);
    // Starts writing the message files out to the disk, and waits until they are there (a
    // failure is the run's).
    std::future<int> startFlush();
    void endFlush(std::future<int> flushing);
    RunResult finish(RunResult::Outcome outcome);

    ProgressObserver& observer_;
    StoreTarget* target_;
    RunOptions options_;
    int workers_ = 0;
    RunResult result_;
    Clock::time_point lastYield_{};
    bool stopping_ = false;
    bool deviceFull_ = false;
    MailboxResult* mailbox_ = nullptr;
    // The file system the message files go to, for the formats that write them.
    std::unique_ptr<platform::FileSystemFlush> flush_;
    // The mailbox whose data file may be open (between beginMailbox and endMailbox), for the
    // failures of closing it.
    std::string openMailbox_;
};

void Engine::Impl::dataFileLost(const std::string& mailbox, const TargetError& error) {
    deviceFull_ = deviceFull_ || error.scope() == TargetError::Scope::Device;
    const auto discarded = target_->discardStore();
    if (discarded.path.empty()) {
        fail(mailbox, std::nullopt, 0, error.what());
        return;
    }
    std::string text =
        "the Outlook data file " + discarded.path + " could not be written (" + error.what() +
        (discarded.removal ? "); it could not be removed either (" + discarded.removal.message() +
                                 "): the file left there is incomplete"
                           : std::string("); it has been removed"));
    if (discarded.messagesLost) {
        text += " with the " + std::to_string(*discarded.messagesLost) +
                " message(s) written to it" +
                (discarded.wholeRun ? std::string(" from every mailbox so far") : std::string());
        if (discarded.wholeRun) {
            // Every message counted so far lived in it.
            for (auto& m : result_.mailboxes) {
                m.written = 0;
            }
        } else if (mailbox_ != nullptr) {
            mailbox_->written -= std::min(mailbox_->written, *discarded.messagesLost);
        }
    }
    fail(mailbox, std::nullopt, 0, text);
}

void Engine::Impl::closeDataFile(const std::string& mailbox,
                                 void (StoreTarget::*close)(FaultHooks*)) {
    try {
        (target_->*close)(options_.faults);
    } catch (const TargetError& e) {
        dataFileLost(mailbox, e);
    } catch (const std::exception& e) {
        dataFileLost(mailbox, TargetError(TargetError::Scope::Store, e.what()));
    }
    collectVerification(mailbox);
}

void Engine::Impl::collectVerification(const std::string& mailbox) {
    auto found = target_->takeVerification();
    if (found.empty()) {
        return;
    }
    for (const auto& [path, count] : found.verified) {
        const auto& name = path.empty() ? mailbox : path;
        // The mailbox being converted, else the latest row of that path.
        MailboxResult* into = mailbox_ != nullptr && mailbox_->path == name ? mailbox_ : nullptr;
        for (auto it = result_.mailboxes.rbegin();
             into == nullptr && it != result_.mailboxes.rend(); ++it) {
            if (it->path == name) {
                into = &*it;
            }
        }
        if (into != nullptr) {
            into->verified += count;
        }
    }
    for (auto& m : found.mismatches) {
        if (m.mailbox.empty()) {
            m.mailbox = mailbox;
        }
        result_.failures.push_back(std::move(m));
    }
}

void Engine::Impl::streamMessages(const std::string& path, const std::string& folder,
                                  const scanner::SearchResult& found) {
    const std::span<const std::uint64_t> offsets(found.offsets);
    MailboxFile mailbox(options_.copyBlockSize);
    const bool readable = offsets.empty() || mailbox.open(path, found.fileSize);
    if (!readable) {
        fail(path, std::nullopt, 0,
             "the mailbox could not be read again: " + std::string(std::strerror(mailbox.error())));
    }
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        if (readable) {
            auto text = readMessageText(mailbox, offsets, k, this);
            const auto w = target_->writeMessage(folder, k, text, options_.faults);
            if (w.status == WriteResult::Status::Written) {
                ++mailbox_->written;
                collectVerification(path);
            } else if (w.status == WriteResult::Status::Failed) {
                fail(path, k, text.beginOffset(), w.reason);
                if (isDeviceFull({w.error, std::generic_category()})) {
                    deviceFull_ = true;
                    return;
                }
            }
            if (stopping()) {
                return;
            }
            observer_.messageDone({k, w.status == WriteResult::Status::Written, mailbox_->written});
            continue;
        }
        if (stopping()) {
            return;
        }
        observer_.messageDone({k, false, mailbox_->written});
    }
}

void Engine::Impl::commit(Pipeline& pipeline, Pipeline::Done done, const std::string& path,
                          std::uint64_t mailboxSize, bool stopped) {
    const auto writtenBefore = mailbox_->written;
    if (!done.prepared) {
        fail(path, done.index, done.offset, done.error);
        deviceFull_ = deviceFull_ || done.deviceFull;
    } else {
        bool written = false;
        try {
            written = stopped ? target_->abandon(*done.prepared) : target_->commit(*done.prepared);
        } catch (const TargetError& e) {
            if (e.scope() == TargetError::Scope::Message) {
                fail(path, done.index, done.offset, e.what());
            } else {
                dataFileLost(path, e);
                written = target_->acceptsMessages();
            }
        } catch (const std::exception& e) {
            fail(path, done.index, done.offset, e.what());
        }
        if (written) {
            ++mailbox_->written;
        }
        for (auto& note : done.prepared->notes) {
            result_.notes.push_back({path, done.index, done.offset, std::move(note)});
        }
        collectVerification(path);
    }
    // The bytes-so-far values the message's reading passed, shown as it is saved.
    const auto lastLabel = lastByteLabel(done.length, done.last);
    for (std::uint64_t v = kLabelChunk; v <= lastLabel; v += kLabelChunk) {
        observer_.bytesRead({v, mailboxSize});
    }
    observer_.messageDone({done.index, mailbox_->written > writtenBefore, mailbox_->written});
    pipeline.retire(std::move(done));
}

// After a stop or a full device: nothing more is stored, but the messages being prepared are
// finished, so that every message file they wrote is counted; those not begun are dropped.
void Engine::Impl::drain(Pipeline& pipeline, const std::string& path, std::uint64_t mailboxSize) {
    pipeline.dropWaiting();
    while (auto done = pipeline.take()) {
        commit(pipeline, std::move(*done), path, mailboxSize, true);
    }
}

void Engine::Impl::storeMessages(const std::string& path, const std::string& folder,
                                 const scanner::SearchResult& found,
                                 const std::vector<std::string>& attachmentFolders) {
    const std::span<const std::uint64_t> offsets(found.offsets);
    const auto plan =
        target_->planMailbox({path, folder, attachmentFolders, offsets, found.fileSize});
    if (plan) {
        mailbox_->summary = plan->summary;
        for (const auto& note : plan->notes) {
            result_.notes.push_back({path, std::nullopt, 0, note});
        }
    }
    MailboxFile mailbox(options_.copyBlockSize);
    const bool readable = offsets.empty() || mailbox.open(path, found.fileSize);
    if (!readable) {
        fail(path, std::nullopt, 0,
             "the mailbox could not be read again: " + std::string(std::strerror(mailbox.error())));
        return;
    }
    // Reading yields, but byte progress is shown when each message is saved.
    struct YieldOnly : ExtractObserver {
        Impl& impl;
        explicit YieldOnly(Impl& i) : impl(i) {}
        void byteUpdate(std::uint64_t, std::uint64_t) override {}
        bool yield() override { return impl.yieldToObserver(); }
    } yieldOnly(*this);

    Pipeline pipeline(*target_, workers_, options_.faults);
    const auto size = mailbox.size();
    const auto interrupted = [&] { drain(pipeline, path, size); };
    for (std::size_t k = 0; k < offsets.size() && !deviceFull_; ++k) {
        while (pipeline.full() && !deviceFull_ && !stopping()) {
            commit(pipeline, *pipeline.take(), path, size);
            yieldToObserver();
        }
        if (deviceFull_ || stopping()) {
            return interrupted();
        }
        auto text = readMessageText(mailbox, offsets, k, &yieldOnly);
        MessageJob job{folder, path, k, text.beginOffset(), {}, plan};
        const bool complete = readTrimmedMessage(text, job.bytes);
        if (text.stopped()) {
            return interrupted();
        }
        if (!complete) {
            // After a full device the workers begin no more messages: stop at that one.
            while (!deviceFull_) {
                auto done = pipeline.take();
                if (!done) {
                    break;
                }
                commit(pipeline, std::move(*done), path, size);
            }
            fail(path, k, text.beginOffset(),
                 "the mailbox could not be read at byte " + std::to_string(text.beginOffset()));
            continue;
        }
        pipeline.submit(std::move(job), text.length(), k + 1 >= offsets.size());
    }
    while (!deviceFull_) {
        auto done = pipeline.take();
        if (!done) {
            break;
        }
        commit(pipeline, std::move(*done), path, size);
        if (!yieldToObserver()) {
            return interrupted();
        }
    }
    if (deviceFull_) {
        interrupted();
    }
}

std::future<int> Engine::Impl::startFlush() {
    if (!flush_ || result_.written() == 0) {
        return {};
    }
    if (const int error =
            options_.faults != nullptr ? options_.faults->beforeFlush(result_.outputRoot) : 0) {
        std::promise<int> failed;
        failed.set_value(error);
        return failed.get_future();
    }
    return std::async(std::launch::async, [this] { return flush_->flush(); });
}

void Engine::Impl::endFlush(std::future<int> flushing) {
    if (!flushing.valid()) {
        return;
    }
    // A slow drive takes a while, and the window keeps breathing meanwhile.
    const auto pause =
        std::max<std::chrono::milliseconds>(options_.yieldInterval, std::chrono::milliseconds(1));
    while (flushing.wait_for(pause) != std::future_status::ready) {
        observer_.yield();
    }
    if (const int error = flushing.get()) {
        fail({}, std::nullopt, 0,
             "the system could not confirm that the files written under " + result_.outputRoot +
                 " are on the disk (" + std::generic_category().message(error) +
                 "); some of them may be incomplete");
    }
}

RunResult Engine::Impl::finish(RunResult::Outcome outcome) {
    // The system writes files out when it likes; a user who deletes the mailboxes once the run
    // has ended must find these on the disk, also after a power cut or an unplugged drive. The
    // message files are complete here: what is left to read back is read while they go out.
    auto flushing = startFlush();
    // What is in a data file still open is kept, complete.
    closeDataFile(openMailbox_, &StoreTarget::endRun);
    endFlush(std::move(flushing));
    if (deviceFull_) {
        outcome = RunResult::Outcome::DeviceFull;
    }
    result_.outcome = outcome;
    return std::move(result_);
}

RunResult Engine::Impl::run(const RunRequest& request, const std::string& outputRoot) {
    result_ = {};
    result_.format = request.format;
    result_.outputRoot = outputRoot;
    result_.mailboxes.reserve(request.rows.size());

    if (target_ == nullptr) {
        fail({}, std::nullopt, 0, "there is no target for this format");
        return finish(RunResult::Outcome::Completed);
    }
    result_.verification = target_->setVerification(options_.verify, options_.faults);
    if (request.format == Format::Eml || request.format == Format::Emlx ||
        request.format == Format::Msg) {
        flush_ = std::make_unique<platform::FileSystemFlush>(platform::pathFromUtf8(outputRoot));
    }
    try {
        target_->beginRun(outputRoot);
    } catch (const TargetError& e) {
        fail({}, std::nullopt, 0,
             std::string("the Outlook data file could not be created: ") + e.what());
        if (e.scope() == TargetError::Scope::Device) {
            deviceFull_ = true;
            return finish(RunResult::Outcome::DeviceFull);
        }
    }

    const auto rowCount = request.rows.size();
    for (std::size_t row = 0; row < rowCount; ++row) {
        const auto path = trimSpaces(request.rows[row]);
        // An empty row has no file name: it opens no data file and creates no folder.
        std::string fileName;
        bool emptyRow = false;
        try {
            fileName = paths::fileNameOfPath(path);
        } catch (const paths::NoComponentError&) {
            emptyRow = true;
        }
        std::error_code sizeError;
        const auto size =
            emptyRow ? 0 : std::filesystem::file_size(platform::pathFromUtf8(path), sizeError);
        observer_.mailboxStarted({row, rowCount, path, fileName, sizeError ? 0 : size});
        if (!yieldToObserver()) {
            return finish(RunResult::Outcome::Cancelled);
        }
        result_.mailboxes.push_back({path, 0, 0, {}, {}, 0});
        mailbox_ = &result_.mailboxes.back();
        if (row < request.places.size() && !request.places[row].name.empty()) {
            for (const auto& folder : request.places[row].folders) {
                mailbox_->place += folder + "/";
            }
            mailbox_->place += request.places[row].name;
        }
        const auto name = mailboxNameOf(fileName);
        const auto folder = mailboxFolderOf(outputRoot, path);

        yieldToObserver();
        observer_.searchStarted();
        scanner::SearchResult found;
        // Whether the file was read as a mailbox: only then is anything made for its messages.
        bool isMailbox = !emptyRow;
        if (emptyRow) {
            observer_.mailboxProblem(MailboxProblem::NoName, 0);
        } else {
            found = scanner::findSeparators(path, kSeparatorText, {true, options_.scanBlockSize},
                                            this, options_.cancel);
            using Status = scanner::SearchResult::Status;
            switch (found.status) {
            case Status::NotFound:
                observer_.mailboxProblem(MailboxProblem::NotFound, 0);
                isMailbox = false;
                break;
            case Status::TooSmall:
                observer_.mailboxProblem(MailboxProblem::TooSmall, found.fileSize);
                break;
            case Status::CannotOpen:
                observer_.mailboxProblem(MailboxProblem::CannotOpen, found.fileSize);
                fail(path, std::nullopt, 0, "the mailbox could not be opened");
                isMailbox = false;
                break;
            case Status::ReadFailed: {
                // The messages found before the failure are still converted. The last one found
                // runs into the part never read, and what follows was never seen: neither may
                // pass for converted.
                const std::uint64_t from = found.offsets.empty() ? 0 : found.offsets.back();
                if (!found.offsets.empty()) {
                    found.offsets.pop_back();
                }
                found.fileSize = from;
                fail(path, std::nullopt, from,
                     "the mailbox could not be read past byte " +
                         std::to_string(found.readFailedAt) + " (" + found.readError +
                         "); nothing from byte " + std::to_string(from) + " on was converted");
                break;
            }
            case Status::Done:
            case Status::Stopped:
                break;
            }
            // Text without a single separator is no Eudora mailbox (an empty file is one with
            // no messages).
            if ((found.status == Status::Done || found.status == Status::TooSmall) &&
                found.offsets.empty() && found.fileSize > 0) {
                fail(path, std::nullopt, 0,
                     "no Eudora message separator found; is this a Eudora mailbox?");
                isMailbox = false;
            }
        }
        yieldToObserver();
        if (stopping()) {
            return finish(RunResult::Outcome::Cancelled);
        }

        // Message files go into the mailbox folder; it is created for every target.
        bool writable = true;
        if (!emptyRow && target_->makesMailboxFolder()) {
            std::error_code made, is;
            std::filesystem::create_directories(
                platform::pathFromUtf8(paths::ensureTrailingSeparator(folder)), made);
            if (!std::filesystem::is_directory(platform::pathFromUtf8(folder), is) &&
                target_->needsMailboxFolder()) {
                const auto error = made ? made : is;
                writable = false;
                fail(path, std::nullopt, 0,
                     "the folder " + folder + " could not be created (" + error.message() +
                         "); none of its " + std::to_string(found.offsets.size()) +
                         " message(s) was written");
                deviceFull_ = isDeviceFull(error);
            }
        }
        if (writable && isMailbox && !deviceFull_) {
            openMailbox_ = path;
            MailboxPlace place;
            if (row < request.places.size()) {
                place = request.places[row];
            }
            if (place.name.empty()) {
                place = {{}, name};
            }
            try {
                target_->beginMailbox(outputRoot, place);
                if (!target_->acceptsMessages()) {
                    // The data file of the run failed before this mailbox: it says so once.
                    writable = false;
                    if (!found.offsets.empty()) {
                        fail(path, std::nullopt, 0,
                             "none of its " + std::to_string(found.offsets.size()) +
                                 " message(s) was written: the run's Outlook data file failed "
                                 "before it");
                    }
                }
            } catch (const TargetError& e) {
                if (target_->acceptsMessages()) {
                    // Begun, then lost: the messages go on only where they do not need it.
                    dataFileLost(path, e);
                    writable = target_->acceptsMessages();
                } else {
                    // A data file begun and then lost goes too, or is said to be left behind.
                    const auto discarded = target_->discardStore();
                    writable = false;
                    deviceFull_ = deviceFull_ || e.scope() == TargetError::Scope::Device;
                    fail(path, std::nullopt, 0,
                         std::string("the Outlook data file could not be created: ") + e.what() +
                             (discarded.removal ? "; the incomplete file " + discarded.path +
                                                      " could not be removed (" +
                                                      discarded.removal.message() + ")"
                                                : std::string()) +
                             "; none of its " + std::to_string(found.offsets.size()) +
                             " message(s) was written");
                }
            }
        }
        yieldToObserver();

        const std::span<const std::uint64_t> offsets(found.offsets);
        mailbox_->found = offsets.size();
        observer_.messagesFound({offsets.size()});
        yieldToObserver();

        if (writable && !deviceFull_) {
            if (target_->flow() == StoreTarget::Flow::Prepare) {
                storeMessages(path, folder, found, request.attachmentFolders);
            } else {
                streamMessages(path, folder, found);
            }
        }
        if (deviceFull_) {
            return finish(RunResult::Outcome::DeviceFull);
        }
        if (!yieldToObserver()) {
            return finish(RunResult::Outcome::Cancelled);
        }
        observer_.mailboxFinished({row, rowCount, mailbox_->found, mailbox_->written});
        if (!openMailbox_.empty()) {
            closeDataFile(path, &StoreTarget::endMailbox);
            openMailbox_.clear();
            if (deviceFull_) {
                return finish(RunResult::Outcome::DeviceFull);
            }
        }
        // Each mailbox ends with its final values on screen.
        if (!yieldToObserver(true)) {
            return finish(RunResult::Outcome::Cancelled);
        }
    }
    return finish(RunResult::Outcome::Completed);
}

Engine::Engine(ProgressObserver& observer, StoreTarget* target, RunOptions options)
    : observer_(observer), target_(target), options_(options) {}

Engine::~Engine() = default;

RunResult Engine::run(const RunRequest& request, const std::string& outputRoot) {
    // Without a target of its own, the run writes message files for the formats that take them.
    auto builtIn = target_ == nullptr ? makeMessageFileTarget(request.format) : nullptr;
    Impl impl(observer_, target_ != nullptr ? target_ : builtIn.get(), options_);
    return impl.run(request, outputRoot);
}

namespace {

std::string describe(const Failure& f) {
    std::string line = f.mailbox.empty() ? std::string("(run)") : f.mailbox;
    if (f.index) {
        line += ": message " + std::to_string(*f.index) + " at byte " + std::to_string(f.offset);
    }
    return line + ": " + f.reason;
}

const char* targetName(Format format) {
    switch (format) {
    case Format::Eml:
        return ".eml";
    case Format::Emlx:
        return ".emlx";
    case Format::Pst:
        return ".pst";
    case Format::Msg:
        return ".msg";
    case Format::None:
        break;
    }
    return "?";
}

} // namespace

bool writeReport(const std::string& path, const RunResult& result) {
    std::string text = "Mbxvane conversion report\n\nTarget: ";
    text += targetName(result.format);
    text += result.dataFile.empty() ? "\nOutput folder: " + result.outputRoot + "\n"
                                    : "\nData file: " + result.dataFile + "\n";
    switch (result.outcome) {
    case RunResult::Outcome::Completed:
        break;
    case RunResult::Outcome::DeviceFull:
        text += "The run ended early: the output device is full.\n";
        break;
    case RunResult::Outcome::Cancelled:
        text += "The run was stopped before the end.\n";
        break;
    }
    text += "Messages written: " + std::to_string(result.written()) + " of " +
            std::to_string(result.found()) + " found\n";
    if (result.verification) {
        text += "Messages verified (read back as imported): " + std::to_string(result.verified()) +
                " of " + std::to_string(result.written()) + " written\n";
    }
    text += "\nMailboxes:\n";
    for (const auto& m : result.mailboxes) {
        text += "  " + m.path + (m.place.empty() ? std::string() : " (" + m.place + ")") + ": " +
                std::to_string(m.written) + " of " + std::to_string(m.found) + " written" +
                (result.verification ? ", " + std::to_string(m.verified) + " verified"
                                     : std::string()) +
                (m.summary.empty() ? std::string() : "; " + m.summary) + "\n";
    }
    text += "\nFailures (" + std::to_string(result.failures.size()) + "):\n";
    for (const auto& f : result.failures) {
        text += "  " + describe(f) + "\n";
    }
    if (!result.notes.empty()) {
        text += "\nNotes (" + std::to_string(result.notes.size()) + "):\n";
        for (const auto& n : result.notes) {
            text += "  " + describe(n) + "\n";
        }
    }
    {
        std::ofstream out(platform::pathFromUtf8(path), std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (out) {
            return true;
        }
    }
    std::error_code ignored;
    std::filesystem::remove(platform::pathFromUtf8(path), ignored);
    return false;
}

std::string leaveReport(const RunResult& result, const std::vector<std::string>& folders) {
    if (result.failures.empty() && result.notes.empty()) {
        return {};
    }
    for (const auto& folder : folders) {
        if (folder.empty()) {
            continue;
        }
        const auto path = freeReportPath(folder);
        if (writeReport(path, result)) {
            return path;
        }
    }
    return {};
}

std::string freeReportPath(const std::string& folder) {
    const std::string base = paths::ensureTrailingSeparator(folder) + "Mbxvane report";
    std::string candidate = base + ".txt";
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(platform::pathFromUtf8(candidate), ec); ++n) {
        candidate = base + " (" + std::to_string(n) + ").txt";
    }
    return candidate;
}

} // namespace mbx::convert
