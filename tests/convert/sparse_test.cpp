// A mailbox above 2 GiB whose separators all lie beyond 2 GiB. The file is sparse: the hole in
// front costs nothing on disk and the search skips it, so the test stays fast.
#include "convert/conversion_run.h"
#include "platform/file.h"
#include "recording_view.h"
#include "support/fake_desktop.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <string>

namespace mbx::convert {
namespace {

void putAt(platform::File& file, std::uint64_t offset, const std::string& bytes) {
    ASSERT_TRUE(file.writeAt(bytes.data(), bytes.size(), offset)) << file.error();
}

TEST(SparseMailboxTest, SeparatorsBeyondTwoGibibytes) {
    const auto dir = testing::scratchDir("sparse");
    const auto path = (dir / "in" / "Big.mbx").string();
    std::filesystem::create_directories(dir / "in");
    const std::uint64_t base = (std::uint64_t{1} << 31) + 12345;
    const std::string head = "junk at the start\r\n";
    const std::string m0 = "From ???@??? zero\r\nSubject: hole follows\r\n\r\n";
    const std::uint64_t gap = 3u << 20; // zeros (a hole) inside message 0
    const std::string tail0 = "end of zero\r\n";
    std::string m1 = "From ???@??? one\r\n";
    m1.resize(600, 'q');
    const std::string m2 = "From ???@??? two\r\nlast line without a break  ";
    {
        platform::File file;
        ASSERT_TRUE(file.create(path));
        putAt(file, 0, head);
        putAt(file, base, m0);
        putAt(file, base + m0.size() + gap, tail0);
        putAt(file, base + m0.size() + gap + tail0.size(), m1);
        putAt(file, base + m0.size() + gap + tail0.size() + m1.size(), m2);
    }
    const auto size = std::filesystem::file_size(path);
    const std::uint64_t o1 = base + m0.size() + gap + tail0.size();
    const std::uint64_t o2 = o1 + m1.size();
    ASSERT_EQ(size, o2 + m2.size());

    testing::FakeDesktop desk;
    testing::RecordingView view;
    desk.folderChoices.push_back((dir / "out").string());
    ConversionRun run(desk, view);
    EXPECT_EQ(run.run({{path}, Format::Eml, {}}), RunOutcome::Completed);

    const auto folder = dir / "out" / std::filesystem::path(path).relative_path();
    const auto zero = testing::slurp(folder / "email-0.eml");
    ASSERT_EQ(zero.size(), m0.size() + gap + tail0.size() + 2);
    EXPECT_EQ(zero.substr(0, m0.size()), m0);
    EXPECT_EQ(zero.find_first_not_of('\0', m0.size()), m0.size() + gap);
    EXPECT_EQ(zero.substr(m0.size() + gap), tail0 + "\r\n");
    EXPECT_EQ(testing::slurp(folder / "email-1.eml"), m1 + "\r\n");
    EXPECT_EQ(testing::slurp(folder / "email-2.eml"),
              "From ???@??? two\r\nlast line without a break\r\n");

    // Offsets and totals above 2^31 reach the labels intact.
    const auto total = std::to_string(size);
    EXPECT_NE(std::find(view.events.begin(), view.events.end(),
                        "Saving: 500 Bytes out of " + total + " Total Bytes."),
              view.events.end());
    EXPECT_NE(std::find(view.events.begin(), view.events.end(), "LblEmlsFound=3 Messages"),
              view.events.end());
    // The separators sit at 100 % of the file, give or take.
    EXPECT_NE(std::find(view.events.begin(), view.events.end(), "ProgressBar2=100"),
              view.events.end());

    std::filesystem::remove(path);
}

} // namespace
} // namespace mbx::convert
