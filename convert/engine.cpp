#include "convert/engine.h"

#include "convert/faults.h"
#include "convert/pipeline.h"
#include "convert/targets.h"
#include "scanner/separator_search.h"
#include "selection/paths.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
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

// One run. Cancellation latches: once asked to stop, the observer is not asked again.
class Engine::Impl : private ExtractObserver, private scanner::SearchObserver {
public:
    Impl(ProgressObserver& observer, StoreTarget* store, const RunOptions& options)
        : observer_(observer), store_(store), options_(options) {
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
    bool openStore(const std::function<void()>& open, const std::string& mailbox);
    void closeStore(const std::string& mailbox);
    void storeLost(const std::string& mailbox, const std::string& reason);
    void writeEmlMessages(const std::string& path, const std::string& folder,
                          const scanner::SearchResult& found, std::string_view extension);
    void storeMessages(const std::string& path, const std::string& folder,
                       const scanner::SearchResult& found,
                       const std::vector<std::string>& attachmentFolders);
    void commit(Pipeline::Done done, const std::string& path, std::uint64_t mailboxSize);
    RunResult finish(RunResult::Outcome outcome);

    ProgressObserver& observer_;
    StoreTarget* store_;
    RunOptions options_;
    int workers_ = 0;
    RunResult result_;
    Clock::time_point lastYield_{};
    bool stopping_ = false;
    bool deviceFull_ = false;
    // The open data file: whether one is open, and whether it still takes messages.
    bool storeOpen_ = false;
    bool storeOk_ = false;
    // Messages in the open .pst data file; they count once it is complete.
    std::uint64_t inStore_ = 0;
    MailboxResult* mailbox_ = nullptr;
};

bool Engine::Impl::openStore(const std::function<void()>& open, const std::string& mailbox) {
    try {
        open();
    } catch (const std::exception& e) {
        fail(mailbox, std::nullopt, 0,
             std::string("the Outlook data file could not be created: ") + e.what());
        return false;
    }
    storeOpen_ = true;
    storeOk_ = true;
    inStore_ = 0;
    return true;
}

void Engine::Impl::storeLost(const std::string& mailbox, const std::string& reason) {
    const auto path = store_->storePath();
    const auto removal = store_->discardStore();
    storeOk_ = false;
    std::string text = "the Outlook data file " + path + " could not be written (" + reason +
                       (removal ? "); it could not be removed either (" + removal.message() +
                                      "): the file left there is incomplete"
                                : std::string("); it has been removed"));
    if (result_.format == Format::Pst) {
        text += " with the " + std::to_string(inStore_) + " message(s) written to it";
        if (mailbox_ != nullptr) {
            mailbox_->written -= std::min(mailbox_->written, inStore_);
        }
        inStore_ = 0;
    }
    fail(mailbox, std::nullopt, 0, text);
}

void Engine::Impl::closeStore(const std::string& mailbox) {
    if (!storeOpen_) {
        return;
    }
    storeOpen_ = false;
    if (!storeOk_) {
        return;
    }
    try {
        if (options_.faults != nullptr) {
            options_.faults->beforeStoreClose(store_->storePath());
        }
        store_->closeStore();
    } catch (const TargetError& e) {
        storeLost(mailbox, e.what());
        deviceFull_ = deviceFull_ || e.scope() == TargetError::Scope::Device;
    } catch (const std::exception& e) {
        storeLost(mailbox, e.what());
    }
}

void Engine::Impl::writeEmlMessages(const std::string& path, const std::string& folder,
                                    const scanner::SearchResult& found,
                                    std::string_view extension) {
    const std::span<const std::uint64_t> offsets(found.offsets);
    MailboxFile mailbox(options_.copyBlockSize);
    const bool readable = offsets.empty() || mailbox.open(path, found.fileSize);
    if (!readable) {
        fail(path, std::nullopt, 0,
             "the mailbox could not be read again: " + std::string(std::strerror(errno)));
    }
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        if (readable) {
            auto text = readMessageText(mailbox, offsets, k, this);
            const auto w = writeMessageFile(folder, k, extension, text, options_.faults);
            if (w.status == WriteResult::Status::Written) {
                ++mailbox_->written;
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

void Engine::Impl::commit(Pipeline::Done done, const std::string& path, std::uint64_t mailboxSize) {
    const auto writtenBefore = mailbox_->written;
    if (!done.prepared) {
        fail(path, done.index, done.offset, done.error);
        deviceFull_ = deviceFull_ || done.deviceFull;
    } else {
        if (storeOk_) {
            try {
                store_->commit(*done.prepared);
                ++inStore_;
                if (result_.format == Format::Pst) {
                    ++mailbox_->written;
                }
            } catch (const TargetError& e) {
                if (e.scope() == TargetError::Scope::Message) {
                    fail(path, done.index, done.offset, e.what());
                } else {
                    storeLost(path, e.what());
                    deviceFull_ = deviceFull_ || e.scope() == TargetError::Scope::Device;
                }
            } catch (const std::exception& e) {
                fail(path, done.index, done.offset, e.what());
            }
        }
        if (result_.format == Format::Msg) {
            ++mailbox_->written; // its message file is complete
        }
        for (auto& note : done.prepared->notes) {
            result_.notes.push_back({path, done.index, done.offset, std::move(note)});
        }
    }
    // The bytes-so-far values the message's reading passed, shown as it is saved.
    const auto lastLabel = lastByteLabel(done.length, done.last);
    for (std::uint64_t v = kLabelChunk; v <= lastLabel; v += kLabelChunk) {
        observer_.bytesRead({v, mailboxSize});
    }
    observer_.messageDone({done.index, mailbox_->written > writtenBefore, mailbox_->written});
}

void Engine::Impl::storeMessages(const std::string& path, const std::string& folder,
                                 const scanner::SearchResult& found,
                                 const std::vector<std::string>& attachmentFolders) {
    const std::span<const std::uint64_t> offsets(found.offsets);
    const auto plan =
        store_->planMailbox({path, folder, attachmentFolders, offsets, found.fileSize});
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
             "the mailbox could not be read again: " + std::string(std::strerror(errno)));
        return;
    }
    // Reading yields, but byte progress is shown when each message is saved.
    struct YieldOnly : ExtractObserver {
        Impl& impl;
        explicit YieldOnly(Impl& i) : impl(i) {}
        void byteUpdate(std::uint64_t, std::uint64_t) override {}
        bool yield() override { return impl.yieldToObserver(); }
    } yieldOnly(*this);

    Pipeline pipeline(*store_, workers_, options_.faults);
    const auto size = mailbox.size();
    for (std::size_t k = 0; k < offsets.size() && !deviceFull_; ++k) {
        while (pipeline.full() && !deviceFull_ && !stopping()) {
            commit(*pipeline.take(true), path, size);
            yieldToObserver();
        }
        if (deviceFull_ || stopping()) {
            return;
        }
        auto text = readMessageText(mailbox, offsets, k, &yieldOnly);
        MessageJob job{folder, k, text.beginOffset(), {}, plan};
        const bool complete = readTrimmedMessage(text, job.bytes);
        if (text.stopped()) {
            return;
        }
        if (!complete) {
            while (auto done = pipeline.take(true)) {
                commit(std::move(*done), path, size);
            }
            fail(path, k, text.beginOffset(),
                 "the mailbox could not be read at byte " + std::to_string(text.beginOffset()));
            continue;
        }
        pipeline.submit(std::move(job), text.length(), k + 1 >= offsets.size());
        while (auto done = pipeline.take(false)) {
            commit(std::move(*done), path, size);
            if (!yieldToObserver()) {
                return;
            }
        }
    }
    while (!deviceFull_) {
        auto done = pipeline.take(true);
        if (!done) {
            break;
        }
        commit(std::move(*done), path, size);
        if (!yieldToObserver()) {
            return;
        }
    }
}

RunResult Engine::Impl::finish(RunResult::Outcome outcome) {
    if (outcome == RunResult::Outcome::Cancelled || outcome == RunResult::Outcome::DeviceFull) {
        // What is in the open data file so far is kept, complete.
        closeStore(mailbox_ != nullptr ? mailbox_->path : std::string());
    }
    if (deviceFull_ && outcome != RunResult::Outcome::StoreUnavailable) {
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
    const bool storeTarget = request.format == Format::Pst || request.format == Format::Msg;
    const std::string_view extension = request.format == Format::Emlx ? ".emlx" : ".eml";

    if (storeTarget && store_ == nullptr) {
        fail({}, std::nullopt, 0, "no mail store is available for this format");
        return finish(RunResult::Outcome::StoreUnavailable);
    }
    if (request.format == Format::Msg &&
        !openStore([&] { store_->openRunStore(outputRoot); }, {})) {
        return finish(RunResult::Outcome::StoreUnavailable);
    }

    const auto rowCount = request.rows.size();
    for (std::size_t row = 0; row < rowCount; ++row) {
        const auto path = trimSpaces(request.rows[row]);
        // An empty row has no file name: it opens no store and creates no folder.
        std::string fileName;
        bool emptyRow = false;
        try {
            fileName = paths::fileNameOfPath(path);
        } catch (const paths::NoComponentError&) {
            emptyRow = true;
        }
        std::error_code sizeError;
        const auto size = emptyRow ? 0 : std::filesystem::file_size(path, sizeError);
        observer_.mailboxStarted({row, rowCount, path, fileName, sizeError ? 0 : size});
        if (!yieldToObserver()) {
            return finish(RunResult::Outcome::Cancelled);
        }
        result_.mailboxes.push_back({path, 0, 0, {}});
        mailbox_ = &result_.mailboxes.back();
        const auto name = mailboxNameOf(fileName);
        const auto folder = mailboxFolderOf(outputRoot, path);

        if (request.format == Format::Pst && !emptyRow &&
            !openStore([&] { store_->openMailboxStore(outputRoot, name); }, path)) {
            return finish(RunResult::Outcome::StoreUnavailable);
        }
        if (storeTarget && !emptyRow && storeOk_) {
            try {
                store_->addMailboxFolder(name);
            } catch (const std::exception& e) {
                storeLost(path, e.what());
            }
        }

        yieldToObserver();
        observer_.searchStarted();
        scanner::SearchResult found;
        if (emptyRow) {
            observer_.mailboxProblem(MailboxProblem::NoName, 0);
        } else {
            found = scanner::findSeparators(path, kSeparatorText, {true, options_.scanBlockSize},
                                            this, options_.cancel);
            using Status = scanner::SearchResult::Status;
            switch (found.status) {
            case Status::NotFound:
                observer_.mailboxProblem(MailboxProblem::NotFound, 0);
                break;
            case Status::TooSmall:
                observer_.mailboxProblem(MailboxProblem::TooSmall, found.fileSize);
                break;
            case Status::CannotOpen:
                observer_.mailboxProblem(MailboxProblem::CannotOpen, found.fileSize);
                fail(path, std::nullopt, 0, "the mailbox could not be opened");
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
        }
        yieldToObserver();
        if (stopping()) {
            return finish(RunResult::Outcome::Cancelled);
        }

        // Message files go into the mailbox folder; the .pst target creates it all the same.
        bool folderOk = true;
        if (!emptyRow) {
            std::error_code made, is;
            std::filesystem::create_directories(paths::ensureTrailingSeparator(folder), made);
            if (!std::filesystem::is_directory(folder, is) && request.format != Format::Pst) {
                const auto error = made ? made : is;
                folderOk = false;
                fail(path, std::nullopt, 0,
                     "the folder " + folder + " could not be created (" + error.message() +
                         "); none of its " + std::to_string(found.offsets.size()) +
                         " message(s) was written");
                deviceFull_ = isDeviceFull(error);
            }
        }
        yieldToObserver();

        const std::span<const std::uint64_t> offsets(found.offsets);
        mailbox_->found = offsets.size();
        observer_.messagesFound({offsets.size()});
        yieldToObserver();

        if (folderOk) {
            if (storeTarget) {
                storeMessages(path, folder, found, request.attachmentFolders);
            } else {
                writeEmlMessages(path, folder, found, extension);
            }
        }
        if (deviceFull_) {
            return finish(RunResult::Outcome::DeviceFull);
        }
        if (!yieldToObserver()) {
            return finish(RunResult::Outcome::Cancelled);
        }
        observer_.mailboxFinished({row, rowCount, mailbox_->found, mailbox_->written});
        if (request.format == Format::Pst) {
            closeStore(path);
            if (deviceFull_) {
                return finish(RunResult::Outcome::DeviceFull);
            }
        }
        // Each mailbox ends with its final values on screen.
        if (!yieldToObserver(true)) {
            return finish(RunResult::Outcome::Cancelled);
        }
    }
    if (request.format == Format::Msg) {
        closeStore({});
    }
    return finish(RunResult::Outcome::Completed);
}

Engine::Engine(ProgressObserver& observer, StoreTarget* store, RunOptions options)
    : observer_(observer), store_(store), options_(options) {}

Engine::~Engine() = default;

RunResult Engine::run(const RunRequest& request, const std::string& outputRoot) {
    Impl impl(observer_, store_, options_);
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
    text += "\nOutput folder: " + result.outputRoot + "\n";
    switch (result.outcome) {
    case RunResult::Outcome::Completed:
        break;
    case RunResult::Outcome::StoreUnavailable:
        text += "The run ended early: an Outlook data file could not be created.\n";
        break;
    case RunResult::Outcome::DeviceFull:
        text += "The run ended early: the output device is full.\n";
        break;
    case RunResult::Outcome::Cancelled:
        text += "The run was stopped before the end.\n";
        break;
    }
    text += "Messages written: " + std::to_string(result.written()) + " of " +
            std::to_string(result.found()) + " found\n\nMailboxes:\n";
    for (const auto& m : result.mailboxes) {
        text += "  " + m.path + ": " + std::to_string(m.written) + " of " +
                std::to_string(m.found) + " written" +
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
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (out) {
            return true;
        }
    }
    std::remove(path.c_str());
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
    for (int n = 2; std::filesystem::exists(candidate, ec); ++n) {
        candidate = base + " (" + std::to_string(n) + ").txt";
    }
    return candidate;
}

} // namespace mbx::convert
