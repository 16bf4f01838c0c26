#include "cli/convert_command.h"

#include "cli/inputs.h"
#include "convert/conversion_run.h"
#include "convert/store_factory.h"

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace mbx::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "mbxvane-convert: ";

const char* targetName(Target target) {
    switch (target) {
    case Target::Eml:
        return "eml";
    case Target::Emlx:
        return "emlx";
    case Target::Pst:
        return "pst";
    case Target::Msg:
        return "msg";
    }
    return "";
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

struct Failure {
    std::string mailbox;
    std::string reason;
};

struct RunResult {
    std::size_t mailboxesStarted = 0;
    std::size_t mailboxesDone = 0;
    std::uint64_t written = 0;
    std::uint64_t failed = 0;
    bool interrupted = false;
    bool stopped = false; // the engine could not go on (e.g. no data file could be opened)
    std::vector<Failure> failures;
};

// ---- the engine -------------------------------------------------------------------------
// The window's conversion run, driven through the interfaces it has for the window: a desktop
// that answers the folder dialog with --out and collects the reader's warnings, and a view whose
// labels give the progress and whose yield() reads the cancellation flag. It goes once the
// engine reports progress, failures and cancellation itself.

class EngineDesktop : public desktop::Desktop {
public:
    EngineDesktop(std::string out, RunResult& result, const std::string*& mailbox)
        : out_(std::move(out)), result_(result), mailbox_(mailbox) {}
    desktop::Answer messageBox(const std::string& caption, const std::string& text, desktop::Icon,
                               desktop::Buttons) override {
        if (caption != convert::kAppTitle) {
            result_.failures.push_back({mailbox_ ? *mailbox_ : std::string(), firstLine(text)});
        }
        return desktop::Answer::Ok;
    }
    desktop::OpenFilesResult openFiles(const desktop::OpenFilesRequest&) override { return {}; }
    std::string browseForFolder(const std::string&) override { return out_; }
    void shellOpen(const std::string&) override {}
    void beep() override {}
    void setBusy(bool) override {}

private:
    static std::string firstLine(const std::string& text) {
        return text.substr(0, text.find_first_of("\r\n"));
    }
    std::string out_;
    RunResult& result_;
    const std::string*& mailbox_;
};

class EngineView : public convert::RunView {
public:
    EngineView(const Inputs& inputs, ProgressPrinter& printer, Console& console,
               const std::atomic<bool>& cancel, RunResult& result, const std::string*& mailbox)
        : inputs_(inputs), printer_(printer), console_(console), cancel_(cancel), result_(result),
          mailbox_(mailbox) {}

    void setLabel(convert::Label label, const std::string& text) override {
        if (label == convert::Label::LblEmlsFound && !text.empty()) {
            found_ = std::stoull(text);
        } else if (label == convert::Label::LblProgress && !text.empty()) {
            ++messages_;
            ++result_.written;
            const auto bytes = inputs_.sizes[row_];
            printer_.advanced(found_ ? bytes / found_ * messages_ : bytes, messages_);
            if (console_.afterMessage) {
                console_.afterMessage(result_.written);
            }
        }
    }
    void setByteUpdate(std::uint64_t, std::uint64_t) override {}
    void setBarRange(convert::Bar, int, int) override {}
    void setBarValue(convert::Bar bar, float) override {
        if (bar == convert::Bar::ProgressBar1) {
            printer_.mailboxFinished(messages_, 0);
            result_.mailboxesDone = row_ + 1;
        }
    }
    void setCurrentRow(int row) override {
        row_ = static_cast<std::size_t>(row);
        mailbox_ = &inputs_.mailboxes[row_];
        result_.mailboxesStarted = row_ + 1;
        messages_ = 0;
        found_ = 0;
        printer_.mailboxStarted(row_, inputs_.mailboxes[row_], inputs_.sizes[row_]);
    }
    void setConvertEnabled(bool) override {}
    void clearFormats() override {}
    bool yield() override { return !cancel_.load(); }

private:
    const Inputs& inputs_;
    ProgressPrinter& printer_;
    Console& console_;
    const std::atomic<bool>& cancel_;
    RunResult& result_;
    const std::string*& mailbox_;
    std::size_t row_ = 0;
    std::uint64_t messages_ = 0;
    std::uint64_t found_ = 0;
};

RunResult runEngine(Target target, const std::string& out, const Inputs& inputs,
                    ProgressPrinter& printer, Console& console, const std::atomic<bool>& cancel) {
    RunResult result;
    const std::string* mailbox = nullptr;
    EngineDesktop desktop(out, result, mailbox);
    EngineView view(inputs, printer, console, cancel, result, mailbox);
    convert::RunRequest request;
    request.rows = inputs.mailboxes;
    request.format = target == Target::Eml    ? convert::Format::Eml
                     : target == Target::Emlx ? convert::Format::Emlx
                     : target == Target::Pst  ? convert::Format::Pst
                                              : convert::Format::Msg;
    auto steps = convert::MakeStoreSteps(request.format);
    convert::RunOptions runOptions;
    runOptions.yieldInterval = std::chrono::milliseconds(0); // a yield here only reads the flag
    convert::ConversionRun run(desktop, view, steps.get(), runOptions);
    const auto outcome = run.Run(request);
    result.interrupted = outcome == convert::RunOutcome::Ending;
    result.stopped = outcome == convert::RunOutcome::SessionError;
    return result;
}

// ---- the report ---------------------------------------------------------------------------

bool writeReport(const std::string& file, const Options& options, const fs::path& out,
                 const Inputs& inputs, const RunResult& result) {
    std::ofstream report(file, std::ios::binary | std::ios::trunc);
    report << "Mbxvane conversion report\n"
           << "Format: " << targetName(options.target) << "\n"
           << "Output folder: " << out.string() << "\n"
           << "Mailboxes: " << result.mailboxesDone << " of " << inputs.mailboxes.size()
           << " finished\n"
           << "Messages written: " << result.written << "\n"
           << "Messages failed: " << result.failed << "\n"
           << "Interrupted: " << (result.interrupted ? "yes" : "no") << "\n";
    if (!result.failures.empty()) {
        report << "\nFailures:\n";
        for (const auto& failure : result.failures) {
            report << failure.mailbox << ": " << failure.reason << "\n";
        }
    }
    report.flush();
    return static_cast<bool>(report);
}

} // namespace

int runConversion(const Options& options, Console& console, const std::atomic<bool>& cancel) {
    const auto inputs = collectInputs(options.paths);
    if (!inputs.error.empty()) {
        console.err << kProgram << inputs.error << std::endl;
        return kExitUsage;
    }
    if (!options.attachments.empty() && !fs::is_directory(options.attachments)) {
        console.err << kProgram << options.attachments << ": no such folder (--attachments)"
                    << std::endl;
        return kExitUsage;
    }
    std::error_code ec;
    const auto out = fs::absolute(fs::path(options.out), ec).lexically_normal();
    if (const auto problem = prepareOutputFolder(out); !problem.empty()) {
        console.err << kProgram << problem << std::endl;
        return kExitUsage;
    }

    ProgressPrinter printer(console.out,
                            options.quiet ? ProgressPrinter::Mode::Quiet : console.mode);
    printer.begin(inputs.mailboxes.size(), inputs.totalBytes);
    const auto result = runEngine(options.target, out.string(), inputs, printer, console, cancel);
    printer.end();

    for (const auto& failure : result.failures) {
        console.err << kProgram << failure.mailbox << ": " << failure.reason << std::endl;
    }
    if (!options.report.empty() && !writeReport(options.report, options, out, inputs, result)) {
        console.err << kProgram << "cannot write the report " << options.report << std::endl;
    }
    if (!options.quiet) {
        console.out << "Wrote " << countOf(result.written, "message", "messages") << " from ";
        if (result.mailboxesStarted < inputs.mailboxes.size()) {
            console.out << result.mailboxesStarted << " of ";
        }
        console.out << countOf(inputs.mailboxes.size(), "mailbox", "mailboxes") << " to "
                    << out.string() << " in " << formatDuration(printer.elapsedSeconds())
                    << std::endl;
    }
    if (result.interrupted) {
        console.err << kProgram << "interrupted; every file written is complete" << std::endl;
        return kExitInterrupted;
    }
    return result.failed > 0 || !result.failures.empty() || result.stopped ? kExitFailures
                                                                           : kExitOk;
}

} // namespace mbx::cli
