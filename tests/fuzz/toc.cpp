// The readers of Eudora's tables of contents (Windows file, Mac file, AppleDouble resource fork)
// on hostile bytes, and the check of a table against messages derived from the input. The first
// input byte picks the reader; a table read is validated against the starts of its own records
// (so that deep checks are reached) and against starts shifted by one.
#include "harness.h"
#include "mailstore/mime/eudora_toc.h"

#include <algorithm>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mbx::mime::eudora;
    using mbx::fuzz::check;
    if (size < 1) {
        return 0;
    }
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    TocRead read;
    switch (data[0] % 3) {
    case 0:
        read = readWindowsToc(bytes);
        break;
    case 1:
        read = readMacToc(bytes);
        break;
    default:
        read = readAppleDoubleToc(bytes);
        break;
    }
    check(read.toc.has_value() != !read.reason.empty(), "a table or a reason");
    if (!read.toc) {
        return 0;
    }
    std::vector<std::uint64_t> starts;
    std::uint64_t end = 0;
    for (const auto& r : read.toc->records) {
        starts.push_back(r.offset);
        end = std::max(end, r.offset + r.length);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    for (const std::uint64_t shift : {0u, 1u}) {
        std::vector<std::uint64_t> moved = starts;
        for (auto& s : moved) {
            s += shift;
        }
        const std::uint64_t mailboxSize = read.toc->mailboxSize.value_or(end + shift);
        const Validated v = validate(*read.toc, moved, mailboxSize, {}, {"One"});
        if (!v.reason.empty()) {
            check(v.states.empty() && v.unlisted == 0, "a refused table gives no states");
            continue;
        }
        check(v.states.size() == moved.size(), "one state per message");
        const auto unlisted = static_cast<std::size_t>(std::count_if(
            v.states.begin(), v.states.end(), [](const auto& s) { return !s.listed; }));
        check(unlisted == v.unlisted, "unlisted count");
        check(moved.size() - unlisted == read.toc->records.size(), "every record used once");
    }
    return 0;
}
