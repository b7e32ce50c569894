// The mailbox backend's reading thread: order, bound, restarts, errors, ending while it waits.
#include "outlook/mailbox/ReadAhead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace quillmark;
using namespace quillmark::outlook;
using namespace quillmark::outlook::mailbox;

namespace {

// A mail that only knows its index (as its Size).
class IndexMail : public MailItem {
public:
    explicit IndexMail(int index) : index_(index) {}
    WideString GetText(DispId) override { return {}; }
    double GetDate(DispId) override { return 0; }
    AutomationBool GetBool(DispId) override { return VariantFalse; }
    std::int32_t GetInt(DispId) override { return index_; }
    std::shared_ptr<AttachmentCollection> Attachments() override { return nullptr; }

private:
    int index_;
};

struct Counting {
    std::atomic<int> read{0};
    std::atomic<int> highest{-1};
    ReadAhead::Reader Reader(int failAt = -1, std::size_t bytes = 1) {
        return [this, failAt, bytes](int index) {
            ++read;
            if (index > highest) highest = index;
            if (index == failAt) throw EStoreError("cannot read mail " + std::to_string(index));
            ReadMail m;
            m.Mail = std::make_shared<IndexMail>(index);
            m.Warnings = std::make_shared<WarningSink>();
            m.Warnings->Warn("read " + std::to_string(index));
            m.Bytes = bytes;
            return m;
        };
    }
};

int IndexOf(const ReadMail& m) { return m.Mail ? m.Mail->GetInt(dispid::Size) : -1; }

// Waits until the reading thread has read `count` mails (or 10 s), then a little longer, so
// that reading more than it may would show.
void Settle(const std::atomic<int>& read, int count) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (read < count && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

TEST(ReadAhead, InOrderEveryMailOnceWithItsOwnWarnings) {
    Counting c;
    ReadAhead reader(100, c.Reader(), 4);
    for (int i = 0; i < 100; ++i) {
        ReadMail m = reader.Take(i);
        ASSERT_FALSE(m.Error);
        ASSERT_EQ(IndexOf(m), i);
        ASSERT_EQ(m.Warnings->Pending(), std::vector<std::string>{"read " + std::to_string(i)});
    }
    EXPECT_EQ(c.read, 100);
}

TEST(ReadAhead, StaysWithinItsBounds) {
    for (const auto& [maxMails, maxBytes, bytesPerMail, expectedAhead] :
         std::vector<std::tuple<std::size_t, std::size_t, std::size_t, int>>{
             {4, 1u << 20, 1, 4},   // by count
             {100, 3000, 1000, 3},  // by bytes
             {100, 10, 1000, 1},    // one mail larger than the bound still comes
         }) {
        Counting c;
        ReadAhead reader(50, c.Reader(-1, bytesPerMail), maxMails, maxBytes);
        ASSERT_EQ(IndexOf(reader.Take(0)), 0);
        // Taken: 1; read ahead: up to expectedAhead more (one less when the thread filled its
        // queue before the first was taken), and never one beyond, whatever is taken.
        Settle(c.read, expectedAhead);
        EXPECT_GE(c.read, expectedAhead) << maxMails << " " << maxBytes;
        EXPECT_LE(c.read, 1 + expectedAhead) << maxMails << " " << maxBytes;
        for (int taken = 1; taken < 12; ++taken) {
            ASSERT_EQ(IndexOf(reader.Take(taken)), taken);
            Settle(c.read, taken + 1);
            EXPECT_LE(c.read, taken + 1 + expectedAhead) << maxMails << " " << maxBytes;
        }
    }
}

TEST(ReadAhead, OutOfOrderTakesStartOverFromThere) {
    Counting c;
    ReadAhead reader(20, c.Reader(), 3);
    EXPECT_EQ(IndexOf(reader.Take(5)), 5);
    EXPECT_EQ(IndexOf(reader.Take(6)), 6);
    EXPECT_EQ(IndexOf(reader.Take(2)), 2); // back
    EXPECT_EQ(IndexOf(reader.Take(3)), 3);
    EXPECT_EQ(IndexOf(reader.Take(3)), 3); // the same again
    EXPECT_EQ(IndexOf(reader.Take(19)), 19); // forward past what was read
    EXPECT_EQ(IndexOf(reader.Take(0)), 0);
}

TEST(ReadAhead, AFailingMailComesBackAsItsErrorAndTheRestIsRead) {
    Counting c;
    ReadAhead reader(6, c.Reader(3));
    for (int i = 0; i < 6; ++i) {
        ReadMail m = reader.Take(i);
        if (i == 3) {
            ASSERT_TRUE(m.Error);
            EXPECT_THROW(std::rethrow_exception(m.Error), EStoreError);
        } else {
            EXPECT_FALSE(m.Error);
            EXPECT_EQ(IndexOf(m), i);
        }
    }
    EXPECT_TRUE(reader.Take(6).Error);
    EXPECT_TRUE(reader.Take(-1).Error);
}

TEST(ReadAhead, EndsWhileTheThreadWaitsForRoomOrReads) {
    // The thread waits with a full queue; the owner goes away: no hang, nothing read after.
    Counting c;
    {
        ReadAhead reader(1000, c.Reader(), 2);
        (void)reader.Take(0);
        Settle(c.read, 3);
    }
    EXPECT_EQ(c.read, 3);
    // Going away while a slow mail is being read waits for that mail only.
    std::atomic<int> started{0};
    {
        ReadAhead reader(1000, [&started](int index) {
            ++started;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ReadMail m;
            m.Mail = std::make_shared<IndexMail>(index);
            return m;
        });
        (void)reader.Take(0);
    }
    EXPECT_LE(started, 10); // the one taken, eight queued, one being read
}

} // namespace
