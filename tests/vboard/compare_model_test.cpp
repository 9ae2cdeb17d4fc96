// The virtual board's compare outputs: the results of malformed commands,
// what a start needs, positions passed in either direction and several in
// one cycle, the group source's compare axis, and the status word.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "connected_board.h"
#include "vboard/compare_model.h"

namespace {

using namespace vboard_test;

constexpr std::uint32_t kSetInfo = 0x10360001;
constexpr std::uint32_t kLink = 0x10210001;
constexpr std::uint32_t kTable1 = 0x10220001;
constexpr std::uint32_t kTable2 = 0x10230001;
constexpr std::uint32_t kTable4 = 0x10250001;
constexpr std::uint32_t kStart = 0x10260001;
constexpr std::uint32_t kStop = 0x10270001;
constexpr std::uint32_t kStatus = 0x10280001;
constexpr std::uint32_t kDefineGroup = 0x20160001;
constexpr std::uint32_t kPosition = 8736;  // + 15a, 64-bit
constexpr std::uint32_t kStatusWord = 8740;
constexpr std::uint32_t kDevice = 7;

std::vector<std::uint8_t> request(const std::vector<std::uint32_t> &words) {
    std::vector<std::uint8_t> bytes(4 * words.size(), 0);
    for (std::size_t k = 0; k < words.size(); ++k) put_word(bytes, 4 * k, words[k]);
    return bytes;
}

std::uint32_t lo(std::int64_t v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)); }
std::uint32_t hi(std::int64_t v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32); }

// A type 4 table of six positions (counts), or none.
std::vector<std::uint32_t> table4(std::uint32_t axis, const std::vector<std::int64_t> &p, bool none = false) {
    std::vector<std::uint32_t> w = {kTable4, 0, 0, 0, axis, 0, 1, 5, 12, 13};
    for (std::size_t k = 0; k < 6; ++k) {
        const std::int64_t v = k < p.size() ? p[k] : 0;
        w.push_back(lo(v));
        w.push_back(hi(v));
    }
    w.push_back(none ? 1 : 0);
    w.push_back(14);
    return w;
}

class CompareModelTest : public ConnectedBoardTest {
protected:
    void SetUp() override {
        ConnectedBoardTest::SetUp();
        if (HasFatalFailure()) return;
        model_ = std::make_unique<vboard::CompareModel>(board());
    }
    void TearDown() override {
        model_.reset();
        ConnectedBoardTest::TearDown();
    }
    vboard::CompareModel &model() { return *model_; }

    std::int32_t send(const std::vector<std::uint32_t> &words, std::uint32_t *data = nullptr) {
        Reply reply = client().request(vboard::kReqSyncImmediate, request(words), 512);
        if (reply.status != 0 || reply.output.size() < 24) return -1000;
        if (data != nullptr) *data = word_at(reply.output, 20);
        return static_cast<std::int32_t>(word_at(reply.output, 16));
    }
    std::uint32_t status(std::uint32_t axis) {
        std::uint32_t s = 0;
        EXPECT_EQ(send({kStatus, 0, 0, 0, axis}, &s), 0);
        return s;
    }
    void position(std::uint32_t axis, std::int64_t count) {
        board().set_register64(kPosition + 15 * axis, static_cast<std::uint64_t>(count));
        board().advance(1);
    }
    // Output `output` follows axis `source`; device kDevice is linked to it.
    void link_axis_source(std::uint32_t output, std::uint32_t source) {
        ASSERT_EQ(send({kSetInfo, 0, 0, 0, output - 1, 1, source}), 0);
        ASSERT_EQ(send({kLink, 0, 0, 0, output - 1, kDevice, 1}), 0);
    }

private:
    std::unique_ptr<vboard::CompareModel> model_;
};

TEST_F(CompareModelTest, MalformedCommandsAreAnsweredWithTheirResult) {
    struct Case {
        const char *name;
        std::vector<std::uint32_t> words;
        std::int32_t result;
    };
    const Case cases[] = {
        {"source of output 33", {kSetInfo, 0, 0, 0, 32, 1, 0}, vboard::kCompareBadTarget},
        {"source of 7 axes", {kSetInfo, 0, 0, 0, 0, 7, 0}, vboard::kCompareBadTarget},
        {"source axis 32", {kSetInfo, 0, 0, 0, 0, 1, 32}, vboard::kCompareBadTarget},
        {"source group 17", {kSetInfo, 0, 0, 0, 0, 2, 16}, vboard::kCompareBadTarget},
        {"short source", {kSetInfo, 0, 0, 0, 0, 1}, vboard::kCompareShortRequest},
        {"link axis 32", {kLink, 0, 0, 0, 0, 32, 1}, vboard::kCompareBadTarget},
        {"short type 2 table", {kTable2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, vboard::kCompareShortRequest},
        {"table for axis 40", {kTable1, 0, 0, 0, 40, 0, 0, 0}, vboard::kCompareBadTarget},
        {"start without link or table", {kStart, 0, 0, 0, kDevice}, vboard::kCompareNotReady},
        {"status of axis 32", {kStatus, 0, 0, 0, 32}, vboard::kCompareBadTarget},
        {"short stop", {kStop, 0, 0, 0}, vboard::kCompareShortRequest},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(send(c.words), c.result);
    }
    // A link without a source, or a source and link without a table, cannot start.
    ASSERT_EQ(send({kLink, 0, 0, 0, 2, kDevice, 1}), 0);
    EXPECT_EQ(send({kStart, 0, 0, 0, kDevice}), vboard::kCompareNotReady);
    ASSERT_EQ(send({kSetInfo, 0, 0, 0, 2, 1, 0}), 0);
    EXPECT_EQ(send({kStart, 0, 0, 0, kDevice}), vboard::kCompareNotReady);
    EXPECT_EQ(status(kDevice), 0u);
}

TEST_F(CompareModelTest, PositionsPassInTableOrderInEitherDirection) {
    link_axis_source(1, 2);
    position(2, 1000);
    ASSERT_EQ(send(table4(kDevice, {500, 0, -500, 600, 700, 800})), 0);
    ASSERT_EQ(send({kStart, 0, 0, 0, kDevice}), 0);
    EXPECT_NE(board().get_register(kStatusWord + 15 * kDevice) & (1u << 6), 0u) << "taking the start over";
    board().advance(1);
    EXPECT_EQ(board().get_register(kStatusWord + 15 * kDevice) & (1u << 6), 0u);
    EXPECT_EQ(status(kDevice), vboard::kCompareRunning | 4u << vboard::kCompareTypeShift);

    position(2, 501);
    EXPECT_EQ(status(kDevice) & vboard::kComparePassedMask, 0u);
    position(2, -10);
    EXPECT_EQ(status(kDevice) & vboard::kComparePassedMask, 2u) << "500 and 0 in one cycle";
    position(2, 650);
    EXPECT_EQ(status(kDevice) & vboard::kComparePassedMask, 2u) << "-500 comes first";
    position(2, -500);
    position(2, 900);
    const std::uint32_t s = status(kDevice);
    EXPECT_EQ(s & vboard::kComparePassedMask, 6u);
    EXPECT_NE(s & vboard::kCompareDone, 0u);

    // Stopped, nothing more counts; unlinked, a start needs a link again.
    ASSERT_EQ(send({kStop, 0, 0, 0, kDevice}), 0);
    board().advance(1);
    EXPECT_EQ(status(kDevice) & vboard::kCompareRunning, 0u);
    ASSERT_EQ(send({kLink, 0, 0, 0, 0, kDevice, 0}), 0);
    EXPECT_EQ(model().linked_output(kDevice), 0u);
    EXPECT_EQ(send({kStart, 0, 0, 0, kDevice}), vboard::kCompareNotReady);
}

TEST_F(CompareModelTest, TablesWithoutPositionsAreDoneAtOnce) {
    link_axis_source(1, 2);
    ASSERT_EQ(send({kTable1, 0, 0, 0, kDevice, 1, 0, 7}), 0);
    ASSERT_EQ(send({kStart, 0, 0, 0, kDevice}), 0);
    EXPECT_EQ(status(kDevice), vboard::kCompareRunning | vboard::kCompareDone | 1u << vboard::kCompareTypeShift);
    ASSERT_EQ(send(table4(kDevice, {1, 2, 3}, true)), 0);
    EXPECT_TRUE(model().table(kDevice).positions.empty());
}

TEST_F(CompareModelTest, AGroupSourceComparesItsCompareAxis) {
    // Configured: output 2 follows group 1 through its axis 4.
    model().set_group_axes(1, {3, 4});
    model().set_source(2, 1, 4);
    ASSERT_EQ(send({kLink, 0, 0, 0, 1, kDevice, 1}), 0);
    ASSERT_EQ(send(table4(kDevice, {100, 2000, 3000, 4000, 5000, 6000})), 0);
    ASSERT_EQ(send({kStart, 0, 0, 0, kDevice}), 0);
    position(3, 200);
    EXPECT_EQ(status(kDevice) & vboard::kComparePassedMask, 0u) << "axis 3 is not the compare axis";
    position(4, 150);
    EXPECT_EQ(status(kDevice) & vboard::kComparePassedMask, 1u);

    // A group the host defines and sets as a source: its first axis.
    ASSERT_EQ(send({kDefineGroup, 0, 0, 0, 5, 2, 9, 8}), 0);
    ASSERT_EQ(send({kSetInfo, 0, 0, 0, 1, 2, 5}), 0);
    EXPECT_EQ(model().source(2), (std::pair<std::uint32_t, std::uint32_t>{2, 5}));
    ASSERT_EQ(send({kStart, 0, 0, 0, kDevice}), 0);
    position(4, -300);
    position(8, 500);
    EXPECT_EQ(status(kDevice) & vboard::kComparePassedMask, 0u);
    position(9, 100);
    EXPECT_EQ(status(kDevice) & vboard::kComparePassedMask, 1u);
}

}  // namespace
