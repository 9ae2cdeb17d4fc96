// Parsing of the request parameter text.
#include <gtest/gtest.h>

#include <cstring>

#include "cardhost/params.h"

namespace {

using cardhost::Parameters;

struct IntegerCase {
    const char *text;
    const char *key;
    std::optional<std::int32_t> expected;
    friend void PrintTo(const IntegerCase &c, std::ostream *os) { *os << c.text << " [" << c.key << "]"; }
};

class CardhostParameterIntegers : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(CardhostParameterIntegers, ReadsOrRefusesTheValue) {
    const IntegerCase &c = GetParam();
    const auto params = Parameters::parse(c.text, std::strlen(c.text) + 1);
    ASSERT_TRUE(params.has_value()) << c.text;
    EXPECT_EQ(params->integer(c.key), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CardhostParameterIntegers,
    ::testing::Values(IntegerCase{"processId=42&level=3", "processId", 42},
                      IntegerCase{"processId=42&level=3", "level", 3},
                      IntegerCase{"id=-7", "id", -7},
                      IntegerCase{"id=+7", "id", 7},
                      IntegerCase{"id=2147483647", "id", 2147483647},
                      IntegerCase{"id=2147483648", "id", std::nullopt},     // out of range
                      IntegerCase{"id=-2147483649", "id", std::nullopt},
                      IntegerCase{"id=", "id", std::nullopt},               // empty
                      IntegerCase{"id=12x", "id", std::nullopt},            // trailing garbage
                      IntegerCase{"id= 12", "id", std::nullopt},
                      IntegerCase{"processId=1", "level", std::nullopt},    // missing key
                      IntegerCase{"&&id=5&", "id", 5},                      // empty pairs skipped
                      IntegerCase{"ID=5", "id", std::nullopt}));            // keys are case-sensitive

TEST(CardhostParameterText, MalformedTextIsRefused) {
    for (const char *text : {"processId", "=5", "id=1&id=2", "a=1&b"}) {
        EXPECT_FALSE(Parameters::parse(text, std::strlen(text) + 1).has_value()) << text;
    }
}

TEST(CardhostParameterText, ReadsNoFurtherThanTheFieldWhenUnterminated) {
    char field[16];
    std::memset(field, 'x', sizeof field);
    std::memcpy(field, "id=123456789012", 15);
    field[15] = '9';  // no terminator inside the field
    const auto params = Parameters::parse(field, sizeof field);
    ASSERT_TRUE(params.has_value());
    EXPECT_EQ(params->text("id"), std::optional<std::string_view>("1234567890129"));
    EXPECT_EQ(params->integer("id"), std::nullopt);  // too large for 32 bits
}

TEST(CardhostParameterText, StopsAtTheFirstNul) {
    const char field[] = "id=5\0level=3";
    const auto params = Parameters::parse(field, sizeof field);
    ASSERT_TRUE(params.has_value());
    EXPECT_EQ(params->integer("id"), 5);
    EXPECT_EQ(params->integer("level"), std::nullopt);
}

}  // namespace
