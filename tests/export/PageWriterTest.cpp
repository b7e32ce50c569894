// The page writer: jobs in order, and a failure that ends the writing without losing what
// came before it.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "platform/Exceptions.h"
#include "SrcLib/uLib.h"
#include "export/PageWriter.h"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

class PageWriterTest : public ScratchDir, public ::testing::WithParamInterface<bool> {
protected:
    // A job writing one page, as the run hands them over.
    void Page(PageWriter& writer, const std::string& rel, std::string data) {
        const std::size_t bytes = data.size();
        writer.Write(bytes, [path = Path(rel), data = std::move(data)] { platform::WriteFileAtomic(path, data); });
    }
};

TEST_P(PageWriterTest, JobsRunInOrder) {
    PageWriter writer(GetParam());
    // Many pages of one name and then of others: the last one handed in wins, all are there.
    for (int i = 0; i < 200; ++i) Page(writer, "same.htm", "page " + std::to_string(i));
    for (int i = 0; i < 50; ++i) Page(writer, "p" + std::to_string(i) + ".htm", std::string(100000, 'x'));
    // A job sees the files of the jobs before it.
    bool sawEarlier = false;
    writer.Write(0, [&] { sawEarlier = Exists(Path("p49.htm")) && ReadFile(Path("same.htm")) == "page 199"; });
    writer.Finish();
    EXPECT_TRUE(sawEarlier);
    EXPECT_EQ(ReadFile(Path("p49.htm")).size(), 100000u);
    EXPECT_EQ(platform::ListDirectory(Path()).size(), 51u); // no temporary files left
}

TEST_P(PageWriterTest, AFailureIsRaisedAndLaterJobsAreDropped) {
    PageWriter writer(GetParam());
    Page(writer, "first.htm", "1");
    bool raised = false;
    try {
        Page(writer, "no/such/folder/page.htm", "2");
        // Written in the background the failure shows at a later call.
        for (int i = 0; i < 1000; ++i) Page(writer, "after" + std::to_string(i) + ".htm", "3");
        writer.Finish();
    } catch (const EFCreateError& e) {
        raised = true;
        EXPECT_NE(std::string(e.what()).find("no/such/folder"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadFile(Path("first.htm")), "1");
    // Stays failed: nothing more is written.
    EXPECT_THROW(Page(writer, "later.htm", "4"), EFCreateError);
    EXPECT_THROW(writer.Finish(), EFCreateError);
    EXPECT_FALSE(Exists(Path("later.htm")));
    // Nothing handed in after the failed job ran.
    for (const auto& n : platform::ListDirectory(Path())) EXPECT_NE(n.rfind("after", 0), 0u) << n;
}

INSTANTIATE_TEST_SUITE_P(Writer, PageWriterTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Background" : "InPlace"; });

} // namespace
} // namespace quillmark::testing
