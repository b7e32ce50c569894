// The page writer: order, times, and a failure that ends the writing without losing what
// came before it.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/Exceptions.h"
#include "SrcLib/uLib.h"
#include "export/PageWriter.h"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

class PageWriterTest : public ScratchDir, public ::testing::WithParamInterface<bool> {};

TEST_P(PageWriterTest, PagesLandInOrderWithTheirTimes) {
    PageWriter writer(GetParam());
    const double time = *TryEncodeDateTime(2005, 3, 1, 14, 2, 10);
    // Many pages of one name and then of others: the last one handed in wins, all are there.
    for (int i = 0; i < 200; ++i) writer.Write(Path("same.htm"), "page " + std::to_string(i), time);
    for (int i = 0; i < 50; ++i) writer.Write(Path("p" + std::to_string(i) + ".htm"), std::string(100000, 'x'), time);
    writer.Finish();
    EXPECT_FALSE(writer.IsPending(Path("same.htm")));
    EXPECT_EQ(ReadFile(Path("same.htm")), "page 199");
    EXPECT_EQ(ReadFile(Path("p49.htm")).size(), 100000u);
    EXPECT_NEAR(platform::UtcToLocal(FileWriteTime(Path("p7.htm"))), time, 0.5 / 86400.0);
    EXPECT_EQ(platform::ListDirectory(Path()).size(), 51u); // no temporary files left
}

TEST_P(PageWriterTest, AFailureIsRaisedAndLaterPagesAreDropped) {
    PageWriter writer(GetParam());
    writer.Write(Path("first.htm"), "1", 38412.5);
    bool raised = false;
    try {
        writer.Write(Path("no/such/folder/page.htm"), "2", 38412.5);
        // Written in the background the failure shows at a later call.
        for (int i = 0; i < 1000; ++i) writer.Write(Path("after" + std::to_string(i) + ".htm"), "3", 38412.5);
        writer.Finish();
    } catch (const EFCreateError& e) {
        raised = true;
        EXPECT_NE(std::string(e.what()).find("no/such/folder"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadFile(Path("first.htm")), "1");
    // Stays failed: nothing more is written.
    EXPECT_THROW(writer.Write(Path("later.htm"), "4", 38412.5), EFCreateError);
    EXPECT_THROW(writer.Finish(), EFCreateError);
    EXPECT_FALSE(Exists(Path("later.htm")));
    const auto names = platform::ListDirectory(Path());
    // Pages handed in after the failure may have been written before it was seen, but in
    // order: the "after" pages present are a prefix.
    std::size_t after = 0;
    for (const auto& n : names) after += n.rfind("after", 0) == 0;
    for (std::size_t i = 0; i < after; ++i) EXPECT_TRUE(Exists(Path("after" + std::to_string(i) + ".htm"))) << i;
}

INSTANTIATE_TEST_SUITE_P(Writer, PageWriterTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Background" : "InPlace"; });

} // namespace
} // namespace quillmark::testing
