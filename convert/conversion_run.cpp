#include "convert/conversion_run.h"

#include "convert/contact.h"
#include "convert/message_file.h"
#include "selection/paths.h"

#include <string_view>

namespace mbx::convert {

namespace {

std::string TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// Deletes every occurrence of `what`, left to right in one pass (pieces that meet after a
// deletion are not looked at again).
std::string DeleteAll(std::string_view text, std::string_view what) {
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

const std::string kStars(75, '*');

} // namespace

std::string SessionErrorText() {
    return std::string("Outlook Session Creation Error !\r\n"
                       "Check if Outlook is installed and configured.\r\n"
                       "If Outlook 2010 (64 Bit) is installed, software will not work.\r\n"
                       "Please install any 32 Bit Outlook version Outlook 2003/2007/2010 (32 "
                       "Bit).\r\n"
                       "If still you face any issue, please us at ") +
           kSupportEmail + "\r\nFor more details visit this link : " + kHelpVideoUrl;
}

std::string CompletionText(Format format) {
    if (format == Format::Pst) {
        return "Your messages from Eudora Mailboxes has been successfully exported to Outlook "
               "(.pst) file.\r\n" +
               kStars +
               "\r\nStart Outlook and open converted pst file by clicking File -> Open -> "
               "Outlook Data File. And it all done !";
    }
    return "Your messages from Eudora Mailboxes has been successfully exported.\r\n" + kStars +
           "\r\n";
}

std::string MailboxName(const std::string& mailboxFileName) {
    const auto once = DeleteAll(TrimSpaces(mailboxFileName), ".mbox");
    return DeleteAll(TrimSpaces(once), ".MBOX");
}

std::string MailboxFolder(const std::string& outputRoot, const std::string& mailboxPath) {
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

// The reader's output during a run: its warnings go to the desktop as they would from the
// window, its two progress controls to the main window, its surface nowhere (nobody sees it).
class ConversionRun::ReaderBridge : public scanner::ReaderSink, public ExtractObserver {
public:
    explicit ReaderBridge(ConversionRun& run) : run_(run) {}

    void beep() override { run_.desktop_.beep(); }
    void warning(const std::string& text, desktop::Icon icon, const std::string& title) override {
        run_.desktop_.messageBox(title, text, icon, desktop::Buttons::Ok);
    }
    void clearSurface() override {}
    void writeSurface(std::string_view) override {}
    bool surfaceShown() const override { return false; }
    void setProgressBar2(int value) override {
        run_.view_.setBarValue(Bar::ProgressBar2, static_cast<float>(value));
    }
    void setLblHappening(const std::string& text) override {
        run_.view_.setLabel(Label::LblHappening, text);
    }
    void focusText1() override {}
    void byteUpdate(std::uint64_t soFar, std::uint64_t total) override {
        run_.view_.setByteUpdate(soFar, total);
    }
    bool yield() override { return run_.Yield(); }

private:
    ConversionRun& run_;
};

ConversionRun::ConversionRun(desktop::Desktop& desktop, RunView& view, StoreSteps* steps,
                             RunOptions options)
    : desktop_(desktop), view_(view), steps_(steps), options_(options),
      bridge_(std::make_unique<ReaderBridge>(*this)),
      ownReader_(
          std::make_unique<scanner::MailboxReader>(ownState_, *bridge_, options.scanBlockSize)),
      reader_(ownReader_.get()) {}

ConversionRun::~ConversionRun() = default;

void ConversionRun::UseReader(scanner::MailboxReader& reader) {
    reader_ = &reader;
}

bool ConversionRun::Yield(bool force) {
    if (ending_) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastYield_ < options_.yieldInterval) {
        return true;
    }
    lastYield_ = now;
    if (!view_.yield()) {
        ending_ = true;
        return false;
    }
    return true;
}

RunOutcome ConversionRun::Stop() {
    if (reader_->FileNo() > 0) {
        reader_->CloseFile();
    }
    if (storeOpen_ && steps_ != nullptr) {
        steps_->CloseStore();
    }
    storeOpen_ = false;
    return RunOutcome::Ending;
}

RunOutcome ConversionRun::EndWithSessionError() {
    desktop_.messageBox(kSessionErrorCaption, SessionErrorText(), desktop::Icon::Information,
                        desktop::Buttons::Ok);
    view_.setConvertEnabled(true);
    view_.clearFormats();
    // The failed store is left as it is; nothing else is undone.
    storeOpen_ = false;
    return RunOutcome::SessionError;
}

RunOutcome ConversionRun::Run(const RunRequest& request) {
    // The run works on its own copy: the window may change the list or the format meanwhile.
    const RunRequest req = request;
    ending_ = false;
    storeOpen_ = false;
    lastYield_ = {};

    if (req.format == Format::None) {
        desktop_.messageBox(kAppTitle, kNoFormatText, desktop::Icon::Information,
                            desktop::Buttons::Ok);
        return RunOutcome::NoFormat;
    }
    const auto chosen = desktop_.browseForFolder(kChooseFolderTitle);
    if (chosen.empty()) {
        return RunOutcome::FolderCancelled;
    }
    const auto outputRoot = paths::EnsureTrailingSeparator(chosen);
    if (!Yield(true)) {
        return Stop();
    }

    view_.setConvertEnabled(false);
    view_.setBarRange(Bar::ProgressBar1, 0, 100);

    // The reader reports to this run while it runs.
    struct SinkSwap {
        scanner::MailboxReader& reader;
        scanner::ReaderSink& previous;
        ~SinkSwap() { reader.setSink(previous); }
    } swap{*reader_, reader_->sink()};
    reader_->setSink(*bridge_);
    scanner::SearchState& state = reader_->state();

    const bool store = req.format == Format::Pst || req.format == Format::Msg;
    const std::string_view extension = req.format == Format::Emlx ? ".emlx" : ".eml";

    if (req.format == Format::Msg) {
        if (steps_ == nullptr || !steps_->OpenRunStore(outputRoot)) {
            return EndWithSessionError();
        }
        storeOpen_ = true;
    }

    const auto rowCount = req.rows.size();
    for (std::size_t row = 0; row < rowCount; ++row) {
        view_.setCurrentRow(static_cast<int>(row));
        state.Reset();
        if (!Yield()) {
            return Stop();
        }
        view_.setLabel(Label::LblProgessCurrent, "Mailbox " + std::to_string(row + 1) + " (of " +
                                                     std::to_string(rowCount) + ") ");

        const auto mailboxPath = TrimSpaces(req.rows[row]);
        // An empty row has no file name. It goes through the scan like any other unusable row
        // (the reader says "Enter name of the file to be searched...") but opens no store and
        // creates no folder.
        std::string fileName;
        bool emptyRow = false;
        try {
            fileName = paths::FileNameOfPath(mailboxPath);
        } catch (const paths::NoComponentError&) {
            emptyRow = true;
        }
        const auto mailboxName = MailboxName(fileName);
        const auto mailboxFolder = MailboxFolder(outputRoot, mailboxPath);

        if (req.format == Format::Pst && !emptyRow) {
            if (steps_ == nullptr || !steps_->OpenMailboxStore(outputRoot, mailboxName)) {
                return EndWithSessionError();
            }
            storeOpen_ = true;
        }
        if (store && !emptyRow) {
            steps_->AddMailboxFolder(mailboxName);
        }

        view_.setLabel(Label::LblIMMFile, fileName);
        Yield();
        view_.setLabel(Label::LblHappening, "Setting Mail Search Filter...");
        reader_->Text2 = kSeparatorText;
        Yield();
        view_.setLabel(Label::LblEmlsFound, "");
        view_.setLabel(Label::LblProgress, "");

        reader_->Open_MBOX(mailboxPath);
        Yield();
        view_.setBarRange(Bar::ProgressBar2, 0, 100);
        reader_->Find_Click();
        Yield();
        // The reader ends the search on its failure paths too; the MatchPos test is a second
        // guard against looping on a reader that has nothing more to look at.
        while (!state.endOfSearch && !ending_ && reader_->MatchPos() >= 0) {
            reader_->FindNext_Click();
            Yield();
        }
        reader_->CloseFile();
        if (ending_) {
            return Stop();
        }

        if (!emptyRow) {
            paths::EnsureFolderExists(mailboxFolder);
        }
        Yield();

        const std::span<const std::uint64_t> offsets(state.offsets);
        view_.setLabel(Label::LblEmlsFound, std::to_string(offsets.size()) + " Messages");
        Yield();
        view_.setLabel(Label::LblHappening, "Saving email messages...");

        MailboxFile mailbox(options_.copyBlockSize);
        const bool readable = !offsets.empty() && mailbox.Open(mailboxPath);
        for (std::size_t k = 0; k < offsets.size(); ++k) {
            if (readable) {
                auto text = ReadMessageText(mailbox, offsets, k, bridge_.get());
                WriteMessageFile(mailboxFolder, k, extension, text);
            }
            if (ending_) {
                return Stop();
            }
            view_.setLabel(Label::LblProgress, "Saved " + std::to_string(k + 1) + " Message(s)");
            if (store) {
                steps_->ImportMessage(MessageFilePath(mailboxFolder, k, ".eml"), mailboxFolder, k);
            }
        }
        mailbox.Close();

        if (!Yield()) {
            return Stop();
        }
        const double percent = static_cast<double>(row + 1) / static_cast<double>(rowCount) * 100.0;
        view_.setBarValue(Bar::ProgressBar1, static_cast<float>(percent));
        if (req.format == Format::Pst && storeOpen_) {
            steps_->CloseStore();
            storeOpen_ = false;
        }
        // Each mailbox ends with its final values on screen.
        if (!Yield(true)) {
            return Stop();
        }
    }

    if (req.format == Format::Msg && storeOpen_) {
        steps_->CloseStore();
        storeOpen_ = false;
    }

    desktop_.messageBox(kAppTitle, CompletionText(req.format), desktop::Icon::Information,
                        desktop::Buttons::Ok);
    view_.setConvertEnabled(true);
    view_.clearFormats();
    return RunOutcome::Completed;
}

} // namespace mbx::convert
