#include "mailstore/mapi/tags.h"
#include "mailstore/pst/writer.h"
#include "support.h"

#include <gtest/gtest.h>

using namespace mbx::pst;
namespace tags = mbx::mapi::tags;

TEST(PstWriterSmoke, EmptyStore) {
    const auto path = psttest::scratch("empty.pst");
    auto w = PstWriter::create(path, "Empty");
    w->close();
    EXPECT_GT(std::filesystem::file_size(path), 0u);
}

TEST(PstWriterSmoke, FewMessages) {
    const auto path = psttest::scratch("few.pst");
    auto w = PstWriter::create(path, "Few");
    const auto inbox = w->addFolder(w->ipmSubtree(), "Inbox");
    w->addMessage(inbox, psttest::sampleMessage(1));
    auto m = psttest::sampleMessage(2);
    mbx::mapi::Attachment a;
    a.props.set(tags::AttachLongFilename, std::string("hello.txt"));
    a.props.set(tags::AttachFilename, std::string("hello.txt"));
    a.props.set(tags::AttachDataBinary, mbx::mapi::Bytes{'h', 'e', 'l', 'l', 'o'});
    m.attachments.push_back(std::move(a));
    mbx::mapi::Attachment e;
    e.props.set(tags::DisplayName, std::string("inner"));
    e.embedded = std::make_unique<mbx::mapi::Message>(psttest::sampleMessage(3));
    m.attachments.push_back(std::move(e));
    w->addMessage(inbox, m);
    w->close();
}
