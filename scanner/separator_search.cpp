#include "scanner/separator_search.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace mbx::scanner {

unsigned char upperCase1252(unsigned char c) {
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

SeparatorSearch::SeparatorSearch(Options options) : options_(options) {
    options_.blockSize = std::max<std::size_t>(options_.blockSize, 1);
}

SeparatorSearch::~SeparatorSearch() {
    close();
}

bool SeparatorSearch::open(const std::string& path) {
    close();
    if (!file_.open(platform::pathFromUtf8(path))) {
        return false;
    }
    size_ = file_.size();
    return true;
}

void SeparatorSearch::close() {
    file_.close();
    size_ = 0;
    blockStart_ = 0;
    blockLen_ = 0;
    readFailedAt_.reset();
    readError_.clear();
}

bool SeparatorSearch::cover(std::uint64_t pos, std::size_t need) {
    if (pos >= blockStart_ && pos + need <= blockStart_ + blockLen_) {
        return true;
    }
    if (!file_.isOpen()) {
        return false;
    }
    const std::size_t want = std::max(options_.blockSize, need);
    if (block_.size() < want) {
        block_.resize(want);
    }
    blockStart_ = pos;
    blockLen_ = file_.readAt(block_.data(), want, pos);
    const std::uint64_t expected = pos < size_ ? std::min<std::uint64_t>(want, size_ - pos) : 0;
    if (blockLen_ < expected && !readFailedAt_) {
        const int error = file_.error();
        readFailedAt_ = pos + blockLen_;
        readError_ = error != 0 ? std::strerror(error) : "the file ended early";
    }
    return blockLen_ >= need;
}

// Equivalent to examining one candidate per byte from `from`, each failed candidate consuming
// the bytes it read: bytes that cannot start a match are skipped in bulk (memchr, or a table for
// the case-insensitive search), and only real candidates are compared byte by byte.
std::optional<std::uint64_t> SeparatorSearch::next(const std::string& pattern, std::uint64_t from,
                                                   const KeepGoing& keepGoing) {
    const auto len = static_cast<std::int64_t>(pattern.size());
    // An empty pattern finds nothing (it would otherwise match at the same place forever).
    if (len <= 0 || !file_.isOpen()) {
        return std::nullopt;
    }
    const bool fold = !options_.caseSensitive;
    std::string folded = pattern;
    if (fold) {
        for (auto& ch : folded) {
            ch = static_cast<char>(upperCase1252(static_cast<unsigned char>(ch)));
        }
    }
    const auto* want = reinterpret_cast<const unsigned char*>(folded.data());
    const unsigned char first = want[0];
    std::array<bool, 256> starts{};
    for (int b = 0; b < 256; ++b) {
        const auto ub = static_cast<unsigned char>(b);
        starts[ub] = (fold ? upperCase1252(ub) : ub) == first;
    }

    const auto size = static_cast<std::int64_t>(size_);
    const std::int64_t limit = size - len; // candidates start below this offset
    auto r = static_cast<std::int64_t>(std::min<std::uint64_t>(from, size_));
    while (r < limit) {
        const auto pos = static_cast<std::uint64_t>(r);
        if (!(pos >= blockStart_ && pos < blockStart_ + blockLen_)) {
            // A new block: holes of a sparse file hold only zero bytes, which cannot start a
            // candidate unless the pattern begins with one.
            if (first != 0) {
                const auto data = file_.nextData(pos);
                if (!data) {
                    return std::nullopt;
                }
                if (*data > pos) {
                    r = std::min<std::int64_t>(static_cast<std::int64_t>(*data), limit);
                    continue;
                }
            }
            if ((keepGoing && !keepGoing()) || !cover(pos, 1)) {
                return std::nullopt;
            }
        }
        const auto* base = reinterpret_cast<const unsigned char*>(block_.data());
        const auto blockEnd = static_cast<std::int64_t>(blockStart_ + blockLen_);
        const std::int64_t scanEnd = std::min(blockEnd, limit);
        const auto* at = base + (r - static_cast<std::int64_t>(blockStart_));
        const auto count = static_cast<std::size_t>(scanEnd - r);
        const unsigned char* hit = nullptr;
        if (!fold) {
            hit = static_cast<const unsigned char*>(std::memchr(at, first, count));
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                if (starts[at[i]]) {
                    hit = at + i;
                    break;
                }
            }
        }
        if (hit == nullptr) {
            r = scanEnd;
            continue;
        }
        const std::int64_t c = r + (hit - at);
        if (!cover(static_cast<std::uint64_t>(c), static_cast<std::size_t>(len))) {
            return std::nullopt;
        }
        const auto* cand = reinterpret_cast<const unsigned char*>(block_.data()) +
                           (c - static_cast<std::int64_t>(blockStart_));
        std::int64_t j = 1;
        for (; j < len; ++j) {
            const unsigned char b = fold ? upperCase1252(cand[j]) : cand[j];
            if (b != want[j]) {
                break;
            }
        }
        if (j == len) {
            return static_cast<std::uint64_t>(c);
        }
        r = c + j + 1; // the byte that failed is consumed with the candidate
    }
    return std::nullopt;
}

std::string SeparatorSearch::bytesAt(std::uint64_t pos, std::size_t count) {
    std::string out;
    if (count == 0 || !file_.isOpen()) {
        return out;
    }
    if (cover(pos, count)) {
        out.assign(block_.data() + (pos - blockStart_), count);
        return out;
    }
    out.resize(count);
    out.resize(file_.readAt(out.data(), count, pos));
    return out;
}

SearchResult findSeparators(const std::string& path, const std::string& pattern,
                            SeparatorSearch::Options options, SearchObserver* observer,
                            const std::atomic<bool>* cancel) {
    SearchResult result;
    std::error_code error;
    const auto file = platform::pathFromUtf8(path);
    if (path.empty() || !std::filesystem::is_regular_file(file, error)) {
        result.status = SearchResult::Status::NotFound;
        return result;
    }
    result.fileSize = std::filesystem::file_size(file, error);
    if (error) {
        result.status = SearchResult::Status::NotFound;
        return result;
    }
    if (result.fileSize < 2) {
        result.status = SearchResult::Status::TooSmall;
        return result;
    }
    SeparatorSearch search(options);
    if (!search.open(path)) {
        result.status = SearchResult::Status::CannotOpen;
        return result;
    }
    result.fileSize = search.fileSize();
    bool stopped = false;
    const SeparatorSearch::KeepGoing keepGoing = [&] {
        if ((cancel != nullptr && cancel->load(std::memory_order_relaxed)) ||
            (observer != nullptr && !observer->keepGoing())) {
            stopped = true;
        }
        return !stopped;
    };
    std::uint64_t from = 0;
    while (auto hit = search.next(pattern, from, keepGoing)) {
        result.offsets.push_back(*hit);
        if (observer != nullptr) {
            observer->matchFound(*hit, result.offsets.size(), result.fileSize);
        }
        from = *hit + pattern.size();
        if (!keepGoing()) {
            break;
        }
    }
    if (search.readFailed()) {
        result.status = SearchResult::Status::ReadFailed;
        result.readFailedAt = search.readFailedAt();
        result.readError = search.readError();
    } else if (stopped) {
        result.status = SearchResult::Status::Stopped;
    }
    return result;
}

} // namespace mbx::scanner
