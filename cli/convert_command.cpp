#include "cli/convert_command.h"

#include "cli/inputs.h"
#include "convert/engine.h"
#include "convert/store_target.h"

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace mbx::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "mbxvane-convert: ";

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
        return out.string() + ": not a folder";
    }
    fs::create_directories(out, ec);
    if (ec || !fs::is_directory(out)) {
        return "cannot create the output folder " + out.string() + ": " + ec.message();
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
    return written ? std::string() : "the output folder " + out.string() + " is not writable";
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
    const auto inputs = collectInputs(options.paths);
    if (!inputs.error.empty()) {
        console.err << kProgram << inputs.error << std::endl;
        return kExitUsage;
    }
    std::error_code ec;
    if (!options.attachments.empty() && !fs::is_directory(options.attachments, ec)) {
        console.err << kProgram << options.attachments << ": no such folder (--attachments)"
                    << std::endl;
        return kExitUsage;
    }
    const auto out = fs::absolute(fs::path(options.out), ec).lexically_normal();
    if (const auto problem = prepareOutputFolder(out); !problem.empty()) {
        console.err << kProgram << problem << std::endl;
        return kExitUsage;
    }

    convert::RunRequest request;
    request.rows = inputs.mailboxes;
    request.format = engineFormat(options.target);
    if (!options.attachments.empty()) {
        request.attachmentFolders = {
            fs::absolute(options.attachments, ec).lexically_normal().string()};
    }
    convert::RunOptions runOptions;
    runOptions.cancel = &cancel;
    runOptions.workers = options.workers;

    ProgressPrinter printer(console.out,
                            options.quiet ? ProgressPrinter::Mode::Quiet : console.mode);
    Progress progress(inputs, printer, console);
    auto store = convert::makeStoreTarget(request.format);
    convert::Engine engine(progress, store.get(), runOptions);
    printer.begin(inputs.mailboxes.size(), inputs.totalBytes);
    const auto outputRoot = out.string().back() == fs::path::preferred_separator
                                ? out.string()
                                : out.string() + static_cast<char>(fs::path::preferred_separator);
    const auto result = engine.run(request, outputRoot);
    printer.end();

    // The same report in the output folder as the window leaves when anything went wrong.
    const auto report = convert::leaveReport(result, {outputRoot});
    if (report.empty() && (!result.failures.empty() || !result.notes.empty())) {
        console.err << kProgram << "cannot write the report in " << outputRoot << std::endl;
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
                    << out.string() << " in " << formatDuration(printer.elapsedSeconds())
                    << std::endl;
        if (!result.notes.empty()) {
            console.out << countOf(result.notes.size(), "note", "notes")
                        << " on messages written (attachments not found or left out)" << std::endl;
        }
    }
    if (!report.empty()) {
        console.err << kProgram << "report: " << report << std::endl;
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
