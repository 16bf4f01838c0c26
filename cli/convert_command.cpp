#include "cli/convert_command.h"

#include "cli/inputs.h"
#include "convert/engine.h"
#include "convert/store_target.h"
#include "platform/file.h"

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

namespace mbx::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "mbxvane-convert: ";
// Before the system's reason for a path or folder that could not be read.
constexpr const char* kCannotRead = "cannot be read: ";

convert::Format engineFormat(Target target) {
    switch (target) {
    case Target::Eml:
        return convert::Format::Eml;
    case Target::Emlx:
        return convert::Format::Emlx;
    case Target::Pst:
        return convert::Format::Pst;
    case Target::Msg:
        return convert::Format::Msg;
    }
    return convert::Format::None;
}

// Creates the output folder when missing and proves that a file can be created in it. The probe
// file has a name of its own per process and is removed at once.
std::string prepareOutputFolder(const fs::path& out) {
    std::error_code ec;
    if (fs::exists(out, ec) && !fs::is_directory(out, ec)) {
        return platform::utf8FromPath(out) + ": not a folder";
    }
    fs::create_directories(out, ec);
    if (ec || !fs::is_directory(out)) {
        return "cannot create the output folder " + platform::utf8FromPath(out) + ": " +
               ec.message();
    }
    std::random_device random;
    const auto probe =
        out / (".mbxvane-convert-" + std::to_string(QCoreApplication::applicationPid()) + "-" +
               std::to_string(random()));
    bool written = false;
    {
        std::ofstream file(probe, std::ios::binary);
        written = file && (file << 'x') && file.flush();
    }
    fs::remove(probe, ec);
    return written ? std::string()
                   : "the output folder " + platform::utf8FromPath(out) + " is not writable";
}

// The engine's progress, turned into the printer's terms.
class Progress : public convert::ProgressObserver {
public:
    Progress(const Inputs& inputs, ProgressPrinter& printer, Console& console)
        : inputs_(inputs), printer_(printer), console_(console) {}

    void mailboxStarted(const convert::MailboxStarted& event) override {
        index_ = event.index;
        found_ = 0;
        started_ = index_ + 1;
        printer_.mailboxStarted(index_, inputs_.mailboxes[index_], inputs_.sizes[index_]);
    }
    void messagesFound(const convert::MessagesFound& event) override { found_ = event.count; }
    void messageDone(const convert::MessageDone& event) override {
        ++dealtWith_;
        const auto size = inputs_.sizes[index_];
        // A share of the mailbox per message dealt with: messages are about alike in size.
        printer_.advanced(found_ > 0 ? size / found_ * (event.index + 1) : size,
                          event.writtenSoFar);
        if (console_.afterMessage) {
            console_.afterMessage(dealtWith_);
        }
    }
    void mailboxProblem(convert::MailboxProblem problem, std::uint64_t) override {
        if (problem == convert::MailboxProblem::TooSmall) {
            printer_.end();
            console_.err << kProgram << inputs_.mailboxes[index_]
                         << ": shorter than 2 bytes, no message in it" << std::endl;
        }
    }
    void mailboxFinished(const convert::MailboxFinished& event) override {
        printer_.mailboxFinished(event.written, event.found - std::min(event.found, event.written));
    }

    std::size_t started() const { return started_; }

private:
    const Inputs& inputs_;
    ProgressPrinter& printer_;
    Console& console_;
    std::size_t index_ = 0;
    std::size_t started_ = 0;
    std::uint64_t found_ = 0;
    std::uint64_t dealtWith_ = 0; // messages of the run, written or failed
};

} // namespace

int runConversion(const Options& options, Console& console, const std::atomic<bool>& cancel) {
    const bool single = !options.singleFile.empty();
    const auto inputs = single ? collectTree(options.paths) : collectInputs(options.paths);
    if (!inputs.error.empty()) {
        console.err << kProgram << inputs.error << std::endl;
        return kExitUsage;
    }
    if (inputs.mailboxes.empty()) {
        // Only folders that cannot be read: say which and why; there is nothing to run.
        for (const auto& folder : inputs.unreadable) {
            console.err << kProgram << folder.path << ": " << kCannotRead << folder.reason
                        << std::endl;
        }
        return kExitFailures;
    }
    std::error_code ec;
    for (const auto& folder : options.attachments) {
        if (!fs::is_directory(platform::pathFromUtf8(folder), ec)) {
            console.err << kProgram << folder << ": no such folder (--attachments)" << std::endl;
            return kExitUsage;
        }
    }
    // With --single-file the data file's folder is the output folder, and --out, when given,
    // the report's.
    const auto dataFile =
        single ? fs::absolute(platform::pathFromUtf8(options.singleFile), ec).lexically_normal()
               : fs::path();
    if (single && fs::exists(fs::symlink_status(dataFile, ec))) {
        console.err << kProgram << platform::utf8FromPath(dataFile)
                    << " exists already; a data file is never replaced (name another)" << std::endl;
        return kExitUsage;
    }
    const auto out = single
                         ? dataFile.parent_path()
                         : fs::absolute(platform::pathFromUtf8(options.out), ec).lexically_normal();
    if (const auto problem = prepareOutputFolder(out); !problem.empty()) {
        console.err << kProgram << problem << std::endl;
        return kExitUsage;
    }
    const auto reportFolder = single && !options.out.empty()
                                  ? fs::absolute(fs::path(options.out), ec).lexically_normal()
                                  : out;
    if (reportFolder != out) {
        if (const auto problem = prepareOutputFolder(reportFolder); !problem.empty()) {
            console.err << kProgram << problem << std::endl;
            return kExitUsage;
        }
    }

    convert::RunRequest request;
    request.rows = inputs.mailboxes;
    request.places = inputs.places;
    request.format = engineFormat(options.target);
    for (const auto& folder : options.attachments) {
        request.attachmentFolders.push_back(platform::utf8FromPath(
            fs::absolute(platform::pathFromUtf8(folder), ec).lexically_normal()));
    }
    convert::RunOptions runOptions;
    runOptions.cancel = &cancel;
    runOptions.workers = options.workers;
    runOptions.verify = options.verify;

    ProgressPrinter printer(console.out,
                            options.quiet ? ProgressPrinter::Mode::Quiet : console.mode);
    Progress progress(inputs, printer, console);
    auto store =
        single ? std::make_unique<convert::SingleFilePstTarget>(
                     platform::utf8FromPath(dataFile), platform::utf8FromPath(dataFile.stem()))
               : convert::makeStoreTarget(request.format);
    convert::Engine engine(progress, store.get(), runOptions);
    printer.begin(inputs.mailboxes.size(), inputs.totalBytes);
    const auto outputRoot =
        platform::utf8FromPath(out).back() == fs::path::preferred_separator
            ? platform::utf8FromPath(out)
            : platform::utf8FromPath(out) + static_cast<char>(fs::path::preferred_separator);
    auto result = engine.run(request, outputRoot);
    printer.end();
    // What the search could not read failed before the run began: first in the report.
    std::vector<convert::Failure> unread;
    for (const auto& folder : inputs.unreadable) {
        unread.push_back({folder.path, std::nullopt, 0, kCannotRead + folder.reason});
    }
    result.failures.insert(result.failures.begin(), unread.begin(), unread.end());
    // So are the folder maps' entries that could not be used.
    std::vector<convert::Note> mapNotes;
    for (const auto& note : inputs.notes) {
        mapNotes.push_back({platform::utf8FromPath(note.path), std::nullopt, 0, note.reason});
    }
    result.notes.insert(result.notes.begin(), mapNotes.begin(), mapNotes.end());
    if (single) {
        result.dataFile = platform::utf8FromPath(dataFile);
    }

    // The same report in the output folder as the window leaves when anything went wrong.
    const auto report = convert::leaveReport(result, {platform::utf8FromPath(reportFolder)});
    if (report.empty() && (!result.failures.empty() || !result.notes.empty())) {
        console.err << kProgram << "cannot write the report in "
                    << platform::utf8FromPath(reportFolder) << std::endl;
    }
    if (!options.report.empty() && !convert::writeReport(options.report, result)) {
        console.err << kProgram << "cannot write the report " << options.report << std::endl;
    }

    for (const auto& failure : result.failures) {
        console.err << kProgram << (failure.mailbox.empty() ? "" : failure.mailbox + ": ");
        if (failure.index) {
            console.err << "message " << *failure.index << " at byte " << failure.offset << ": ";
        }
        console.err << failure.reason << std::endl;
    }
    if (!options.quiet) {
        console.out << "Wrote " << countOf(result.written(), "message", "messages") << " of "
                    << result.found() << " from ";
        if (progress.started() < inputs.mailboxes.size()) {
            console.out << progress.started() << " of ";
        }
        console.out << countOf(inputs.mailboxes.size(), "mailbox", "mailboxes") << " to "
                    << platform::utf8FromPath(single ? dataFile : out) << " in "
                    << formatDuration(printer.elapsedSeconds()) << std::endl;
        if (!result.notes.empty()) {
            console.out << countOf(result.notes.size(), "note", "notes")
                        << " in the report (attachments not found or left out, tables of "
                           "contents or folder map entries not used)"
                        << std::endl;
        }
    }
    if (!report.empty()) {
        console.err << kProgram << "report: " << report << std::endl;
    }
    if (!options.quiet && result.verification) {
        // Messages that read back from their files as they were imported, of those written.
        console.out << "Verified " << result.verified() << " of "
                    << countOf(result.written(), "message", "messages") << std::endl;
    }

    using Outcome = convert::RunResult::Outcome;
    switch (result.outcome) {
    case Outcome::Cancelled:
        console.err << kProgram << "interrupted; every file written is complete" << std::endl;
        return kExitInterrupted;
    case Outcome::DeviceFull:
        console.err << kProgram << "the output device is full; the run stopped there" << std::endl;
        return kExitFailures;
    case Outcome::Completed:
        break;
    }
    return result.failures.empty() ? kExitOk : kExitFailures;
}

} // namespace mbx::cli
