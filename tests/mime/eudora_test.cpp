#include "mailstore/mapi/tags.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/pst/writer.h"
#include "tests/support/files.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace tags = mbx::mapi::tags;
namespace eudora = mbx::mime::eudora;
using mbx::mapi::Bytes;
using mbx::mapi::Message;
using mbx::testing::quoted;
using mbx::testing::runCommand;
using mbx::testing::slurp;
using mbx::testing::writeFile;
using namespace std::string_literals;

namespace {

// A scratch folder of the running test's own: ctest runs the cases of this program side by side.
fs::path scratch() {
    const fs::path dir =
        fs::path(MBX_SCRATCH_DIR) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir);
    return dir;
}

std::string str(const mbx::mapi::PropertyBag& bag, mbx::mapi::PropTag tag) {
    return bag.string(tag).value_or("<absent>");
}

std::string html(const Message& m) {
    const auto* v = m.props.find(tags::Html);
    return v ? std::string(std::get<Bytes>(*v).begin(), std::get<Bytes>(*v).end()) : "<absent>";
}

std::string data(const mbx::mapi::Attachment& a) {
    const auto* v = a.props.find(tags::AttachDataBinary);
    return v ? std::string(std::get<Bytes>(*v).begin(), std::get<Bytes>(*v).end()) : "<absent>";
}

Message import(const std::string& text, const mbx::mime::ImportOptions& options,
               std::vector<std::string>& notes) {
    return mbx::mime::importRfc822(std::as_bytes(std::span(text.data(), text.size())), options,
                                   notes);
}

// A Eudora data folder: mailboxes under Mail/, received attachments in Attach/, inline pictures
// in Embedded/. The attachment holds CR, LF and NUL bytes that must arrive untouched.
struct EudoraTree {
    fs::path root = scratch() / "Eudora";
    fs::path mailbox = root / "Mail" / "Work" / "In.mbx";
    std::string pdf = "%PDF-1.4\r\x00\n\x01\xFF body\r\r\n%%EOF"s;
    std::string jpeg = "\xFF\xD8\xFF\xE0 picture \xFF\xD9";

    EudoraTree() {
        fs::remove_all(root);
        writeFile(mailbox, "");
        writeFile(root / "Attach" / "Report 2005.pdf", pdf);
        writeFile(root / "Embedded" / "pic.jpg", jpeg);
        writeFile(root / "secret.txt", "not for mail");
    }
    mbx::mime::ImportOptions options() const {
        const auto f = eudora::findFolders(mailbox);
        return {f.attachments, f.embedded};
    }
};

// Received on Windows: the leftover multipart header has lost its boundaries, the HTML body is
// wrapped in <x-html>, a picture of it was detached to Embedded/ and a document to Attach/.
const std::string kWindowsMessage =
    "From ???@??? Tue May 10 15:27:03 2005\r\n"
    "From: Anna <anna@example.com>\r\nTo: bob@example.org\r\nSubject: Quarterly report\r\n"
    "Date: Tue, 10 May 2005 15:27:03 +0200\r\n"
    "Content-Type: multipart/mixed; boundary=\"=====================_1234==_\"\r\n\r\n"
    "<x-html><!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"\">\r\n"
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
    "</head><body>See the <b>numbers</b>: <img src=\"cid:5.2.0.9.20050510@example.com.1\">"
    "</body></html>\r\n</x-html>\r\n"
    "Embedded Content: pic.jpg: 00000001,4dc7a6d2\r\n"
    "Attachment Converted: \"C:\\Eudora\\Attach\\Report 2005.pdf\"\r\n"
    "attachment converted: c:\\eudora\\attach\\missing.doc\r\n";

} // namespace

// The line ends of Mac Eudora (CR only) and of mailboxes edited on several systems.
TEST(EudoraImport, AnyLineEnds) {
    const std::string lines[] = {"From ???@??? Tue May 10 15:27:03 2005",
                                 "From: anna@example.com",
                                 "Subject: Line ends",
                                 "",
                                 "First line.",
                                 "",
                                 "Last line."};
    for (const std::string eol : {"\r", "\n", "\r\n", "\r\r\n", "mixed"}) {
        std::string text;
        for (std::size_t i = 0; i < std::size(lines); ++i) {
            const std::string mixed[] = {"\r", "\n", "\r\n"};
            text += lines[i] + (eol == "mixed" ? mixed[i % 3] : eol);
        }
        SCOPED_TRACE(::testing::PrintToString(eol));
        std::vector<std::string> notes;
        const Message m = import(text, {}, notes);
        EXPECT_EQ(str(m.props, tags::Subject), "Line ends");
        EXPECT_EQ(str(m.props, tags::SenderEmailAddress), "anna@example.com");
        EXPECT_EQ(str(m.props, tags::Body), "First line.\r\n\r\nLast line.\r\n");
    }
    std::vector<std::string> notes;
    // A part sent as 8-bit binary keeps every byte; the text around it is read line by line.
    const std::string binary = "a\rb\r\nc\n\x00\xFF\r"s;
    const Message m = import(std::string("Subject: Binary\rContent-Type: multipart/mixed; "
                                         "boundary=b\r\r--b\rContent-Type: text/plain\r\r"
                                         "Text.\r--b\rContent-Type: application/octet-stream; "
                                         "name=x.bin\rContent-Transfer-Encoding: binary\r\r") +
                                 binary + "\r--b--\r",
                             {}, notes);
    EXPECT_EQ(str(m.props, tags::Body), "Text.");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(data(m.attachments[0]), binary);

    // A lone CR is seen wherever it falls among the CR LF pairs, the last byte included (the
    // search compares sixteen bytes at a time).
    const std::string crlf = "Subject: x\r\n\r\n" + std::string(40, 'a') + "\r\n";
    EXPECT_FALSE(mbx::mime::eudora::normaliseLineEnds(crlf).has_value());
    for (std::size_t at = 0; at <= crlf.size(); ++at) {
        const std::string lone = crlf.substr(0, at) + '\r' + crlf.substr(at);
        if (at > 0 && lone[at - 1] == '\r') {
            continue; // "\r\r\n" is one line end, not a lone CR
        }
        SCOPED_TRACE(at);
        const auto normalised = mbx::mime::eudora::normaliseLineEnds(lone);
        ASSERT_TRUE(normalised.has_value());
        EXPECT_EQ(normalised->find("\r\r"), std::string::npos);
    }

    // A long run of CRs is scanned once, not once per CR (the time limit catches that).
    const Message runs =
        import("Subject: Runs\r\r" + std::string(1000000, '\r') + "end\r", {}, notes);
    EXPECT_EQ(str(runs.props, tags::Subject), "Runs");
    EXPECT_TRUE(str(runs.props, tags::Body).ends_with("\r\nend\r\n"));
}

TEST(EudoraImport, AttachmentLinesAreReadOnlyAtTheStartOfALine) {
    const auto files = eudora::detachedFiles(
        "Attachment Converted: \"C:\\Eudora\\Attach\\report.pdf\"\r\n"
        "ATTACHMENT CONVERTED: C:\\Program Files\\Eudora\\attach\\notes 1.txt\r\n"
        "Attachment converted: Macintosh HD:Eudora Folder:Attachments Folder:photo.jpg "
        "(JPEG/GKON) (0001A2B3)\r\n"
        "Attachment converted: HD:Attachments Folder:Read Me (1) (TEXT/ttxt) (00012345)\r\n"
        "Embedded Content: image001.gif: 00000001,4dc7a6d2\r\n"
        "> Attachment Converted: \"C:\\Eudora\\Attach\\quoted.pdf\"\r\n"
        "See Attachment Converted: \"C:\\inline.pdf\"\r\n"
        "Attachment Converted: \"C:\\Eudora\\Attach\\..\"\r\n"
        "Attachment Converted: /etc/passwd\r\n"
        "Attachment Converted: \"a\x01"
        "b.pdf\"\r\n");
    const std::pair<bool, std::string> want[] = {{false, "report.pdf"},  {false, "notes 1.txt"},
                                                 {false, "photo.jpg"},   {false, "Read Me (1)"},
                                                 {true, "image001.gif"}, {false, ""},
                                                 {false, "passwd"},      {false, ""}};
    ASSERT_EQ(files.size(), std::size(want));
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].embedded, want[i].first) << i;
        EXPECT_EQ(files[i].name, want[i].second) << i;
    }
}

// Files are taken from the attachments folder only, whatever the line names.
TEST(EudoraImport, LookUpStaysInsideTheFolder) {
    const EudoraTree tree;
    const fs::path attach = tree.root / "Attach";
    fs::create_directory_symlink(tree.root, attach / "up");
    fs::create_symlink(tree.root / "secret.txt", attach / "link.txt");
    fs::create_directory(attach / "folder.pdf");
    EXPECT_EQ(eudora::lookUp(attach, "Report 2005.pdf"), fs::canonical(attach / "Report 2005.pdf"));
    EXPECT_EQ(eudora::lookUp(attach, "REPORT 2005.PDF"), fs::canonical(attach / "Report 2005.pdf"));
    for (const char* hostile : {"..", ".", "", "../secret.txt", "up/secret.txt", "link.txt",
                                "folder.pdf", "secret.txt", "/etc/passwd"}) {
        EXPECT_FALSE(eudora::lookUp(attach, hostile)) << hostile;
    }
}

TEST(EudoraImport, FoldersAreFoundBesideTheMailboxOrAParent) {
    const EudoraTree tree;
    auto f = eudora::findFolders(tree.mailbox);
    ASSERT_EQ(f.attachments.size(), 1u);
    EXPECT_EQ(f.attachments[0].filename(), "Attach");
    EXPECT_EQ(f.embedded.filename(), "Embedded");
    // A nearer folder wins, in any case, and Mac names count.
    const fs::path nearer = tree.mailbox.parent_path() / "attachments FOLDER";
    fs::create_directories(nearer);
    f = eudora::findFolders(tree.mailbox);
    EXPECT_EQ(f.attachments, std::vector{fs::absolute(nearer)});
    // The folder the user names wins over both.
    f = eudora::findFolders(tree.mailbox, scratch() / "elsewhere");
    EXPECT_EQ(f.attachments, std::vector{scratch() / "elsewhere"});
    EXPECT_EQ(f.embedded.filename(), "Embedded");
    // Several named folders are searched in the order given, then the nearest one.
    f = eudora::findFolders(tree.mailbox, std::vector{scratch() / "b", scratch() / "a", nearer});
    EXPECT_EQ(f.attachments, (std::vector{scratch() / "b", scratch() / "a", nearer}));
    f = eudora::findFolders(tree.mailbox, std::vector{scratch() / "b"});
    EXPECT_EQ(f.attachments, (std::vector{scratch() / "b", fs::absolute(nearer)}));
}

// Eudora kept the files attached to sent mail as paths in X-Attachments (Windows paths between
// semicolons, Mac paths with colons); they come back like received ones, from the folders given.
TEST(EudoraImport, SentMailGetsItsAttachmentsBack) {
    const EudoraTree tree;
    const fs::path elsewhere = scratch() / "Old disk";
    writeFile(elsewhere / "Report 2005.pdf", "the copy found first");
    writeFile(elsewhere / "photo.jpg", tree.jpeg);
    auto options = tree.options();
    const auto folders = eudora::findFolders(tree.mailbox, std::vector{elsewhere});
    options.attachmentFolders = folders.attachments;
    const std::string windows =
        "From: me@example.com\r\nSubject: sent\r\nX-Attachments: C:\\My Documents\\Report "
        "2005.pdf; \"C:\\Pics\\photo.jpg\";\r\n  C:\\gone.doc;\r\n\r\nSee attached.\r\n";
    const std::string mac = "From: me@example.com\rSubject: sent\rX-Attachments: Macintosh HD:"
                            "Desktop Folder:photo.jpg\r\rSee attached.\r";
    std::vector<std::string> notes;
    const Message w = import(windows, options, notes);
    ASSERT_EQ(w.attachments.size(), 2u);
    EXPECT_EQ(str(w.attachments[0].props, tags::AttachLongFilename), "Report 2005.pdf");
    EXPECT_EQ(data(w.attachments[0]), "the copy found first");
    EXPECT_EQ(data(w.attachments[1]), tree.jpeg);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("\"gone.doc\" not found in " + elsewhere.string() + ", "),
              std::string::npos)
        << notes[0];
    notes.clear();
    const Message m = import(mac, options, notes);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(str(m.attachments[0].props, tags::AttachLongFilename), "photo.jpg");
    EXPECT_TRUE(notes.empty());
    // Named in both places (received from another Eudora user), the file is attached once.
    const Message both = import("Subject: r\r\nX-Attachments: C:\\Pics\\photo.jpg;\r\n\r\n"
                                "Attachment Converted: \"C:\\Eudora\\Attach\\photo.jpg\"\r\n",
                                options, notes);
    EXPECT_EQ(both.attachments.size(), 1u);
}

// Text whose bytes contradict its label, HTML parts Eudora wrapped in <x-html>, and the 8-bit
// text of Mac mailboxes.
TEST(EudoraImport, TextIsReadAsEudoraWroteIt) {
    std::vector<std::string> notes;
    const auto body = [&notes](const std::string& headers, const std::string& text,
                               const std::string& eightBit = "windows-1252") {
        mbx::mime::ImportOptions options;
        options.eightBitCharset = eightBit;
        return str(import("Subject: t\r\n" + headers + "\r\n" + text, options, notes).props,
                   tags::Body);
    };
    const std::string latin1 = "Content-Type: text/plain; charset=iso-8859-1\r\n";
    EXPECT_EQ(body(latin1, "Caf\xC3\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(body(latin1, "Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(body("Content-Type: text/plain; charset=us-ascii\r\n", "Caf\xC3\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(body("Content-Type: text/plain; charset=utf-8\r\n", "g\xFCltig"), "g\xC3\xBCltig");
    EXPECT_EQ(body("", "Caf\xC3\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(body("", "Caf\x8E", "macintosh"), "Caf\xC3\xA9");
    EXPECT_EQ(body("Content-Type: text/plain; charset=utf-8\r\n", "g\x9Fltig", "macintosh"),
              "g\xC3\xBCltig");
    // Other labels are believed.
    EXPECT_EQ(body("Content-Type: text/plain; charset=iso-8859-2\r\n", "\xC3\xA9"),
              "\xC4\x82\xC5\xA0");

    const Message h = import("Subject: h\r\nContent-Type: text/html\r\n\r\n<x-html><html><body>"
                             "Hi</body></html>\r\n</x-html>\r\n",
                             {}, notes);
    EXPECT_EQ(html(h), "<html><body>Hi</body></html>\r\n\r\n");
}

TEST(EudoraImport, DetachedFilesBecomeAttachments) {
    const EudoraTree tree;
    std::vector<std::string> notes;
    const Message m = import(kWindowsMessage, tree.options(), notes);
    // The leftover multipart header hides nothing; the lines stay in the text.
    const std::string body = str(m.props, tags::Body);
    EXPECT_NE(body.find("See the numbers:"), std::string::npos) << body;
    EXPECT_NE(body.find("Attachment Converted: \"C:\\Eudora\\Attach\\Report 2005.pdf\""),
              std::string::npos)
        << body;
    const std::string h = html(m);
    EXPECT_NE(h.find("<b>numbers</b>"), std::string::npos) << h;
    EXPECT_NE(h.find("Report 2005.pdf"), std::string::npos) << h;
    EXPECT_NE(h.find("charset=utf-8\">"), std::string::npos) << h; // the text is UTF-8 now
    for (const std::string& text : {body, h}) {
        EXPECT_EQ(text.find("x-html"), std::string::npos) << text;
        EXPECT_EQ(text.find("x-stuff"), std::string::npos) << text;
    }
    ASSERT_EQ(m.attachments.size(), 2u);
    const auto& pic = m.attachments[0].props;
    EXPECT_EQ(str(pic, tags::AttachLongFilename), "pic.jpg");
    EXPECT_EQ(str(pic, tags::AttachMimeTag), "image/jpeg");
    EXPECT_EQ(str(pic, tags::AttachContentId), "5.2.0.9.20050510@example.com.1");
    EXPECT_EQ(data(m.attachments[0]), tree.jpeg);
    const auto& pdf = m.attachments[1].props;
    EXPECT_EQ(str(pdf, tags::AttachLongFilename), "Report 2005.pdf");
    EXPECT_EQ(str(pdf, tags::AttachMimeTag), "application/pdf");
    EXPECT_EQ(pdf.int32(tags::AttachSize).value_or(0), static_cast<int>(tree.pdf.size()));
    EXPECT_EQ(data(m.attachments[1]), tree.pdf);
    EXPECT_FALSE(pdf.has(tags::AttachContentId));
    EXPECT_EQ(m.props.int32(tags::MessageFlags).value_or(0) & tags::MsgFlagHasAttach,
              tags::MsgFlagHasAttach);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("\"missing.doc\" not found"), std::string::npos) << notes[0];

    // Without an attachments folder nothing is attached and every line is reported.
    notes.clear();
    EXPECT_TRUE(import(kWindowsMessage, {}, notes).attachments.empty());
    EXPECT_EQ(notes.size(), 3u);

    // A text made of thousands of such lines costs no look-ups.
    notes.clear();
    std::string flood = "Subject: flood\r\n\r\n";
    for (int i = 0; i < 3000; ++i) {
        flood += "Attachment Converted: \"Report 2005.pdf\"\r\n";
    }
    EXPECT_TRUE(import(flood, tree.options(), notes).attachments.empty());
    EXPECT_EQ(notes.size(), 1u);
}

TEST(EudoraImport, FlowedAndEnrichedText) {
    // Soft breaks (trailing space) join; hard breaks, quote depth changes and the signature
    // separator end a paragraph; space-stuffing goes.
    EXPECT_EQ(eudora::unwrapFlowed("One \r\ntwo\r\n> quoted \r\n> more\r\n>> deeper\r\n"
                                   " >not quoted\r\n-- \r\nSig\r\n"),
              "One two\r\n> quoted more\r\n>> deeper\r\n>not quoted\r\n-- \r\nSig\r\n");
    // RFC 1896: one line end is a space, n are n-1 breaks; "<<" is "<"; parameters are not text
    // and cannot leave their attribute.
    EXPECT_EQ(eudora::enrichedToHtml("<bold>Big</bold> <<deal> &\r\nsame line\r\n\r\nnext "
                                     "<color><param>red\"><script></param>red</color>"
                                     "<unknown>kept</unknown><italic>open"),
              "<b>Big</b> &lt;deal&gt; &amp; same line<br>\r\nnext "
              "<span style=\"color:redscript\">red</span>kept<i>open</i>");

    std::vector<std::string> notes;
    const Message flowed =
        import("Subject: f\r\n\r\n<x-flowed>Long \r\nline.\r\n</x-flowed>\r\n", {}, notes);
    EXPECT_EQ(str(flowed.props, tags::Body), "Long line.\r\n");
    EXPECT_FALSE(flowed.props.has(tags::Html));

    const Message rich =
        import("Subject: r\r\n\r\n<x-rich><bold>Hi</bold>\r\nthere</x-rich>\r\n", {}, notes);
    EXPECT_EQ(str(rich.props, tags::Body), "Hi there\r\n");
    const std::string h = html(rich);
    EXPECT_NE(h.find("<b>Hi</b> there"), std::string::npos) << h;
    EXPECT_EQ(h.find("x-rich"), std::string::npos) << h;
    EXPECT_EQ(rich.props.int32(tags::InternetCodepage).value_or(0), 65001);

    // Text shaped to make each step rescan the rest (the test's time limit catches that).
    std::string hostile;
    for (int i = 0; i < 100000; ++i) {
        hostile += "<meta charset=a>&amp<x-y<style><bold></italic>";
    }
    for (const std::string& text : {"<x-html>" + hostile, "<x-rich>" + hostile}) {
        const auto r = eudora::renderMarkup(text);
        ASSERT_TRUE(r && r->html);
        EXPECT_EQ(r->html->find("<x-"), std::string::npos);
    }
}

// The three kinds of Eudora message as Outlook readers we did not write see them in .msg and .pst.
TEST(EudoraImport, OutsideReadersSeeWholeMessages) {
    const EudoraTree tree;
    std::string mac = "From ???@??? Tue May 10 15:27:03 2005\rFrom: Mac User <mac@example.com>\r"
                      "Subject: From the Mac\r\r<x-flowed>A flowed \rline.\r</x-flowed>\r"
                      "Attachment converted: Macintosh HD:Eudora Folder:Attachments Folder:"
                      "Report 2005.pdf (PDF /CARO) (0001A2B3)\r";
    const std::string rich = "From: r@example.com\r\nSubject: Rich\r\n\r\n"
                             "<x-rich><bold>Bold</bold> words</x-rich>\r\n";
    std::vector<std::string> notes;
    const Message messages[] = {import(kWindowsMessage, tree.options(), notes),
                                import(mac, tree.options(), notes),
                                import(rich, tree.options(), notes)};
    const fs::path pst = scratch() / "eudora.pst";
    auto writer = mbx::pst::PstWriter::create(pst, "Eudora");
    const auto folder = writer->addFolder(writer->ipmSubtree(), "In");
    std::string msgFiles;
    for (int i = 0; i < 3; ++i) {
        writer->addMessage(folder, messages[i]);
        const fs::path msg = scratch() / ("eudora-" + std::to_string(i) + ".msg");
        mbx::msg::writeMsg(messages[i], msg);
        msgFiles.append(" ").append(quoted(msg));
    }
    writer->close();
    const auto [msgStatus, msgJson] =
        runCommand("node " + quoted(MBX_SOURCE_DIR "/tests/msg/msgreader_dump.js") + " " +
                   quoted(MBX_CHECKERS_DIR "/node_modules") + msgFiles);
    const auto [pstStatus, pstJson] =
        runCommand("node " + quoted(MBX_SOURCE_DIR "/tests/pst/pst_extractor_dump.js") + " " +
                   quoted(MBX_CHECKERS_DIR) + " " + quoted(pst) + " " + quoted(scratch() / "pe"));
    ASSERT_EQ(msgStatus, 0) << msgJson;
    ASSERT_EQ(pstStatus, 0) << pstJson;
    const QJsonObject msgs = QJsonDocument::fromJson(QByteArray::fromStdString(msgJson)).object();
    QJsonArray inPst; // root, then "Top of Personal Folders", then "In"
    for (const auto& top :
         QJsonDocument::fromJson(QByteArray::fromStdString(pstJson))["root"]["subfolders"]
             .toArray()) {
        for (const auto& f : top.toObject()["subfolders"].toArray()) {
            if (f.toObject()["name"].toString().endsWith("/In")) {
                inPst = f.toObject()["messages"].toArray();
            }
        }
    }
    ASSERT_EQ(inPst.size(), 3);

    const auto sha = [](const std::string& bytes) {
        return QCryptographicHash::hash(QByteArray::fromStdString(bytes),
                                        QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    };
    struct Want {
        std::string subject, bodyHas, htmlHas;
        std::vector<std::pair<std::string, std::string>> attachments; // name, bytes
    };
    const Want want[] = {
        {"Quarterly report",
         "See the numbers:",
         "<b>numbers</b>",
         {{"pic.jpg", tree.jpeg}, {"Report 2005.pdf", tree.pdf}}},
        {"From the Mac",
         "A flowed line.\r\nAttachment converted: Macintosh HD:",
         "",
         {{"Report 2005.pdf", tree.pdf}}},
        {"Rich", "Bold words", "<b>Bold</b> words", {}},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(want[i].subject);
        const QJsonObject fromMsg =
            msgs[QString::fromStdString(
                     (scratch() / ("eudora-" + std::to_string(i) + ".msg")).string())]
                .toObject();
        // msgreader gives the HTML as base64 and attachments as hashes; pst-extractor writes files.
        const std::string msgHtml =
            QByteArray::fromBase64(fromMsg["html"].toString().toLatin1()).toStdString();
        for (const auto& [seen, h] :
             {std::pair{fromMsg, msgHtml},
              std::pair{inPst[i].toObject(),
                        inPst[i].toObject()["html"].toString().toStdString()}}) {
            EXPECT_EQ(seen["subject"].toString().toStdString(), want[i].subject);
            const std::string body = seen["body"].toString().toStdString();
            EXPECT_NE(body.find(want[i].bodyHas), std::string::npos) << body;
            EXPECT_NE(h.find(want[i].htmlHas), std::string::npos) << h;
            for (const std::string& text : {body, h}) {
                EXPECT_EQ(text.find("<x-"), std::string::npos) << text;
            }
            const auto atts = seen["attachments"].toArray();
            ASSERT_EQ(atts.size(), static_cast<qsizetype>(want[i].attachments.size()));
            for (qsizetype k = 0; k < atts.size(); ++k) {
                const auto a = atts[k].toObject();
                const auto& [name, bytes] = want[i].attachments[static_cast<std::size_t>(k)];
                EXPECT_EQ(a["name"].toString().toStdString(), name);
                EXPECT_EQ(a.contains("sha256") ? a["sha256"].toString().toStdString()
                                               : sha(slurp(a["file"].toString().toStdString())),
                          sha(bytes));
            }
        }
    }
}

// What Eudora's table of contents said about each message, as pst-extractor reads it back from a
// .pst written by our writer: read and unsent flags, importance, last verb and icon, categories.
TEST(EudoraImport, OutsideReadersSeeEudorasTableOfContents) {
    using eudora::Status;
    const eudora::MessageState states[] = {
        {true, Status::Unread, 1, "Urgent"},
        {true, Status::Replied, 5, ""},
        {true, Status::Forwarded, 0, "Label 3"},
        {true, Status::Queued, 3, ""},
        {false, Status::Read, 0, ""},
    };
    const fs::path pst = scratch() / "states.pst";
    auto writer = mbx::pst::PstWriter::create(pst, "Eudora");
    const auto folder = writer->addFolder(writer->ipmSubtree(), "In");
    std::vector<std::string> notes;
    for (const auto& state : states) {
        mbx::mime::ImportOptions options;
        options.state = state;
        Message m = import("Subject: s\r\nX-Priority: 1\r\n\r\nText\r\n", options, notes);
        if (&state == &states[4]) {
            // pst-extractor skips the last entry of the store's name-to-id map (its loop stops
            // one entry short): one more named property keeps "Keywords" from being last.
            m.props.setNamed({mbx::mapi::guids::Common, std::uint32_t{0x8514}},
                             mbx::mapi::PropType::Boolean, false);
        }
        writer->addMessage(folder, m);
    }
    writer->close();
    const auto [status, json] =
        runCommand("node " + quoted(MBX_SOURCE_DIR "/tests/pst/pst_extractor_dump.js") + " " +
                   quoted(MBX_CHECKERS_DIR) + " " + quoted(pst) + " " + quoted(scratch() / "pe2"));
    ASSERT_EQ(status, 0) << json;
    QJsonArray seen;
    for (const auto& top :
         QJsonDocument::fromJson(QByteArray::fromStdString(json))["root"]["subfolders"].toArray()) {
        for (const auto& f : top.toObject()["subfolders"].toArray()) {
            if (f.toObject()["name"].toString().endsWith("/In")) {
                seen = f.toObject()["messages"].toArray();
            }
        }
    }
    ASSERT_EQ(seen.size(), 5) << json;
    struct Want {
        bool read, unsent;
        int importance, verb, icon;
        QStringList categories;
    };
    const Want want[] = {
        {false, false, 2, 0, 0x101, {"Urgent"}},
        {true, false, 0, 102, 0x105, {}},
        {true, false, 2, 104, 0x106, {"Label 3"}}, // no priority in the table: X-Priority stays
        {true, true, 1, 0, 0x103, {}},
        {true, false, 2, 0, 0, {"Not in Eudora's table of contents"}},
    };
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject m = seen[i].toObject();
        EXPECT_EQ(m["read"].toBool(), want[i].read);
        EXPECT_EQ(m["unsent"].toBool(), want[i].unsent);
        EXPECT_EQ(m["importance"].toInt(), want[i].importance);
        EXPECT_EQ(m["lastVerb"].toInt(), want[i].verb);
        EXPECT_EQ(m["icon"].toInt(), want[i].icon);
        EXPECT_EQ(m["categories"].toVariant().toStringList(), want[i].categories);
    }
}

// The type given to a detached attachment, whatever the system's own type database holds (under
// Windows many extensions have no type in the registry).
TEST(EudoraAttachmentTypes, CommonKindsGetRealTypesOnEverySystem) {
    EXPECT_EQ(eudora::mimeTypeForName("logo.GIF"), "image/gif");
    EXPECT_EQ(eudora::mimeTypeForName("agenda.txt"), "text/plain");
    EXPECT_EQ(eudora::mimeTypeForName("scan.jpg"), "image/jpeg");
    EXPECT_EQ(eudora::mimeTypeForName("report.pdf"), "application/pdf");
    EXPECT_EQ(eudora::mimeTypeForName("no extension"), "application/octet-stream");
}
