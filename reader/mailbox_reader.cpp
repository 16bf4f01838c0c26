#include "reader/mailbox_reader.h"

#include "platform/file.h"

#include <cmath>
#include <filesystem>
#include <system_error>

namespace mbx::reader {

namespace {

constexpr const char* kTitle = "File Reader";
constexpr std::int64_t kEchoWidth = 512;

std::string trimSpaces(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// Size of a regular file; false for a missing path, a folder or anything else.
bool measureFile(const std::string& path, std::uint64_t& size) {
    std::error_code error;
    const auto file = platform::pathFromUtf8(path);
    if (path.empty() || !std::filesystem::is_regular_file(file, error)) {
        return false;
    }
    size = std::filesystem::file_size(file, error);
    return !error;
}

} // namespace

MailboxReader::MailboxReader(SearchState& state, ReaderSink& sink, std::size_t blockSize)
    : state_(state), sink_(&sink), search_({true, blockSize}) {}

MailboxReader::~MailboxReader() = default;

bool MailboxReader::yieldToSink() {
    if (!stopRequested_ && !sink_->yield()) {
        stopRequested_ = true;
    }
    return !stopRequested_;
}

// The failure paths end the search as well, so that a caller looping on FindNext_Click until the
// end-of-search flag is set always comes to an end.
void MailboxReader::endSearchOnFailure() {
    state_.endOfSearch = true;
}

void MailboxReader::writeFileSizeLine() {
    if (!sink_->surfaceShown()) {
        return;
    }
    sink_->clearSurface();
    sink_->writeSurface("FILE SIZE : " + std::to_string(fileSize_) + " bytes\r\n");
}

void MailboxReader::Open_MBOX(const std::string& fmboxname) {
    stopRequested_ = false;
    foundCount_ = 0;
    if (fileNo_ > 0) {
        sink_->beep();
        sink_->warning("Close current file before open a file!", desktop::Icon::Exclamation, "");
        return;
    }
    filePath_ = fmboxname;
    OpenFile();
    Text1 = filePath_;
    sink_->setText1(Text1);
}

void MailboxReader::OpenFile() {
    std::uint64_t size = 0;
    if (!measureFile(filePath_, size)) {
        // Not reported here: the Find step reports a missing file itself.
        endSearchOnFailure();
        return;
    }
    fileSize_ = size;
    yieldToSink();
    if (fileSize_ < 2) {
        sink_->beep();
        sink_->warning("File size is " + std::to_string(fileSize_) +
                           " byte !\r\rFile can not open for string searching !",
                       desktop::Icon::Exclamation, kTitle);
        endSearchOnFailure();
        return;
    }
    yieldToSink();
    matchPos_ = -1;
    if (!search_.open(filePath_)) {
        fileNo_ = 0;
        endSearchOnFailure();
        return;
    }
    fileNo_ = 1;
    writeFileSizeLine();
}

void MailboxReader::Find_Click() {
    const auto name = trimSpaces(Text1);
    if (name.empty()) {
        sink_->beep();
        sink_->warning("Enter name of the file to be searched...", desktop::Icon::None, kTitle);
        // The open file is only forgotten by the window; closing it here loses nothing.
        search_.close();
        fileNo_ = 0;
        endSearchOnFailure();
        return;
    }
    if (fileNo_ <= 0) {
        filePath_ = name;
        std::uint64_t size = 0;
        if (!measureFile(filePath_, size)) {
            sink_->beep();
            sink_->warning("File not found !", desktop::Icon::Exclamation, kTitle);
            fileNo_ = 0;
            sink_->focusText1();
            endSearchOnFailure();
            return;
        }
        OpenFile();
        if (fileNo_ == 0) {
            sink_->beep();
            sink_->warning("File could not open !", desktop::Icon::Exclamation, kTitle);
            endSearchOnFailure();
            return;
        }
    }
    writeFileSizeLine();
    readPos_ = 0;
    SearchString();
}

void MailboxReader::FindNext_Click() {
    if (matchPos_ < 0) {
        sink_->beep();
        endSearchOnFailure();
        return;
    }
    readPos_ = matchPos_ + searchLen_;
    writeFileSizeLine();
    SearchString();
}

void MailboxReader::CloseFile() {
    search_.close();
    yieldToSink();
    fileNo_ = 0;
}

void MailboxReader::Close_Click() {
    if (fileNo_ < 1) {
        sink_->beep();
        return;
    }
    CloseFile();
}

void MailboxReader::SearchString() {
    GetString();
    ScanString();
    if (matchFlag_) {
        ShowString();
        return;
    }
    state_.endOfSearch = true;
    if (search_.readFailed()) {
        // Not the end of the file: what follows was never seen, and the user must know.
        sink_->warning("The file could not be read past byte " +
                           std::to_string(search_.readFailedAt()) + " (" + search_.readError() +
                           "): the search ended there.",
                       desktop::Icon::Exclamation, kTitle);
        return;
    }
    if (sink_->surfaceShown()) {
        sink_->writeSurface("\n\r\n");
        sink_->writeSurface("[EOF]\r\n");
    }
}

void MailboxReader::GetString() {
    const std::string& typed = Text2;
    searchLen_ = static_cast<std::int64_t>(typed.size());
    if (searchLen_ > 2 && typed.front() == '"' && typed.back() == '"') {
        searchLen_ -= 2;
        searchStr_ = typed.substr(1, typed.size() - 2);
        yieldToSink();
    } else {
        searchStr_ = typed;
    }
    search_.setCaseSensitive(Check1);
    if (!Check1) {
        for (auto& ch : searchStr_) {
            ch = static_cast<char>(scanner::upperCase1252(static_cast<unsigned char>(ch)));
        }
    }
}

void MailboxReader::ScanString() {
    const auto hit = searchLen_ > 0 && !stopRequested_
                         ? search_.next(searchStr_, static_cast<std::uint64_t>(readPos_),
                                        [this] { return yieldToSink(); })
                         : std::nullopt;
    if (!hit) {
        matchPos_ = -1;
        matchFlag_ = false;
        return;
    }
    readPos_ = static_cast<std::int64_t>(*hit);
    matchPos_ = readPos_;
    matchFlag_ = true;
}

void MailboxReader::ShowString() {
    const bool shown = sink_->surfaceShown();
    if (shown) {
        sink_->writeSurface("Byte :" + std::to_string(readPos_) + "\r\n");
    }
    yieldToSink();
    state_.offsets.push_back(static_cast<std::uint64_t>(readPos_));
    // Round half to even, as the progress value has always been rounded.
    const double percent = static_cast<double>(readPos_) / static_cast<double>(fileSize_) * 100.0;
    sink_->setProgressBar2(static_cast<int>(std::nearbyint(percent)));
    ++foundCount_;
    sink_->setLblHappening("Searching for messages... Messages Found : " +
                           std::to_string(foundCount_));
    // The echo: the match, then what follows it, 512 bytes in all counted from the match start
    // (fewer near the end of the file).
    const auto len = searchLen_;
    const std::int64_t after = matchPos_ + len + 1;
    const std::int64_t rest = static_cast<std::int64_t>(fileSize_) - after;
    std::int64_t following = 0;
    if (rest > kEchoWidth - len) {
        following = kEchoWidth - len;
    } else if (rest > len) {
        following = rest - len;
    }
    following = std::max<std::int64_t>(following, 0);
    if (shown) {
        sink_->writeSurface(search_.bytesAt(static_cast<std::uint64_t>(matchPos_),
                                            static_cast<std::size_t>(len + following)));
        yieldToSink();
    }
    readPos_ = after;
}

} // namespace mbx::reader
