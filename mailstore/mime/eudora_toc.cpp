#include "mailstore/mime/eudora_toc.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/charset.h"
#include "mailstore/mime/common.h"
#include "mailstore/mime/eudora_text.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace mbx::mime::eudora {

namespace fs = std::filesystem;
namespace tags = mapi::tags;
using namespace text;
using detail::startsWithNoCase;
using detail::toLower;
using detail::trim;

namespace {

// No table of Eudora's comes near this; a larger file is not one.
constexpr std::uintmax_t kLargestTable = 256u << 20;
// Seconds from 1904-01-01 (the Mac's epoch) to 1970-01-01.
constexpr std::int64_t kMacEpochOffset = 2082844800;

template <std::size_t N> std::uint32_t le(const std::array<std::uint8_t, N>& a) {
    std::uint32_t v = 0;
    for (std::size_t i = N; i-- > 0;) {
        v = (v << 8) | a[i];
    }
    return v;
}

template <std::size_t N> std::uint32_t be(const std::array<std::uint8_t, N>& a) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < N; ++i) {
        v = (v << 8) | a[i];
    }
    return v;
}

std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}
std::uint16_t be16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

template <typename T> T at(std::span<const std::uint8_t> bytes, std::size_t offset) {
    T out;
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    return out;
}

TocRead unusable(std::string reason) {
    return {std::nullopt, std::move(reason)};
}

std::optional<Status> windowsStatus(std::uint32_t state) {
    static constexpr Status kStates[] = {Status::Unread,    Status::Read,       Status::Replied,
                                         Status::Forwarded, Status::Redirected, Status::Unsendable,
                                         Status::Sendable,  Status::Queued,     Status::Sent,
                                         Status::Unsent,    Status::TimeQueued, Status::Spooled,
                                         Status::Recovered};
    if (state >= std::size(kStates)) {
        return std::nullopt;
    }
    return kStates[state];
}

std::optional<Status> macStatus(std::uint32_t state) {
    static constexpr Status kStates[] = {Status::Unread,     Status::Read,       Status::Replied,
                                         Status::Redirected, Status::Unsendable, Status::Sendable,
                                         Status::Queued,     Status::Forwarded,  Status::Sent,
                                         Status::Unsent,     Status::TimeQueued, Status::Spooled,
                                         Status::SendError,  Status::Rebuilt};
    if (state < 1 || state > std::size(kStates)) {
        return std::nullopt;
    }
    return kStates[state - 1];
}

std::optional<std::vector<std::uint8_t>> readFile(const fs::path& path, std::string& reason) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) {
        reason = "cannot be read";
        return std::nullopt;
    }
    if (size > kLargestTable) {
        reason = "larger than any table Eudora wrote";
        return std::nullopt;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()))) {
        reason = "cannot be read";
        return std::nullopt;
    }
    return data;
}

bool regularFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && !ec;
}

} // namespace

TocRead readWindowsToc(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kHeader = sizeof(WindowsTocHeader);
    constexpr std::size_t kRecord = sizeof(WindowsTocRecord);
    if (bytes.size() < kHeader) {
        return unusable("shorter than its header");
    }
    const auto header = at<WindowsTocHeader>(bytes, 0);
    const std::uint32_t version = le(header.version);
    if (version != 0x30 && version != 0x31) {
        return unusable("unknown version " + std::to_string(version));
    }
    if ((bytes.size() - kHeader) % kRecord != 0) {
        return unusable("its size is not a whole number of records");
    }
    const std::size_t n = (bytes.size() - kHeader) / kRecord;
    if ((n & 0xFFFF) != le(header.count)) {
        return unusable("it holds " + std::to_string(n) + " records but says " +
                        std::to_string(le(header.count)));
    }
    Toc toc;
    toc.family = Family::Windows;
    if (const std::uint32_t size = le(header.mailboxSize); size != 0) {
        toc.mailboxSize = std::uint64_t{size} - 1;
    }
    toc.records.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto r = at<WindowsTocRecord>(bytes, kHeader + i * kRecord);
        const auto status = windowsStatus(le(r.state));
        const std::uint32_t priority = r.priority[0];
        const std::uint32_t label = le(r.label);
        if (!status) {
            return unusable("record " + std::to_string(i) + " has the unknown state " +
                            std::to_string(le(r.state)));
        }
        if (priority > 5 || label > 0x7FFF) {
            return unusable("record " + std::to_string(i) + " has an impossible priority or label");
        }
        TocRecord rec;
        rec.offset = le(r.offset);
        rec.length = le(r.length);
        rec.status = *status;
        rec.priority = static_cast<int>(priority);
        rec.label = static_cast<int>(label);
        rec.flags = le(r.flags);
        rec.unixSeconds = static_cast<std::int32_t>(le(r.seconds));
        toc.records.push_back(rec);
    }
    return {std::move(toc), {}};
}

TocRead readMacToc(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kHeader = sizeof(MacTocHeader);
    constexpr std::size_t kRecord = sizeof(MacTocRecord);
    if (bytes.size() < kHeader + kRecord) {
        return unusable("shorter than its header");
    }
    const auto header = at<MacTocHeader>(bytes, 0);
    if (be(header.version) != 1) {
        return unusable("unknown version " + std::to_string(be(header.version)));
    }
    const std::size_t n = be(header.count);
    if (n > 0x7FFF || bytes.size() != kHeader + std::max<std::size_t>(n, 1) * kRecord) {
        return unusable("its size does not match its " + std::to_string(n) + " records");
    }
    Toc toc;
    toc.family = Family::Mac;
    if (const std::uint32_t size = be(header.mailboxSize); size != 0) {
        toc.mailboxSize = std::uint64_t{size} - 1;
    }
    toc.records.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto r = at<MacTocRecord>(bytes, kHeader + i * kRecord);
        const auto status = macStatus(be(r.state));
        if (!status) {
            return unusable("record " + std::to_string(i) + " has the unknown state " +
                            std::to_string(be(r.state)));
        }
        const std::uint32_t priority = be(r.priority);
        if (priority > 200) {
            return unusable("record " + std::to_string(i) + " has an impossible priority");
        }
        TocRecord rec;
        rec.offset = be(r.offset);
        rec.length = be(r.length);
        rec.status = *status;
        // Mac Eudora keeps priorities on a 1-200 scale and shows them as 1-5.
        rec.priority = priority == 0 ? 0 : static_cast<int>((priority + 20) / 40);
        rec.priority = std::clamp(rec.priority, priority == 0 ? 0 : 1, 5);
        rec.flags = be(r.flags);
        rec.label = static_cast<int>((rec.flags >> 14) & 0xF);
        const std::uint32_t seconds = be(r.seconds);
        rec.unixSeconds = seconds == 0 ? 0 : std::int64_t{seconds} - kMacEpochOffset;
        toc.records.push_back(rec);
    }
    return {std::move(toc), {}};
}

TocRead readAppleDoubleToc(std::span<const std::uint8_t> b) {
    // AppleDouble (RFC 1740): magic, version, 16 filler bytes, then entry descriptors.
    if (b.size() < 26 || be32(b, 0) != 0x00051607 || be32(b, 4) != 0x00020000) {
        return unusable("not an AppleDouble file");
    }
    const std::size_t entries = be16(b, 24);
    if (26 + entries * 12 > b.size()) {
        return unusable("its entry list runs past its end");
    }
    std::optional<std::span<const std::uint8_t>> fork;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t e = 26 + i * 12;
        const std::uint64_t offset = be32(b, e + 4);
        const std::uint64_t length = be32(b, e + 8);
        if (be32(b, e) == 2 && offset + length <= b.size()) {
            fork = b.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
        }
    }
    if (!fork) {
        return unusable("it holds no resource fork");
    }
    // Resource fork (Inside Macintosh: More Macintosh Toolbox, 1-121): header, data, map.
    const auto r = *fork;
    if (r.size() < 16) {
        return unusable("its resource fork is cut short");
    }
    const std::uint64_t dataOffset = be32(r, 0);
    const std::uint64_t mapOffset = be32(r, 4);
    const std::uint64_t dataLength = be32(r, 8);
    const std::uint64_t mapLength = be32(r, 12);
    if (dataOffset + dataLength > r.size() || mapOffset + mapLength > r.size() || mapLength < 30) {
        return unusable("its resource fork is damaged");
    }
    const auto map =
        r.subspan(static_cast<std::size_t>(mapOffset), static_cast<std::size_t>(mapLength));
    const std::size_t typeList = be16(map, 24);
    if (typeList + 2 > map.size()) {
        return unusable("its resource map is damaged");
    }
    const std::size_t types = (be16(map, typeList) + 1) & 0xFFFF;
    std::vector<std::span<const std::uint8_t>> found;
    for (std::size_t t = 0; t < types; ++t) {
        const std::size_t entry = typeList + 2 + t * 8;
        if (entry + 8 > map.size()) {
            return unusable("its resource map is damaged");
        }
        if (std::memcmp(map.data() + entry, "TOCF", 4) != 0) {
            continue;
        }
        const std::size_t count = (be16(map, entry + 4) + 1) & 0xFFFF;
        const std::size_t refs = typeList + be16(map, entry + 6);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t ref = refs + k * 12;
            if (ref + 12 > map.size()) {
                return unusable("its resource map is damaged");
            }
            const std::uint64_t where = dataOffset + (be32(map, ref + 4) & 0xFFFFFF);
            if (where + 4 > dataOffset + dataLength) {
                return unusable("its resource map is damaged");
            }
            const std::uint64_t length = be32(r, static_cast<std::size_t>(where));
            if (where + 4 + length > dataOffset + dataLength) {
                return unusable("a resource runs past the resource data");
            }
            found.push_back(
                r.subspan(static_cast<std::size_t>(where + 4), static_cast<std::size_t>(length)));
            if (found.size() > 1) {
                return unusable("it holds more than one table of contents");
            }
        }
    }
    if (found.empty()) {
        return unusable("it holds no table of contents");
    }
    return readMacToc(found.front());
}

FoundToc findToc(const fs::path& mailbox) {
    FoundToc out;
    fs::path toc = mailbox;
    if (mailbox.has_extension()) {
        toc.replace_extension(".toc");
    } else {
        toc += ".toc";
    }
    const fs::path appleDouble = mailbox.parent_path() / (fs::path("._") += mailbox.filename());
    const bool windowsFirst = mailbox.has_extension();
    if (regularFile(toc)) {
        out.file = toc;
        std::string reason;
        const auto bytes = readFile(toc, reason);
        if (!bytes) {
            out.read = unusable(reason);
            return out;
        }
        out.read = windowsFirst ? readWindowsToc(*bytes) : readMacToc(*bytes);
        if (!out.read.toc) {
            TocRead other = windowsFirst ? readMacToc(*bytes) : readWindowsToc(*bytes);
            if (other.toc) {
                out.read = std::move(other);
            }
        }
        if (out.read.toc || !regularFile(appleDouble)) {
            return out;
        }
    }
    if (regularFile(appleDouble)) {
        std::string reason;
        const auto bytes = readFile(appleDouble, reason);
        TocRead read = bytes ? readAppleDoubleToc(*bytes) : unusable(reason);
        if (read.toc || out.file.empty()) {
            out.file = appleDouble;
            out.read = std::move(read);
        }
    }
    return out;
}

Validated validate(const Toc& toc, std::span<const std::uint64_t> starts, std::uint64_t mailboxSize,
                   std::span<const std::uint64_t> separatorEnds,
                   const std::vector<std::string>& names) {
    Validated out;
    auto refuse = [&out](std::string reason) {
        out.states.clear();
        out.unlisted = 0;
        out.reason = std::move(reason);
        return out;
    };
    if (toc.mailboxSize && *toc.mailboxSize != mailboxSize) {
        return refuse("written for a mailbox of " + std::to_string(*toc.mailboxSize) +
                      " bytes; the mailbox has " + std::to_string(mailboxSize));
    }
    if (!std::is_sorted(starts.begin(), starts.end()) ||
        (!separatorEnds.empty() && separatorEnds.size() != starts.size())) {
        return refuse("the messages found are not in order");
    }
    if (toc.records.size() > starts.size()) {
        return refuse("it lists " + std::to_string(toc.records.size()) +
                      " messages; the mailbox has " + std::to_string(starts.size()));
    }
    std::vector<int> recordOf(starts.size(), -1);
    for (std::size_t i = 0; i < toc.records.size(); ++i) {
        const TocRecord& r = toc.records[i];
        // The message whose separator line the record starts in.
        const auto next = std::upper_bound(starts.begin(), starts.end(), r.offset);
        if (next == starts.begin()) {
            return refuse("record " + std::to_string(i) + " starts at byte " +
                          std::to_string(r.offset) + ", before the first message");
        }
        const auto k = static_cast<std::size_t>(next - starts.begin()) - 1;
        const std::uint64_t lineEnd = separatorEnds.empty() ? starts[k] + 1 : separatorEnds[k];
        if (r.offset >= std::max(lineEnd, starts[k] + 1)) {
            return refuse("record " + std::to_string(i) + " starts at byte " +
                          std::to_string(r.offset) + ", where no message starts");
        }
        const std::uint64_t end = k + 1 < starts.size() ? starts[k + 1] : mailboxSize;
        if (r.length > mailboxSize || r.offset + r.length != end) {
            return refuse("record " + std::to_string(i) + " (byte " + std::to_string(r.offset) +
                          ") does not end where its message ends");
        }
        if (recordOf[k] >= 0) {
            return refuse("records " + std::to_string(recordOf[k]) + " and " + std::to_string(i) +
                          " name the same message");
        }
        recordOf[k] = static_cast<int>(i);
    }
    out.states.resize(starts.size());
    for (std::size_t k = 0; k < starts.size(); ++k) {
        MessageState& s = out.states[k];
        if (recordOf[k] < 0) {
            s.listed = false;
            ++out.unlisted;
            continue;
        }
        const TocRecord& r = toc.records[static_cast<std::size_t>(recordOf[k])];
        s.status = r.status;
        s.priority = r.priority;
        if (r.label > 0) {
            s.label = labelCategory(r.label, names);
        }
    }
    return out;
}

std::vector<std::string> parseLabels(std::string_view ini) {
    std::vector<std::string> names;
    bool inLabels = false;
    forEachLine(ini, [&](std::string_view raw) {
        const std::string_view line = trim(raw);
        if (line.starts_with('[')) {
            inLabels = toLower(line) == "[labels]";
            return;
        }
        if (!inLabels || !startsWithNoCase(line, "label")) {
            return;
        }
        const auto eq = line.find('=');
        const std::string_view number =
            trim(line.substr(5, eq == std::string_view::npos ? 0 : eq - 5));
        if (eq == std::string_view::npos || number.empty() || number.size() > 3 ||
            !std::all_of(number.begin(), number.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return;
        }
        const int n = std::stoi(std::string(number));
        std::string_view value = line.substr(eq + 1);
        for (int comma = 0; comma < 3; ++comma) {
            const auto at = value.find(',');
            value = at == std::string_view::npos ? std::string_view{} : value.substr(at + 1);
        }
        if (n < 1) {
            return;
        }
        if (names.size() < static_cast<std::size_t>(n)) {
            names.resize(static_cast<std::size_t>(n));
        }
        names[static_cast<std::size_t>(n - 1)] = decodeUnlabelled(trim(value));
    });
    return names;
}

std::vector<std::string> labelNames(const fs::path& mailbox) {
    std::error_code ec;
    fs::path dir = fs::absolute(mailbox, ec).parent_path();
    if (ec) {
        return {};
    }
    for (;;) {
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const auto u8 = it->path().filename().u8string();
            if (toLower(std::string(u8.begin(), u8.end())) == "eudora.ini" &&
                regularFile(it->path())) {
                std::string reason;
                const auto bytes = readFile(it->path(), reason);
                if (!bytes) {
                    return {};
                }
                return parseLabels(
                    std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
            }
        }
        const fs::path parent = dir.parent_path();
        if (parent.empty() || parent == dir) {
            return {};
        }
        dir = parent;
    }
}

std::string labelCategory(int n, const std::vector<std::string>& names) {
    if (n >= 1 && static_cast<std::size_t>(n) <= names.size() &&
        !names[static_cast<std::size_t>(n - 1)].empty()) {
        return names[static_cast<std::size_t>(n - 1)];
    }
    return "Label " + std::to_string(n);
}

bool isMacMailbox(std::string_view head, bool macTableBeside) {
    if (macTableBeside) {
        return true;
    }
    head = head.substr(0, 4096);
    std::size_t lone = 0;
    std::size_t lf = 0;
    for (std::size_t i = 0; i < head.size() && lone + lf < 8; ++i) {
        if (head[i] == '\n') {
            ++lf;
        } else if (head[i] == '\r') {
            if (i + 1 < head.size() && head[i + 1] == '\n') {
                ++lf;
                ++i;
            } else if (i + 1 < head.size()) {
                ++lone;
            }
        }
    }
    return lone > lf;
}

void applyState(mapi::Message& message, const MessageState& state) {
    mapi::PropertyBag& p = message.props;
    std::vector<std::string> categories;
    if (!state.listed) {
        categories.emplace_back(kUnlistedCategory);
    } else {
        const std::int32_t kept = p.int32(tags::MessageFlags).value_or(0) & tags::MsgFlagHasAttach;
        std::int32_t flags = kept;
        std::int32_t icon = tags::IconReadMail;
        switch (state.status) {
        case Status::Unread:
            icon = tags::IconUnreadMail;
            break;
        case Status::Replied:
            p.set(tags::LastVerbExecuted, tags::VerbReplyToSender);
            icon = tags::IconRepliedMail;
            break;
        case Status::Forwarded:
        case Status::Redirected:
            p.set(tags::LastVerbExecuted, tags::VerbForward);
            icon = tags::IconForwardedMail;
            break;
        case Status::Unsendable:
        case Status::Sendable:
        case Status::Queued:
        case Status::Unsent:
        case Status::TimeQueued:
        case Status::SendError:
            flags |= tags::MsgFlagUnsent;
            icon = tags::IconUnsentMail;
            break;
        case Status::Spooled:
            icon = tags::IconSubmittedMail;
            break;
        case Status::Sent:
        case Status::Read:
        case Status::Recovered:
        case Status::Rebuilt:
            break;
        }
        if (state.status != Status::Unread) {
            flags |= tags::MsgFlagRead;
        }
        p.set(tags::MessageFlags, flags);
        p.set(tags::IconIndex, icon);
        if (state.priority >= 1 && state.priority <= 5) {
            // 1-2 high, 3 normal, 4-5 low, as Eudora shows them.
            const std::int32_t importance = state.priority <= 2 ? 2 : (state.priority == 3 ? 1 : 0);
            p.set(tags::Importance, importance);
            p.set(tags::Priority, std::int32_t{importance - 1});
        }
        if (!state.label.empty()) {
            categories.push_back(state.label);
        }
    }
    if (!categories.empty()) {
        p.setNamed(mapi::NamedKey{mapi::guids::PublicStrings, std::string("Keywords")},
                   mapi::PropType::MvUnicode, std::move(categories));
    }
}

} // namespace mbx::mime::eudora
