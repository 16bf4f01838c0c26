#include "scanner/mailbox_reader.h"

#include "scanner/read_at.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mbx::scanner {

namespace {

constexpr const char* kTitle = "File Reader";
constexpr std::int64_t kEchoWidth = 512;

std::string TrimSpaces(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// Size of a regular file; false for a missing path, a folder or anything else.
bool MeasureFile(const std::string& path, std::uint64_t& size) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

} // namespace

unsigned char UpperCase1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned char>(c - 0x20);
    }
    switch (c) {
    case 0x9A: // s caron
    case 0x9C: // oe
    case 0x9E: // z caron
        return static_cast<unsigned char>(c - 0x10);
    case 0xFF: // y diaeresis
        return 0x9F;
    default:
        break;
    }
    // Latin-1 small letters a grave .. thorn, except the division sign.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<unsigned char>(c - 0x20);
    }
    return c;
}

MailboxReader::MailboxReader(SearchState& state, ReaderSink& sink, std::size_t blockSize)
    : state_(state), sink_(&sink), blockSize_(std::max<std::size_t>(blockSize, 1)) {}

MailboxReader::~MailboxReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool MailboxReader::Yield() {
    if (!stopRequested_ && !sink_->yield()) {
        stopRequested_ = true;
    }
    return !stopRequested_;
}

// The failure paths end the search as well, so that a caller looping on FindNext_Click until the
// end-of-search flag is set always comes to an end.
void MailboxReader::EndSearchOnFailure() {
    state_.endOfSearch = true;
}

void MailboxReader::WriteFileSizeLine() {
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
    if (!MeasureFile(filePath_, size)) {
        // Not reported here: the Find step reports a missing file itself.
        EndSearchOnFailure();
        return;
    }
    fileSize_ = size;
    Yield();
    if (fileSize_ < 2) {
        sink_->beep();
        sink_->warning("File size is " + std::to_string(fileSize_) +
                           " byte !\r\rFile can not open for string searching !",
                       desktop::Icon::Exclamation, kTitle);
        EndSearchOnFailure();
        return;
    }
    Yield();
    matchPos_ = -1;
    if (fd_ >= 0) {
        ::close(fd_);
    }
    blockLen_ = 0;
    fd_ = ::open(filePath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        fileNo_ = 0;
        EndSearchOnFailure();
        return;
    }
    fileNo_ = 1;
    WriteFileSizeLine();
}

void MailboxReader::Find_Click() {
    const auto name = TrimSpaces(Text1);
    if (name.empty()) {
        sink_->beep();
        sink_->warning("Enter name of the file to be searched...", desktop::Icon::None, kTitle);
        // The open file is only forgotten by the window; closing it here loses nothing.
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        blockLen_ = 0;
        fileNo_ = 0;
        EndSearchOnFailure();
        return;
    }
    if (fileNo_ <= 0) {
        filePath_ = name;
        std::uint64_t size = 0;
        if (!MeasureFile(filePath_, size)) {
            sink_->beep();
            sink_->warning("File not found !", desktop::Icon::Exclamation, kTitle);
            fileNo_ = 0;
            sink_->focusText1();
            EndSearchOnFailure();
            return;
        }
        OpenFile();
        if (fileNo_ == 0) {
            sink_->beep();
            sink_->warning("File could not open !", desktop::Icon::Exclamation, kTitle);
            EndSearchOnFailure();
            return;
        }
    }
    WriteFileSizeLine();
    readPos_ = 0;
    SearchString();
}

void MailboxReader::FindNext_Click() {
    if (matchPos_ < 0) {
        sink_->beep();
        EndSearchOnFailure();
        return;
    }
    readPos_ = matchPos_ + searchLen_;
    WriteFileSizeLine();
    SearchString();
}

void MailboxReader::CloseFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    blockLen_ = 0;
    Yield();
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
    if (sink_->surfaceShown()) {
        sink_->writeSurface("\n\r\n");
        sink_->writeSurface("[EOF]\r\n");
    }
    state_.endOfSearch = true;
}

void MailboxReader::GetString() {
    const std::string& typed = Text2;
    searchLen_ = static_cast<std::int64_t>(typed.size());
    if (searchLen_ > 2 && typed.front() == '"' && typed.back() == '"') {
        searchLen_ -= 2;
        searchStr_ = typed.substr(1, typed.size() - 2);
        Yield();
    } else {
        searchStr_ = typed;
    }
    if (!Check1) {
        for (auto& ch : searchStr_) {
            ch = static_cast<char>(UpperCase1252(static_cast<unsigned char>(ch)));
        }
    }
}

bool MailboxReader::Cover(std::uint64_t pos, std::size_t need) {
    if (pos >= blockStart_ && pos + need <= blockStart_ + blockLen_) {
        return true;
    }
    if (fd_ < 0) {
        return false;
    }
    const std::size_t want = std::max(blockSize_, need);
    if (block_.size() < want) {
        block_.resize(want);
    }
    blockStart_ = pos;
    blockLen_ = ReadAt(fd_, block_.data(), want, pos);
    return blockLen_ >= need;
}

// Equivalent to examining one candidate per byte from ReadPos, each failed candidate consuming
// the bytes it read: bytes that cannot start a match are skipped in bulk (memchr, or a table for
// the case-insensitive search), and only real candidates are compared byte by byte.
void MailboxReader::ScanString() {
    const auto size = static_cast<std::int64_t>(fileSize_);
    const auto len = searchLen_;
    auto noMatch = [this](std::int64_t pos) {
        readPos_ = pos;
        matchPos_ = -1;
        matchFlag_ = false;
    };
    // An empty search text finds nothing (it would otherwise match at the same place forever).
    if (len <= 0) {
        noMatch(readPos_);
        return;
    }
    const bool fold = !Check1;
    const auto* pattern = reinterpret_cast<const unsigned char*>(searchStr_.data());
    const unsigned char first = pattern[0];
    std::array<bool, 256> starts{};
    for (int b = 0; b < 256; ++b) {
        const auto ub = static_cast<unsigned char>(b);
        starts[ub] = (fold ? UpperCase1252(ub) : ub) == first;
    }

    std::int64_t r = readPos_;
    while (true) {
        if (stopRequested_ || size - len <= r) {
            noMatch(r);
            return;
        }
        const std::int64_t limit = size - len; // candidates start below this offset
        const auto pos = static_cast<std::uint64_t>(r);
        if (!(pos >= blockStart_ && pos < blockStart_ + blockLen_)) {
            // A new block: holes of a sparse file hold only zero bytes, which cannot start a
            // candidate unless the search text begins with one.
            if (first != 0 && fd_ >= 0) {
                const off_t data = ::lseek(fd_, static_cast<off_t>(pos), SEEK_DATA);
                if (data < 0 && errno == ENXIO) {
                    r = limit;
                    continue;
                }
                if (data > static_cast<off_t>(pos)) {
                    r = std::min<std::int64_t>(data, limit);
                    continue;
                }
            }
            if (!Cover(pos, 1) || !Yield()) {
                noMatch(r);
                return;
            }
        }
        const auto* base = reinterpret_cast<const unsigned char*>(block_.data());
        const std::int64_t blockEnd = static_cast<std::int64_t>(blockStart_ + blockLen_);
        const std::int64_t scanEnd = std::min(blockEnd, limit);
        const auto* from = base + (r - static_cast<std::int64_t>(blockStart_));
        const auto count = static_cast<std::size_t>(scanEnd - r);
        const unsigned char* hit = nullptr;
        if (!fold) {
            hit = static_cast<const unsigned char*>(std::memchr(from, first, count));
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                if (starts[from[i]]) {
                    hit = from + i;
                    break;
                }
            }
        }
        if (hit == nullptr) {
            r = scanEnd;
            continue;
        }
        const std::int64_t c = r + (hit - from);
        if (!Cover(static_cast<std::uint64_t>(c), static_cast<std::size_t>(len))) {
            noMatch(c);
            return;
        }
        const auto* cand = reinterpret_cast<const unsigned char*>(block_.data()) +
                           (c - static_cast<std::int64_t>(blockStart_));
        std::int64_t j = 1;
        for (; j < len; ++j) {
            const unsigned char b = fold ? UpperCase1252(cand[j]) : cand[j];
            if (b != pattern[j]) {
                break;
            }
        }
        if (j == len) {
            readPos_ = c;
            matchPos_ = c;
            matchFlag_ = true;
            return;
        }
        r = c + j + 1; // the byte that failed is consumed with the candidate
    }
}

std::string MailboxReader::ReadSome(std::uint64_t pos, std::size_t count) {
    std::string out;
    if (count == 0 || fd_ < 0) {
        return out;
    }
    if (Cover(pos, count)) {
        out.assign(block_.data() + (pos - blockStart_), count);
        return out;
    }
    out.resize(count);
    out.resize(ReadAt(fd_, out.data(), count, pos));
    return out;
}

void MailboxReader::ShowString() {
    const bool shown = sink_->surfaceShown();
    if (shown) {
        sink_->writeSurface("Byte :" + std::to_string(readPos_) + "\r\n");
    }
    Yield();
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
        sink_->writeSurface(ReadSome(static_cast<std::uint64_t>(matchPos_),
                                     static_cast<std::size_t>(len + following)));
        Yield();
    }
    readPos_ = after;
}

} // namespace mbx::scanner
