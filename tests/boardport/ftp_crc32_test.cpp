// The transfer check value: CRC-32 over the reflected polynomial, from 0 and
// without the final inversion.
#include <gtest/gtest.h>

#include <string_view>

#include "crc32.h"

namespace {

std::uint32_t crc_of(std::string_view text, std::uint32_t crc = boardport::kCrcInitial) {
    return boardport::crc32_update(
        crc, std::span(reinterpret_cast<const std::uint8_t *>(text.data()), text.size()));
}

TEST(FtpCheckValue, KnownValues) {
    EXPECT_EQ(crc_of("abc"), 0xCA6598D0u);
    EXPECT_EQ(crc_of(""), 0u);
    // The common form (inverted start and end) of "abc" is 0x352441C2: not this one.
    EXPECT_NE(~crc_of("abc", 0xFFFFFFFFu), crc_of("abc"));
    EXPECT_EQ(~crc_of("abc", 0xFFFFFFFFu), 0x352441C2u);
}

TEST(FtpCheckValue, ContinuesAcrossChunks) {
    EXPECT_EQ(crc_of("c", crc_of("ab")), crc_of("abc"));
}

}  // namespace
