// Eudora's table of contents: the binary file (or Mac resource) in which Eudora kept, beside each
// mailbox, one record per message with what its user saw of it: read or not, replied, forwarded,
// its priority and label. Reading one never changes which bytes of the mailbox are converted; a
// table is trusted only when every record agrees with the messages the separator search found.
#pragma once

#include "mailstore/mapi/property.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mime::eudora {

// ---------------------------------------------------------------------------------------------
// On-disk layouts. Byte arrays with named fields at the offsets Eudora wrote them; integers are
// little-endian in the Windows file and big-endian in the Mac one.

// Windows NAME.toc: a 104-byte header, then 218 bytes per message.
struct WindowsTocHeader {
    std::array<std::uint8_t, 2> version;      // 0x30 up to 6.x, 0x31 from 7.0
    std::array<std::uint8_t, 6> usedVersion;  //
    std::array<std::uint8_t, 32> name;        // mailbox name, NUL-padded
    std::array<std::uint8_t, 2> type;         // 0 In, 1 Out, 2 Junk, 3 Trash, 4 regular
    std::array<std::uint8_t, 2> flags;        //
    std::array<std::uint8_t, 2> needsCompact; //
    std::array<std::uint8_t, 8> windowRect;   //
    std::array<std::uint8_t, 16> fieldWidths; //
    std::array<std::uint8_t, 2> unreadStatus; //
    std::array<std::uint8_t, 4> nextUniqueId; //
    std::array<std::uint8_t, 4> pluginId;     //
    std::array<std::uint8_t, 4> pluginTag;    //
    std::array<std::uint8_t, 2> splitterPos;  //
    std::array<std::uint8_t, 9> sortColumns;  //
    std::array<std::uint8_t, 1> adFailure;    //
    std::array<std::uint8_t, 4> mailboxSize;  // the mailbox's size + 1 when written; 0 unknown
    std::array<std::uint8_t, 2> unused;       //
    std::array<std::uint8_t, 2> count;        // number of records, low 16 bits
};
static_assert(sizeof(WindowsTocHeader) == 104);

struct WindowsTocRecord {
    std::array<std::uint8_t, 4> offset;     // where the message starts in the mailbox
    std::array<std::uint8_t, 4> length;     // its length in bytes
    std::array<std::uint8_t, 4> seconds;    // its date, seconds since 1970 (UTC)
    std::array<std::uint8_t, 2> state;      // 0 unread ... 12 recovered
    std::array<std::uint8_t, 2> flags;      //
    std::array<std::uint8_t, 2> priority;   // 1 highest ... 5 lowest (low byte)
    std::array<std::uint8_t, 28> dateText;  //
    std::array<std::uint8_t, 4> arrival;    //
    std::array<std::uint8_t, 64> from;      //
    std::array<std::uint8_t, 64> subject;   //
    std::array<std::uint8_t, 8> windowRect; //
    std::array<std::uint8_t, 2> label;      // 0 none, else the label's number
    std::array<std::uint8_t, 30> rest;      // hashes, extended flags, IMAP and junk fields
};
static_assert(sizeof(WindowsTocRecord) == 218);

// Mac table: a 278-byte header, then 220 bytes per message (at least one record is stored).
struct MacTocHeader {
    std::array<std::uint8_t, 2> version;     // 1
    std::array<std::uint8_t, 248> unused;    // window, sort and view state
    std::array<std::uint8_t, 4> mailboxSize; // the mailbox's size + 1 when written; 0 unknown
    std::array<std::uint8_t, 8> more;        //
    std::array<std::uint8_t, 2> count;       // number of records
    std::array<std::uint8_t, 14> tail;       //
};
static_assert(sizeof(MacTocHeader) == 278);

struct MacTocRecord {
    std::array<std::uint8_t, 4> offset;     // where the message starts in the mailbox
    std::array<std::uint8_t, 4> length;     // its length in bytes
    std::array<std::uint8_t, 4> bodyOffset; //
    std::array<std::uint8_t, 1> state;      // 1 unread ... 14 rebuilt
    std::array<std::uint8_t, 33> unused;    //
    std::array<std::uint8_t, 4> seconds;    // its date, seconds since 1904 (UTC)
    std::array<std::uint8_t, 4> flags;      // bits 14-17: the label
    std::array<std::uint8_t, 8> windowRect; //
    std::array<std::uint8_t, 1> priority;   // 1 highest ... 200 lowest; 0 normal
    std::array<std::uint8_t, 157> rest;     // names, subject, options
};
static_assert(sizeof(MacTocRecord) == 220);

// ---------------------------------------------------------------------------------------------
// Records as the program uses them

enum class Status {
    Unread,
    Read,
    Replied,
    Forwarded,
    Redirected,
    Unsendable, // outgoing mail not finished
    Sendable,
    Queued,
    Sent,
    Unsent, // outgoing mail that was not sent
    TimeQueued,
    Spooled,   // being sent
    SendError, // Mac: sending failed
    Recovered, // Windows: a message Eudora recovered
    Rebuilt,   // Mac: a record Eudora rebuilt from the mailbox
};

enum class Family { Windows, Mac };

struct TocRecord {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    Status status = Status::Read;
    int priority = 0; // 1 highest ... 5 lowest; 0 when the table gives none
    int label = 0;    // 0 none
    std::uint32_t flags = 0;
    std::int64_t unixSeconds = 0; // 0 when the table gives no date
};

struct Toc {
    Family family = Family::Windows;
    std::optional<std::uint64_t> mailboxSize; // as the table recorded it, when it did
    std::vector<TocRecord> records;           // in the table's order (Eudora's display order)
};

// A table, or why there is none to use.
struct TocRead {
    std::optional<Toc> toc;
    std::string reason; // set when `toc` is empty
};

TocRead readWindowsToc(std::span<const std::uint8_t> bytes);
TocRead readMacToc(std::span<const std::uint8_t> bytes);
// The 'TOCF' resource of the resource fork kept in an AppleDouble file (`._NAME`).
TocRead readAppleDoubleToc(std::span<const std::uint8_t> bytes);

// The table that belongs to `mailbox`: NAME.toc beside it (Windows or Mac layout) or the
// mailbox's resource fork in `._NAME`. `reason` is empty when there is simply no table.
struct FoundToc {
    std::filesystem::path file; // empty when there is none
    TocRead read;
};
FoundToc findToc(const std::filesystem::path& mailbox);

// ---------------------------------------------------------------------------------------------
// What Eudora's table says about one message, as the import takes it.

struct MessageState {
    bool listed = true; // false: the message is in the mailbox but not in the table (deleted)
    Status status = Status::Read;
    int priority = 0;  // 1 highest ... 5 lowest; 0 none
    std::string label; // the label's name, empty for none
};

// The category of messages the table does not list.
inline constexpr std::string_view kUnlistedCategory = "Not in Eudora's table of contents";

// The table checked against the messages the separator search found: `starts` are the offsets
// of their separator lines in increasing order, `separatorEnds` (optional, same length) where
// each separator line ends. Every record must start at a message (or inside its separator line)
// and end where the next message starts or the mailbox ends; no two records may name one
// message. `states` is then indexed by message number.
struct Validated {
    std::vector<MessageState> states; // empty when the table is not used
    std::size_t unlisted = 0;
    std::string reason; // why the table is not used; empty when it is
};
Validated validate(const Toc& toc, std::span<const std::uint64_t> starts, std::uint64_t mailboxSize,
                   std::span<const std::uint64_t> separatorEnds = {},
                   const std::vector<std::string>& labelNames = {});

// Label names from the `[Labels]` section of `eudora.ini` (`LabelN=R,G,B,Text`) in the mailbox's
// folder or the nearest parent that has one: index N-1 holds label N's text (empty when not
// named). Empty when there is no such file.
std::vector<std::string> labelNames(const std::filesystem::path& mailbox);
std::vector<std::string> parseLabels(std::string_view ini);
// The category for label `n` (> 0): its name, or "Label n".
std::string labelCategory(int n, const std::vector<std::string>& names);

// Mac Eudora wrote its mailboxes with CR line ends and text in MacRoman: true when the first
// lines of the mailbox end in lone CRs, or when a Mac table lies beside it.
bool isMacMailbox(std::string_view firstBytes, bool macTableBeside);

// The message's read and unsent flags, last verb and icon, importance and priority and
// categories as the state says; the has-attachments bit of PidTagMessageFlags is kept.
void applyState(mapi::Message& message, const MessageState& state);

} // namespace mbx::mime::eudora
