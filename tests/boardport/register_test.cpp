// Single and block register access: the request records, the values and
// what a failed request leaves behind.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "board_env.h"
#include "boardport.h"
#include "vboard/vboard.h"

namespace boardport_test {
namespace {

constexpr std::size_t kBlockBytes = 0x1800C;
constexpr std::size_t kValuesOffset = 0xC000;
constexpr std::size_t kCountOffset = 0x18000;

// 12288 locked writes. The budget leaves room for a machine busy with
// parallel tests; the sanitizers slow every request down several times.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kFullResetBudget = std::chrono::seconds(8);
#else
constexpr auto kFullResetBudget = std::chrono::seconds(2);  // about 0.3 s on an idle machine
#endif

class BoardportRegisters : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        open_board();
        board().clear_requests();
    }
    const vboard::Request &only_request() {
        requests_ = board().requests();
        EXPECT_EQ(requests_.size(), 1u);
        if (requests_.empty()) {
            requests_.push_back({});
        }
        return requests_.front();
    }
    std::vector<vboard::Request> requests_;
};

TEST_F(BoardportRegisters, SingleRequestRecordsFieldByField) {
    struct Case {
        const char *name;
        std::function<int()> call;
        std::uint32_t code;
        std::uint32_t index;
        std::uint64_t value_field;
    };
    const std::uint32_t value32 = 0xCAFEF00D;
    const std::uint64_t value64 = 0x1122334455667788ull;
    std::uint32_t read32 = 0;
    std::uint64_t read64 = 0;
    const Case cases[] = {
        {"read32", [&] { return WDF_ReadRegister32(0x10, &read32); }, 0x222054, 0x10, 0},
        {"write32", [&] { return WDF_WriteRegister32(0x11, &value32); }, 0x222058, 0x11, value32},
        {"read64", [&] { return WDF_ReadRegister64(0x12, &read64); }, 0x22205C, 0x12, 0},
        {"write64", [&] { return WDF_WriteRegister64(0x14, &value64); }, 0x222060, 0x14, value64},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        board().clear_requests();
        ASSERT_EQ(c.call(), 0);
        const vboard::Request &request = only_request();
        EXPECT_EQ(request.code, c.code);
        ASSERT_EQ(request.input.size(), 16u);
        EXPECT_EQ(request.output_capacity, 16u);
        EXPECT_EQ(u32_at(request.input, 0), c.index);
        EXPECT_EQ(u32_at(request.input, 4), 0u);
        EXPECT_EQ(u64_at(request.input, 8), c.value_field);
    }
    EXPECT_EQ(board().get_register(0x11), value32);
    EXPECT_EQ(board().get_register(0x14), 0x55667788u);
    EXPECT_EQ(board().get_register(0x15), 0x11223344u);
}

TEST_F(BoardportRegisters, ReadsReturnTheBoardValues) {
    board().set_register(0x20, 0xABCD1234);
    board().set_register(0x22, 0x89ABCDEF);  // low word first
    board().set_register(0x23, 0x01234567);
    std::uint32_t value32 = 0;
    std::uint64_t value64 = 0;
    EXPECT_EQ(WDF_ReadRegister32(0x20, &value32), 0);
    EXPECT_EQ(WDF_ReadRegister64(0x22, &value64), 0);
    EXPECT_EQ(value32, 0xABCD1234u);
    EXPECT_EQ(value64, 0x0123456789ABCDEFull);
}

TEST_F(BoardportRegisters, FailedOrShortSingleRequestsGiveMinus4) {
    board().set_register(0x30, 0x5555AAAA);
    for (vboard::Fault fault : {vboard::Fault::fail_request, vboard::Fault::short_count}) {
        SCOPED_TRACE(static_cast<int>(fault));
        for (std::uint32_t code : {0x222054u, 0x222058u, 0x22205Cu, 0x222060u}) {
            board().inject_fault(code, fault, 1);
        }
        std::uint32_t read32 = 0xFFFFFFFF;
        std::uint64_t read64 = ~0ull;
        const std::uint32_t value32 = 1;
        const std::uint64_t value64 = 1;
        EXPECT_EQ(WDF_ReadRegister32(0x30, &read32), -4);
        EXPECT_EQ(WDF_WriteRegister32(0x31, &value32), -4);
        EXPECT_EQ(WDF_ReadRegister64(0x30, &read64), -4);
        EXPECT_EQ(WDF_WriteRegister64(0x31, &value64), -4);
        if (fault == vboard::Fault::fail_request) {
            // A failed read still stores, and what it stores is 0.
            EXPECT_EQ(read32, 0u);
            EXPECT_EQ(read64, 0u);
        }
    }
    board().clear_faults();
    board().fail_register_reads(0x30, true);
    std::uint32_t read32 = 0xFFFFFFFF;
    EXPECT_EQ(WDF_ReadRegister32(0x30, &read32), -4);
    EXPECT_EQ(read32, 0u);
}

TEST_F(BoardportRegisters, NullValuePointersAreRefusedWithoutARequest) {
    EXPECT_EQ(WDF_WriteRegister32(1, nullptr), -4);
    EXPECT_EQ(WDF_WriteRegister64(1, nullptr), -4);
    EXPECT_EQ(WDF_ReadRegister32(1, nullptr), -4);
    EXPECT_EQ(WDF_ReadRegister64(1, nullptr), -4);
    EXPECT_EQ(WDF_ReadMultiRegister32(nullptr, nullptr, 1), -4);
    EXPECT_EQ(WDF_WriteMultiRegister64(nullptr, nullptr, 1), -4);
    char text[64];
    std::uint8_t version[8];
    EXPECT_EQ(WDF_GetDriverVersion(nullptr, 64, version, 8, text, 64), -3);
    EXPECT_EQ(WDF_GetDriverVersion(text, 64, nullptr, 8, text, 64), -3);
    EXPECT_EQ(WDF_GetDriverVersion(text, 64, version, 8, nullptr, 64), -3);
    EXPECT_TRUE(board().requests().empty());
    // A part not asked for needs no buffer.
    EXPECT_EQ(WDF_GetDriverVersion(nullptr, 0, version, 8, nullptr, 0), 0);
}

enum class Form { read32, write32, read64, write64 };

struct Block {
    std::vector<std::uint32_t> indices;
    std::vector<std::uint32_t> values32;
    std::vector<std::uint64_t> values64;
    explicit Block(std::size_t entries, std::uint32_t fill = 0xEEEEEEEE)
        : indices(entries), values32(entries, fill), values64(entries, std::uint64_t{fill} << 32 | fill) {
        for (std::size_t i = 0; i < entries; ++i) {
            indices[i] = static_cast<std::uint32_t>(i % 0x3000);
        }
    }
    int call(Form form, int count) {
        switch (form) {
        case Form::read32: return WDF_ReadMultiRegister32(indices.data(), values32.data(), count);
        case Form::write32: return WDF_WriteMultiRegister32(indices.data(), values32.data(), count);
        case Form::read64: return WDF_ReadMultiRegister64(indices.data(), values64.data(), count);
        case Form::write64: return WDF_WriteMultiRegister64(indices.data(), values64.data(), count);
        }
        return 99;
    }
};

TEST_F(BoardportRegisters, BlockCountLimits) {
    struct Case {
        Form form;
        int count;
        int result;
        bool request;
    };
    const Case cases[] = {
        {Form::read32, 0, 0, false},       {Form::write32, -1, 0, false},    {Form::read32, -70000, 0, false},
        {Form::read32, 12288, 0, true},    {Form::write32, 12288, 0, true},  {Form::read32, 12289, -3, false},
        {Form::write32, 12289, -3, false}, {Form::read64, 0, 0, false},      {Form::write64, -5, 0, false},
        {Form::read64, 6144, 0, true},     {Form::write64, 6144, 0, true},   {Form::read64, 6145, -3, false},
        {Form::write64, 6145, -3, false},  {Form::read64, 12288, -3, false},
    };
    Block block(12289);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "form " << static_cast<int>(c.form) << " count " << c.count);
        board().clear_requests();
        const Block before = block;
        EXPECT_EQ(block.call(c.form, c.count), c.result);
        EXPECT_EQ(board().requests().size(), c.request ? 1u : 0u);
        if (!c.request) {
            EXPECT_EQ(block.values32, before.values32);
            EXPECT_EQ(block.values64, before.values64);
        }
    }
}

TEST_F(BoardportRegisters, BlockLimitIsTestedBeforeTheDeviceOnlyBy64BitForms) {
    WDF_Exit();
    Block block(12289);
    EXPECT_EQ(block.call(Form::read32, 12289), -1);
    EXPECT_EQ(block.call(Form::write32, 12289), -1);
    EXPECT_EQ(block.call(Form::read64, 6145), -3);
    EXPECT_EQ(block.call(Form::write64, 6145), -3);
    EXPECT_EQ(block.call(Form::read64, 0), -1);
}

TEST_F(BoardportRegisters, BlockRecordIsZeroFilledForEachRequest) {
    Block large(100, 0x77777777);
    ASSERT_EQ(large.call(Form::write64, 100), 0);
    Block small(3, 0);
    small.indices = {0x40, 0x41, 0x42};
    small.values32 = {0xA, 0xB, 0xC};
    board().clear_requests();
    ASSERT_EQ(small.call(Form::write32, 3), 0);
    const vboard::Request &request = only_request();
    EXPECT_EQ(request.code, 0x222080u);
    ASSERT_EQ(request.input.size(), kBlockBytes);
    EXPECT_EQ(request.output_capacity, kBlockBytes);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(u32_at(request.input, 4 * i), 0x40 + i);
        EXPECT_EQ(u32_at(request.input, kValuesOffset + 4 * i), 0xA + i);
    }
    EXPECT_TRUE(all_zero(request.input, 12, kValuesOffset));
    EXPECT_TRUE(all_zero(request.input, kValuesOffset + 12, kCountOffset));
    EXPECT_EQ(u32_at(request.input, kCountOffset), 3u);
    EXPECT_TRUE(all_zero(request.input, kCountOffset + 4, kBlockBytes));
    EXPECT_EQ(board().get_register(0x41), 0xBu);
}

// Threads come and go in an application; each one's block requests must
// leave nothing behind that its end frees from freed memory (wine's heap
// check, on in the Windows test runs, reports such a free).
TEST_F(BoardportRegisters, ThreadsThatMadeBlockRequestsEndCleanly) {
    board().set_register(0x60, 0x1234);
    constexpr int kThreads = 8;
    std::atomic<int> good{0};
    for (int round = 0; round < kThreads; ++round) {
        std::thread([&] {
            Block block(2);
            block.indices = {0x60, 0x61};
            if (block.call(Form::read32, 2) == 0 && block.values32[0] == 0x1234) ++good;
        }).join();
    }
    EXPECT_EQ(good.load(), kThreads);
#if defined(_WIN32)
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << "the process heap is damaged";
#endif
    Block after(1);
    after.indices = {0x60};
    ASSERT_EQ(after.call(Form::read32, 1), 0);
    EXPECT_EQ(after.values32[0], 0x1234u);
}

TEST_F(BoardportRegisters, BlockRequestCodesAndValues) {
    for (std::uint32_t i = 0; i < 8; ++i) {
        board().set_register(0x100 + i, 0x1000 + i);
    }
    Block block(4);
    block.indices = {0x100, 0x102, 0x104, 0x106};
    ASSERT_EQ(block.call(Form::read32, 4), 0);
    EXPECT_EQ(block.values32, (std::vector<std::uint32_t>{0x1000, 0x1002, 0x1004, 0x1006}));
    ASSERT_EQ(block.call(Form::read64, 4), 0);
    EXPECT_EQ(block.values64[1], 0x0000100300001002ull);  // low word first

    block.values64 = {0x0000000200000001ull, 0x0000000400000003ull, 0, 0};
    ASSERT_EQ(block.call(Form::write64, 2), 0);
    EXPECT_EQ(board().get_register(0x100), 1u);
    EXPECT_EQ(board().get_register(0x103), 4u);

    const auto codes = board().requests();
    ASSERT_EQ(codes.size(), 3u);
    EXPECT_EQ(codes[0].code, 0x222064u);
    EXPECT_EQ(codes[1].code, 0x222084u);
    EXPECT_EQ(codes[2].code, 0x222088u);
    EXPECT_EQ(u64_at(codes[2].input, kValuesOffset + 8), 0x0000000400000003ull);
    EXPECT_EQ(u32_at(codes[2].input, kCountOffset), 2u);
}

TEST_F(BoardportRegisters, FailedBlockReadCopiesNothingOut) {
    for (vboard::Fault fault : {vboard::Fault::fail_request, vboard::Fault::short_count}) {
        for (Form form : {Form::read32, Form::read64}) {
            board().inject_fault(form == Form::read32 ? 0x222064 : 0x222084, fault, 1);
            Block block(8, 0x5A5A5A5A);
            const Block before = block;
            EXPECT_EQ(block.call(form, 8), -4);
            EXPECT_EQ(block.values32, before.values32);
            EXPECT_EQ(block.values64, before.values64);
        }
    }
}

TEST_F(BoardportRegisters, FullResetClearsEveryRegisterQuickly) {
    for (std::uint32_t i = 0; i < 0x3000; i += 0x101) {
        board().set_register(i, 0xFFFF0000 | i);
    }
    board().record_requests(false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WDF_Reset(0), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, kFullResetBudget);
    for (std::uint32_t i = 0; i < 0x3000; i += 0x101) {
        EXPECT_EQ(board().get_register(i), 0u) << i;
    }
}

TEST_F(BoardportRegisters, FullResetWritesInOrderAndStopsAtTheFirstFailure) {
    ASSERT_EQ(WDF_Reset(0), 0);
    const std::vector<std::uint32_t> written = indices_of(board().requests(), 0x222058);
    ASSERT_EQ(written.size(), 0x3000u);
    for (std::uint32_t i = 0; i < written.size(); ++i) {
        ASSERT_EQ(written[i], i);
    }
    board().clear_requests();
    board().inject_fault(0x222058, vboard::Fault::fail_request, 1);
    EXPECT_EQ(WDF_Reset(0), -4);
    EXPECT_EQ(board().count_requests(0x222058), 1u);
}

}  // namespace
}  // namespace boardport_test
