#include "convert/message_file.h"

#include "convert/faults.h"
#include "mailstore/mapi/digest.h"
#include "selection/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

namespace mbx::convert {

MailboxFile::MailboxFile(std::size_t blockSize) : block_(std::max<std::size_t>(blockSize, 1)) {}

MailboxFile::~MailboxFile() {
    close();
}

bool MailboxFile::open(const std::string& path, std::optional<std::uint64_t> searchedSize) {
    close();
    // The messages are read front to back, once.
    if (!file_.open(platform::pathFromUtf8(path), platform::File::Access::ReadSequential)) {
        return false;
    }
    size_ = searchedSize.value_or(file_.size());
    blockStart_ = 0;
    blockLen_ = 0;
    return true;
}

void MailboxFile::close() {
    file_.close();
    size_ = 0;
    blockLen_ = 0;
}

std::string_view MailboxFile::bytes(std::uint64_t pos, std::uint64_t max) {
    if (!file_.isOpen() || pos >= size_ || max == 0) {
        return {};
    }
    if (!(pos >= blockStart_ && pos < blockStart_ + blockLen_)) {
        blockStart_ = pos;
        blockLen_ = file_.readAt(block_.data(), block_.size(), pos);
        if (blockLen_ == 0) {
            return {};
        }
    }
    const auto inBlock = static_cast<std::size_t>(pos - blockStart_);
    const auto available = blockLen_ - inBlock;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(available, max));
    return {block_.data() + inBlock, count};
}

MessageText::MessageText(MailboxFile& mailbox, std::uint64_t begin, std::uint64_t end, bool last,
                         ExtractObserver* observer)
    : mailbox_(mailbox), begin_(begin), end_(std::max(begin, end)), pos_(begin_),
      nextLabel_(kLabelChunk), lastLabel_(lastByteLabel(end_ - begin_, last)), observer_(observer) {
}

std::uint64_t lastByteLabel(std::uint64_t length, bool last) {
    if (last) {
        return length == 0 ? 0 : (length - 1) / kLabelChunk * kLabelChunk;
    }
    return length / kLabelChunk * kLabelChunk;
}

std::string_view MessageText::next() {
    if (stopped_ || failed_ || pos_ >= end_) {
        return {};
    }
    const auto bytes = mailbox_.bytes(pos_, end_ - pos_);
    if (bytes.empty()) {
        failed_ = true;
        return {};
    }
    pos_ += bytes.size();
    if (observer_ != nullptr) {
        const auto soFar = pos_ - begin_;
        while (nextLabel_ <= lastLabel_ && nextLabel_ <= soFar) {
            observer_->byteUpdate(nextLabel_, mailbox_.size());
            nextLabel_ += kLabelChunk;
        }
        if (!observer_->yield()) {
            stopped_ = true;
        }
    }
    return bytes;
}

MessageText readMessageText(MailboxFile& mailbox, std::span<const std::uint64_t> offsets,
                            std::size_t k, ExtractObserver* observer) {
    const auto size = mailbox.size();
    const bool last = k + 1 >= offsets.size();
    const auto begin = k < offsets.size() ? std::min(offsets[k], size) : size;
    const auto end = last ? size : std::min(offsets[k + 1], size);
    return MessageText(mailbox, begin, end, last, observer);
}

std::string messageFilePath(const std::string& mailboxFolder, std::size_t k,
                            std::string_view extension) {
    std::string path = mailboxFolder;
    path += paths::kSeparator;
    path += "email-";
    path += std::to_string(k);
    path += extension;
    return path;
}

namespace {

// Blank trimming as the message goes by: leading blanks are dropped as they come; trailing ones
// are held back until a later byte shows they are not trailing, so only their count is kept.
template <typename Emit> class Trimmer {
public:
    explicit Trimmer(Emit emit) : emit_(emit) {}
    void add(std::string_view block) {
        if (!started_) {
            const auto first = block.find_first_not_of(' ');
            if (first == std::string_view::npos) {
                return;
            }
            started_ = true;
            block.remove_prefix(first);
        }
        const auto lastKept = block.find_last_not_of(' ');
        if (lastKept == std::string_view::npos) {
            pendingSpaces_ += block.size();
            return;
        }
        static constexpr char kSpaces[64] = {
            ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
            ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
            ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
            ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        while (pendingSpaces_ > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(pendingSpaces_, 64));
            emit_(std::string_view(kSpaces, n));
            pendingSpaces_ -= n;
        }
        emit_(block.substr(0, lastKept + 1));
        pendingSpaces_ = block.size() - lastKept - 1;
    }

private:
    Emit emit_;
    bool started_ = false;
    std::uint64_t pendingSpaces_ = 0;
};

// Buffered output to one file; small messages end up as a single write.
class OutFile {
public:
    OutFile(const std::string& path, FaultHooks* faults) : path_(path), faults_(faults) {
        if (!file_.create(platform::pathFromUtf8(path))) {
            error_ = file_.error();
            what_ = "cannot create the file";
        }
    }
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    bool ok() const { return error_ == 0; }
    int error() const { return error_; }
    const char* what() const { return what_; }

    void append(std::string_view data) {
        if (data.size() <= kBuffer - used_) {
            std::memcpy(buffer_ + used_, data.data(), data.size());
            used_ += data.size();
            return;
        }
        flush();
        if (data.size() < kBuffer) {
            std::memcpy(buffer_, data.data(), data.size());
            used_ = data.size();
        } else {
            writeAll(data);
        }
    }
    bool finish() {
        flush();
        if (!file_.close() && ok()) {
            error_ = file_.error();
            what_ = "cannot complete the file";
        }
        return ok();
    }

private:
    static constexpr std::size_t kBuffer = 64 * 1024;

    void flush() {
        writeAll({buffer_, used_});
        used_ = 0;
    }
    void writeAll(std::string_view data) {
        while (!data.empty() && ok()) {
            if (faults_ != nullptr) {
                if (const int injected = faults_->beforeWrite(path_, written_, data.size())) {
                    error_ = injected;
                    what_ = "cannot write the file";
                    return;
                }
            }
            if (!file_.write(data.data(), data.size())) {
                error_ = file_.error();
                what_ = "cannot write the file";
                return;
            }
            written_ += data.size();
            data.remove_prefix(data.size());
        }
    }

    std::string path_;
    FaultHooks* faults_;
    platform::File file_;
    int error_ = 0;
    const char* what_ = "";
    std::uint64_t written_ = 0;
    std::size_t used_ = 0;
    char buffer_[kBuffer];
};

} // namespace

WriteResult writeMessageFile(const std::string& mailboxFolder, std::size_t k,
                             std::string_view extension, MessageText& text, FaultHooks* faults) {
    const auto path = messageFilePath(mailboxFolder, k, extension);
    auto out = std::make_unique<OutFile>(path, faults);
    if (!out->ok()) {
        // The message is still read through, so the progress it shows is the same.
        while (!text.next().empty()) {
        }
        return {WriteResult::Status::Failed, out->error(),
                std::string(out->what()) + " " + path + ": " + std::strerror(out->error())};
    }
    mapi::Digest digest;
    std::uint64_t size = 0;
    const auto append = [&](std::string_view piece) {
        digest.add(piece);
        size += piece.size();
        out->append(piece);
    };
    Trimmer trim(append);
    for (auto block = text.next(); !block.empty() && out->ok(); block = text.next()) {
        trim.add(block);
    }
    append("\r\n");
    const bool finished = out->finish();
    WriteResult result;
    result.size = size;
    result.digest = digest.value();
    if (text.stopped()) {
        result = {WriteResult::Status::Stopped, 0, {}};
    } else if (!finished) {
        result = {WriteResult::Status::Failed, out->error(),
                  std::string(out->what()) + " " + path + ": " + std::strerror(out->error())};
    } else if (text.failed()) {
        result = {WriteResult::Status::Failed, 0,
                  "the mailbox could not be read at byte " + std::to_string(text.beginOffset())};
    } else {
        return result;
    }
    // Never leave a file that looks complete but is not; say so when it stays.
    std::error_code removal;
    std::filesystem::remove(platform::pathFromUtf8(path), removal);
    if (removal && result.status == WriteResult::Status::Failed) {
        result.reason += "; the incomplete file could not be removed: " + removal.message();
    }
    return result;
}

bool readTrimmedMessage(MessageText& text, std::string& out) {
    out.clear();
    out.reserve(static_cast<std::size_t>(text.length()) + 2);
    Trimmer trim([&out](std::string_view piece) { out.append(piece); });
    for (auto block = text.next(); !block.empty(); block = text.next()) {
        trim.add(block);
    }
    out.append("\r\n");
    return !text.stopped() && !text.failed();
}

} // namespace mbx::convert
