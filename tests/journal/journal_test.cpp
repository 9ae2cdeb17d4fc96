#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "journal.h"

namespace {

constexpr int kRingCapacity = 1024;

// The fields as a reader of the record sees them, by byte offset.
struct ReaderView {
    unsigned level;
    unsigned code;
    std::string text;
};

ReaderView read_as_caller(const JournalLogRecord *record) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(record);
    std::uint32_t word0;
    std::memcpy(&word0, bytes, 4);
    std::uint16_t high;
    std::memcpy(&high, bytes + 120, 2);
    const unsigned length = bytes[18];
    return {(word0 >> 14) & 3u, (static_cast<unsigned>(high) << 8) | (word0 & 0xFFu),
            std::string(reinterpret_cast<const char *>(bytes + 19), length)};
}

const JournalLogRecord *newest() {
    const JournalLogRecord *last = nullptr;
    for (int i = 0; const JournalLogRecord *record = LOG_GetLog(i); ++i) last = record;
    return last;
}

TEST(Journal, SetLogBeforeInitAndRepeatedInit) {
    ASSERT_EQ(LOG_SetLog(2, 4101, 0x100500, "early", 5), 0);
    EXPECT_EQ(read_as_caller(newest()).text, "early");
    EXPECT_EQ(LOG_Init(), 0);
    EXPECT_EQ(LOG_Init(), 0);
    EXPECT_EQ(read_as_caller(newest()).text, "early");
}

TEST(Journal, RecordLayoutAsReadersSeeIt) {
    struct Case {
        std::uint8_t level;
        int code;
        unsigned expected_level;
    };
    const Case cases[] = {
        {2, 0x100500, 2},
        {3, 4609, 3},
        {32, 19, 0},  // identity records: only the low two bits travel in word 0
        {3, -1, 3},   // negative codes keep their low 24 bits
    };
    for (const Case &c : cases) {
        ASSERT_EQ(LOG_SetLog(c.level, 4608, c.code, "text", 4), 0);
        const ReaderView view = read_as_caller(newest());
        EXPECT_EQ(view.level, c.expected_level) << c.code;
        EXPECT_EQ(view.code, static_cast<unsigned>(c.code) & 0xFFFFFFu) << c.code;
        EXPECT_EQ(view.text, "text");
    }
}

TEST(Journal, TextIsCutAndLengthIsBounded) {
    const std::string long_text(300, 'x');
    ASSERT_EQ(LOG_SetLog(2, 4101, 1, long_text.c_str(), static_cast<int>(long_text.size())), 0);
    EXPECT_EQ(read_as_caller(newest()).text, std::string(100, 'x'));

    // A length beyond the text's end is not trusted; a shorter one cuts.
    ASSERT_EQ(LOG_SetLog(2, 4101, 1, "abc", 50), 0);
    EXPECT_EQ(read_as_caller(newest()).text, "abc");
    ASSERT_EQ(LOG_SetLog(2, 4101, 1, "abcdef", 2), 0);
    EXPECT_EQ(read_as_caller(newest()).text, "ab");
    ASSERT_EQ(LOG_SetLog(2, 4101, 1, "", 0), 0);
    EXPECT_EQ(newest()->textLength, 0);

    EXPECT_EQ(LOG_SetLog(2, 4101, 1, nullptr, 3), -1);
}

TEST(Journal, RingDropsOldestAndOutOfRangeIsNull) {
    for (int i = 0; i < kRingCapacity + 10; ++i) {
        const std::string text = "record " + std::to_string(i);
        LOG_SetLog(2, 4101, i, text.c_str(), static_cast<int>(text.size()));
    }
    EXPECT_EQ(read_as_caller(LOG_GetLog(0)).text, "record 10");
    EXPECT_EQ(read_as_caller(LOG_GetLog(kRingCapacity - 1)).text, "record 1033");
    EXPECT_EQ(LOG_GetLog(kRingCapacity), nullptr);
    EXPECT_EQ(LOG_GetLog(-1), nullptr);
}

TEST(Journal, ModuleBlock) {
    std::array<unsigned char, 704> block{};
    int length = 0;
    ASSERT_EQ(LOG_GetBufData(0, block.data(), 704, &length), 0);
    EXPECT_EQ(length, 704);
    const std::pair<const char *, std::array<std::uint16_t, 4>> expected[] = {
        {"motionapi", {2, 3, 2, 3443}},
        {"linkhub", {2, 0, 2, 3120}},
        {"boardport", {1, 9, 0, 3147}},
        {"journal", {1, 0, 0, 1}},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        const unsigned char *entry = block.data() + 44 * i;
        std::array<std::uint16_t, 4> version{};
        std::memcpy(version.data(), entry, 8);
        EXPECT_EQ(version, expected[i].second) << i;
        EXPECT_STREQ(reinterpret_cast<const char *>(entry + 24), expected[i].first);
    }
    for (std::size_t i = 4; i < 16; ++i) {
        const unsigned char *entry = block.data() + 44 * i;
        EXPECT_TRUE(std::all_of(entry, entry + 44, [](unsigned char b) { return b == 0; })) << i;
    }

    EXPECT_EQ(LOG_GetBufData(1, block.data(), 704, &length), -1);
    EXPECT_EQ(LOG_GetBufData(0, block.data(), 703, &length), -1);
    EXPECT_EQ(LOG_GetBufData(0, nullptr, 704, &length), -1);
    EXPECT_EQ(LOG_GetBufData(0, block.data(), 704, nullptr), 0);
}

TEST(Journal, AppendsTextLinesToJournalFile) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("journal-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                       "-" + std::to_string(std::rand()) + ".log");
    std::filesystem::remove(path);
    ::setenv("JOURNAL_FILE", path.c_str(), 1);
    LOG_SetLog(3, 4608, 4609, "Connect server timeout. GetLastError:2", 38);
    ::unsetenv("JOURNAL_FILE");
    LOG_SetLog(3, 4608, 1, "not in the file", 15);

    std::ifstream file(path);
    std::stringstream contents;
    contents << file.rdbuf();
    EXPECT_NE(contents.str().find("level=3 module=4608 code=0x1201 Connect server timeout. GetLastError:2\n"),
              std::string::npos)
        << contents.str();
    EXPECT_EQ(contents.str().find("not in the file"), std::string::npos);
    std::filesystem::remove(path);
}

TEST(Journal, ConcurrentWritersAndReaders) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string text = "t" + std::to_string(t);
                LOG_SetLog(2, 4101, i, text.c_str(), static_cast<int>(text.size()));
                if (const JournalLogRecord *record = LOG_GetLog(i % 64)) {
                    EXPECT_LE(record->textLength, 100);
                }
            }
        });
    }
    for (auto &thread : threads) thread.join();
    int held = 0;
    while (LOG_GetLog(held) != nullptr) ++held;
    EXPECT_EQ(held, kRingCapacity);
}

}  // namespace
