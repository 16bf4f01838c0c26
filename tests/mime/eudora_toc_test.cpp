// Eudora's tables of contents, built byte by byte at the offsets Eudora wrote (independently of
// the program's structures), read and checked against the messages of a mailbox.
#include "mailstore/mime/eudora_toc.h"
#include "tests/support/eudora_toc.h"
#include "tests/support/files.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace eudora = mbx::mime::eudora;
using eudora::Status;
using mbx::testing::scratchDir;
using mbx::testing::writeFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& b, std::size_t at, std::uint64_t v, int size, bool bigEndian) {
    mbx::testing::putNumber(b, at, v, size, bigEndian);
}

std::span<const std::uint8_t> span(const Bytes& b) {
    return {b.data(), b.size()};
}

// Three messages; the line end is the mailbox's own.
struct Mailbox {
    std::string text;
    std::vector<std::uint64_t> starts;
    explicit Mailbox(const std::string& eol) {
        for (const char* subject : {"one", "two", "three"}) {
            starts.push_back(text.size());
            text += "From ???@??? Mon Jan 01 00:00:00 2001" + eol + "Subject: " + subject + eol +
                    eol + "Text." + eol;
        }
    }
    std::uint64_t end(std::size_t k) const {
        return k + 1 < starts.size() ? starts[k + 1] : text.size();
    }
};

using Rec = mbx::testing::TocRec;

Bytes windowsToc(const Mailbox& mb, const std::vector<Rec>& recs, int version = 0x31) {
    return mbx::testing::windowsToc(mb.starts, mb.text.size(), recs, version);
}

// Mac: 278-byte header (version 0, mailbox size + 1 at 250, count at 262), 220-byte records
// (offset 0, length 4, state 12, seconds 46, flags 50 with the label in bits 14-17, priority 62
// on a 1-200 scale); at least one record is stored.
Bytes macToc(const Mailbox& mb, const std::vector<Rec>& recs) {
    Bytes b(278 + 220 * std::max<std::size_t>(recs.size(), 1));
    put(b, 0, 1, 2, true);
    put(b, 250, mb.text.size() + 1, 4, true);
    put(b, 262, recs.size(), 2, true);
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const std::size_t r = 278 + 220 * i;
        const std::size_t k = recs[i].message;
        put(b, r, mb.starts[k], 4, true);
        put(b, r + 4, mb.end(k) - mb.starts[k], 4, true);
        put(b, r + 12, static_cast<std::uint64_t>(recs[i].state), 1, true);
        put(b, r + 46, 3061152000u, 4, true);
        put(b, r + 50, static_cast<std::uint64_t>(recs[i].label) << 14 | 0x2000, 4, true);
        put(b, r + 62, static_cast<std::uint64_t>(recs[i].priority), 1, true);
    }
    return b;
}

// An AppleDouble file whose resource fork holds `toc` as the one 'TOCF' resource (and one other).
Bytes appleDouble(const Bytes& toc) {
    Bytes data(4 + toc.size() + 4 + 3);
    put(data, 0, toc.size(), 4, true);
    std::copy(toc.begin(), toc.end(), data.begin() + 4);
    put(data, 4 + toc.size(), 3, 4, true);
    Bytes map(28 + 2 + 16 + 24);
    put(map, 24, 28, 2, true); // type list offset
    put(map, 26, map.size(), 2, true);
    put(map, 28, 1, 2, true); // two types
    std::copy_n("STR ", 4, map.begin() + 30);
    put(map, 34, 0, 2, true);      // one resource
    put(map, 36, 2 + 16, 2, true); // its reference from the type list
    std::copy_n("TOCF", 4, map.begin() + 38);
    put(map, 42, 0, 2, true);
    put(map, 44, 2 + 16 + 12, 2, true);
    put(map, 28 + 18 + 4, 4 + toc.size(), 4, true); // STR : after the table
    put(map, 28 + 30, 1001, 2, true);
    put(map, 28 + 30 + 4, 0, 4, true); // TOCF: at the start of the data
    Bytes fork(256);
    put(fork, 0, 256, 4, true);
    put(fork, 4, 256 + data.size(), 4, true);
    put(fork, 8, data.size(), 4, true);
    put(fork, 12, map.size(), 4, true);
    fork.insert(fork.end(), data.begin(), data.end());
    fork.insert(fork.end(), map.begin(), map.end());
    constexpr std::size_t kHead = 26 + 12;
    Bytes ad(kHead + fork.size());
    put(ad, 0, 0x00051607, 4, true);
    put(ad, 4, 0x00020000, 4, true);
    put(ad, 24, 1, 2, true);
    put(ad, 26, 2, 4, true); // resource fork
    put(ad, 30, kHead, 4, true);
    put(ad, 34, fork.size(), 4, true);
    std::copy(fork.begin(), fork.end(), ad.begin() + kHead);
    return ad;
}

std::string reasonOf(const Bytes& toc, const Mailbox& mb, bool mac = false,
                     std::uint64_t size = 0) {
    const auto read = mac ? eudora::readMacToc(span(toc)) : eudora::readWindowsToc(span(toc));
    if (!read.toc) {
        return read.reason;
    }
    return eudora::validate(*read.toc, mb.starts, size == 0 ? mb.text.size() : size).reason;
}

} // namespace

TEST(EudoraToc, WindowsTableGivesEachMessageItsStateOrRefusesWhole) {
    const Mailbox mb("\r\n");
    // In display order, not mailbox order; the second message was deleted but not compacted.
    const Bytes toc = windowsToc(mb, {{2, 0, 5, 0}, {0, 2, 1, 2}});
    const auto read = eudora::readWindowsToc(span(toc));
    ASSERT_TRUE(read.toc) << read.reason;
    EXPECT_EQ(read.toc->records[1].unixSeconds, 978307200);
    const auto v = eudora::validate(*read.toc, mb.starts, mb.text.size(), {}, {"Urgent", ""});
    ASSERT_EQ(v.reason, "");
    ASSERT_EQ(v.states.size(), 3u);
    EXPECT_EQ(v.unlisted, 1u);
    EXPECT_EQ(v.states[0].status, Status::Replied);
    EXPECT_EQ(v.states[0].priority, 1);
    EXPECT_EQ(v.states[0].label, "Label 2"); // named "" in eudora.ini
    EXPECT_FALSE(v.states[1].listed);
    EXPECT_EQ(v.states[2].status, Status::Unread);
    EXPECT_EQ(v.states[2].priority, 5);
    EXPECT_EQ(v.states[2].label, "");

    // Every state Eudora for Windows wrote, from 0 unread to 12 recovered.
    const Status all[] = {Status::Unread,    Status::Read,       Status::Replied,
                          Status::Forwarded, Status::Redirected, Status::Unsendable,
                          Status::Sendable,  Status::Queued,     Status::Sent,
                          Status::Unsent,    Status::TimeQueued, Status::Spooled,
                          Status::Recovered};
    for (int s = 0; s <= 12; ++s) {
        const auto r = eudora::readWindowsToc(span(windowsToc(mb, {{0, s, 3, 0}}, 0x30)));
        ASSERT_TRUE(r.toc) << s;
        EXPECT_EQ(r.toc->records[0].status, all[s]);
    }

    // A table that disagrees with the mailbox anywhere is not used at all.
    Bytes shifted = toc;
    put(shifted, 104 + 218, mb.starts[0] + 1, 4, false);
    Bytes shorter = toc;
    put(shorter, 104 + 4, mb.end(2) - mb.starts[2] - 1, 4, false);
    Bytes miscounted = toc;
    put(miscounted, 102, 3, 2, false);
    Bytes badState = toc;
    put(badState, 104 + 12, 13, 2, false);
    Bytes cut = toc;
    cut.pop_back();
    const std::pair<std::string, std::string> refusals[] = {
        {reasonOf(shifted, mb), "where no message starts"},
        {reasonOf(shorter, mb), "does not end where its message ends"},
        {reasonOf(windowsToc(mb, {{0, 1, 3, 0}, {0, 1, 3, 0}}), mb), "name the same message"},
        {reasonOf(toc, mb, false, mb.text.size() + 5), "written for a mailbox of"},
        {reasonOf(miscounted, mb), "holds 2 records but says 3"},
        {reasonOf(badState, mb), "unknown state 13"},
        {reasonOf(cut, mb), "not a whole number of records"},
        {reasonOf(windowsToc(mb, {}, 0x2E31), mb), "unknown version"},
        {reasonOf(windowsToc(mb, {{0, 1, 3, 0}, {1, 1, 3, 0}, {2, 1, 3, 0}, {2, 1, 3, 0}}), mb),
         "it lists 4 messages"},
    };
    for (const auto& [reason, want] : refusals) {
        EXPECT_NE(reason.find(want), std::string::npos) << reason << " / " << want;
    }
    // A record may point into its message's separator line when the caller says where it ends.
    const auto r = eudora::readWindowsToc(span(shifted));
    Bytes whole = shifted;
    put(whole, 104 + 218 + 4, mb.end(0) - mb.starts[0] - 1, 4, false);
    const auto inside = eudora::readWindowsToc(span(whole));
    const std::vector<std::uint64_t> lineEnds{mb.starts[0] + 39, mb.starts[1] + 39,
                                              mb.starts[2] + 39};
    EXPECT_EQ(eudora::validate(*inside.toc, mb.starts, mb.text.size(), lineEnds).reason, "");
    EXPECT_NE(eudora::validate(*r.toc, mb.starts, mb.text.size(), lineEnds).reason, "");
}

TEST(EudoraToc, MacTableBesideTheMailboxOrInItsResourceFork) {
    const Mailbox mb("\r");
    const fs::path dir = scratchDir("mac-toc");
    const fs::path mailbox = dir / "In";
    writeFile(mailbox, mb.text);
    EXPECT_FALSE(eudora::findToc(mailbox).read.toc); // no table: today's behaviour
    EXPECT_EQ(eudora::findToc(mailbox).read.reason, "");

    // Mac states count from 1 (3 replied, 8 forwarded, 1 unread); priorities run 1-200.
    const Bytes toc = macToc(mb, {{0, 3, 40, 3}, {1, 8, 0, 0}, {2, 1, 200, 0}});
    writeFile(dir / "In.toc", std::string(toc.begin(), toc.end()));
    for (const bool resourceFork : {false, true}) {
        SCOPED_TRACE(resourceFork ? "AppleDouble" : "In.toc");
        if (resourceFork) {
            fs::remove(dir / "In.toc");
            const Bytes ad = appleDouble(toc);
            writeFile(dir / "._In", std::string(ad.begin(), ad.end()));
        }
        const auto found = eudora::findToc(mailbox);
        ASSERT_TRUE(found.read.toc) << found.read.reason;
        EXPECT_EQ(found.file.filename(), resourceFork ? "._In" : "In.toc");
        EXPECT_EQ(found.read.toc->family, eudora::Family::Mac);
        EXPECT_EQ(found.read.toc->records[0].unixSeconds, 3061152000 - 2082844800);
        const auto v = eudora::validate(*found.read.toc, mb.starts, mb.text.size());
        ASSERT_EQ(v.reason, "");
        EXPECT_EQ(v.unlisted, 0u);
        EXPECT_EQ(v.states[0].status, Status::Replied);
        EXPECT_EQ(v.states[0].priority, 1);
        EXPECT_EQ(v.states[0].label, "Label 3");
        EXPECT_EQ(v.states[1].status, Status::Forwarded);
        EXPECT_EQ(v.states[1].priority, 0);
        EXPECT_EQ(v.states[2].status, Status::Unread);
        EXPECT_EQ(v.states[2].priority, 5);
    }
    EXPECT_TRUE(eudora::isMacMailbox(mb.text, false));
    EXPECT_FALSE(eudora::isMacMailbox(Mailbox("\r\n").text, false));
    EXPECT_TRUE(eudora::isMacMailbox(Mailbox("\r\n").text, true));

    // An empty mailbox keeps one blank record; a wrong size or state is refused.
    Mailbox empty("\r");
    empty.text.clear();
    empty.starts.clear();
    EXPECT_EQ(reasonOf(macToc(empty, {}), empty, true), "");
    Bytes badState = toc;
    put(badState, 278 + 12, 0, 1, true);
    Bytes extra = toc;
    extra.resize(extra.size() + 220);
    EXPECT_NE(reasonOf(badState, mb, true).find("unknown state 0"), std::string::npos);
    EXPECT_NE(reasonOf(extra, mb, true).find("size does not match"), std::string::npos);
    Bytes ad = appleDouble(toc);
    ad.resize(ad.size() - 10);
    EXPECT_FALSE(eudora::readAppleDoubleToc(span(ad)).toc);
}

TEST(EudoraToc, LabelNamesComeFromEudoraIni) {
    const auto names = eudora::parseLabels(
        "[Settings]\r\nLabel1=1,2,3,Wrong section\r\n[Labels]\r\nLabel1=255,0,0,Urgent\r\n"
        "label3 = 0,0,255,Caf\xE9\r\nLabel2=0,255,0,\r\nLabelX=1,1,1,x\r\n");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(eudora::labelCategory(1, names), "Urgent");
    EXPECT_EQ(eudora::labelCategory(2, names), "Label 2");
    EXPECT_EQ(eudora::labelCategory(3, names), "Caf\xC3\xA9");
    EXPECT_EQ(eudora::labelCategory(7, names), "Label 7");

    const fs::path dir = scratchDir("labels");
    writeFile(dir / "EUDORA.INI", "[Labels]\nLabel4=1,2,3,Family\n");
    const auto found = eudora::labelNames(dir / "Mail" / "Sub" / "In.mbx");
    EXPECT_EQ(eudora::labelCategory(4, found), "Family");
}
