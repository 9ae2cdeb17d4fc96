// The configuration parser and the shared variables built from it, read
// back at the byte offsets the motion library uses.
#include <gtest/gtest.h>

#include <map>

#include "cardhost/constants.h"
#include "cardhost/machine_config.h"
#include "cardhost/shared_variables.h"
#include "cardhost_fixture.h"
#include "child_process.h"
#include "pipe_client.h"

namespace {

using cardhost_test::get_i32;
using cardhost_test::get_u16;
using cardhost_test::get_u32;

std::map<std::int32_t, std::vector<std::uint8_t>> variables_of(const char *text) {
    std::string error;
    const auto config = cardhost::parse_machine_config(text, &error);
    EXPECT_TRUE(config.has_value()) << error;
    std::map<std::int32_t, std::vector<std::uint8_t>> vars;
    if (!config) return vars;
    for (auto &var : cardhost::build_shared_variables(*config)) vars[var.id] = var.bytes;
    return vars;
}

class CardhostSharedVariables : public ::testing::Test {
protected:
    std::map<std::int32_t, std::vector<std::uint8_t>> vars = variables_of(qax_test::kCardhostTestConfig);
};

TEST_F(CardhostSharedVariables, AxisConfigurationHoldsTheCountIdsAndMap) {
    const auto &v = vars[32];
    ASSERT_EQ(v.size(), 272u);
    EXPECT_EQ(get_i32(v.data(), 4), 3);
    const std::uint32_t ids[32] = {1, 2, 5};
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(get_u32(v.data(), 12 + 4 * i), ids[i]) << "index " << i;
    const std::map<std::size_t, std::uint32_t> mapped = {{1, 0}, {2, 1}, {5, 2}};
    for (std::size_t n = 0; n <= 32; ++n) {
        const std::uint32_t expected = mapped.count(n) ? mapped.at(n) : 0xFFFFFFFFu;
        EXPECT_EQ(get_u32(v.data(), 140 + 4 * n), expected) << "axis " << n;
    }
}

TEST_F(CardhostSharedVariables, SlaveIdentitiesArePairsByInternalIndex) {
    const auto &v = vars[33];
    ASSERT_EQ(v.size(), 512u);
    const std::uint32_t expected[3][2] = {{1511, 0x4021001}, {1511, 0x1000}, {1647, 7}};
    for (std::size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(get_u32(v.data(), 8 * i), i < 3 ? expected[i][0] : 0u) << "pair " << i;
        EXPECT_EQ(get_u32(v.data(), 8 * i + 4), i < 3 ? expected[i][1] : 0u) << "pair " << i;
    }
}

TEST_F(CardhostSharedVariables, IoSlaveTableHoldsOneSlaveFieldByField) {
    const auto &v = vars[34];
    ASSERT_EQ(v.size(), 392u);
    EXPECT_EQ(get_i32(v.data(), 0), 1);
    EXPECT_EQ(v[4], 3);  // slave number of entry 0
    for (std::size_t s = 0; s <= 64; ++s) {
        EXPECT_EQ(static_cast<std::int8_t>(v[68 + s]), s == 3 ? 0 : -1) << "slave " << s;
    }
    EXPECT_EQ(static_cast<std::int8_t>(v[133]), 16);  // DI
    EXPECT_EQ(v[197], 2);                             // AI
    EXPECT_EQ(v[261], 8);                             // DO
    EXPECT_EQ(v[325], 1);                             // AO
    EXPECT_EQ(v[134], 0);                             // entry 1 unused
}

TEST_F(CardhostSharedVariables, CompareLinksNameAnAxisIndexOrAGroup) {
    const auto &v = vars[1025];
    ASSERT_EQ(v.size(), 128u);
    EXPECT_EQ(get_u32(v.data(), 0), 1u);    // output 1: axis 2 = index 1
    EXPECT_EQ(get_u32(v.data(), 8), 32u);   // output 3: group 1 = 32 + (1 - 1)
    EXPECT_EQ(get_u32(v.data(), 4), cardhost::kCompareNoSource);
    EXPECT_EQ(get_u32(v.data(), 124), cardhost::kCompareNoSource);
}

TEST_F(CardhostSharedVariables, AxesGroupTableHoldsOneGroupFieldByField) {
    const auto &v = vars[1026];
    ASSERT_EQ(v.size(), 324u);
    EXPECT_EQ(get_i32(v.data(), 0), 1);
    const std::uint8_t *entry = v.data() + 4;
    EXPECT_EQ(get_u16(entry, 0), 1);  // group number
    EXPECT_EQ(get_u16(entry, 2), 2);  // axis count
    const std::uint16_t axes[6] = {1, 2, 0, 0, 0, 0};
    for (std::size_t a = 0; a < 6; ++a) EXPECT_EQ(get_u16(entry, 4 + 2 * a), axes[a]);
    EXPECT_EQ(get_u16(entry, 16), 1);  // compare output 3 follows the group
    EXPECT_EQ(get_u16(entry, 18), 0);  // recorded by axis 1's index
    for (std::size_t b = 24; b < 324; ++b) ASSERT_EQ(v[b], 0) << "byte " << b;
}

TEST(CardhostConfigFile, ReadsQuotedNamesHexNumbersAndComments) {
    std::string error;
    const auto config = cardhost::parse_machine_config(
        "card name=\"Card # One\" model=0x1CF6   # the 7414\n"
        "module name=Boot version=1.2\n"
        "ethercat state=stopped cycle_us=0xFA\n",
        &error);
    ASSERT_TRUE(config.has_value()) << error;
    EXPECT_EQ(config->cardName, "Card # One");
    EXPECT_EQ(config->model, 7414);
    EXPECT_FALSE(config->ecatRunning);
    EXPECT_EQ(config->cyclePeriodUs, 250u);
    ASSERT_EQ(config->modules.size(), 1u);
    EXPECT_EQ(config->modules[0].version[1], 2);
    EXPECT_EQ(config->modules[0].version[2], 0);
}

TEST(CardhostConfigFile, ShippedDefaultConfigurationLoads) {
    std::string error;
    const auto path = qax_test::test_program("machine.conf");
    const auto config = cardhost::load_machine_config(path, &error);
    ASSERT_TRUE(config.has_value()) << error;
    EXPECT_FALSE(config->axes.empty());
    EXPECT_EQ(config->cyclePeriodUs, cardhost::kDefaultCyclePeriodUs);
}

struct BadConfig {
    const char *text;
    const char *error;  // part of the expected message
    friend void PrintTo(const BadConfig &c, std::ostream *os) { *os << c.error; }
};

class CardhostConfigErrors : public ::testing::TestWithParam<BadConfig> {};

TEST_P(CardhostConfigErrors, AreReportedWithTheirLine) {
    std::string error;
    const std::string text = std::string("card name=C model=7412\n") + GetParam().text;
    EXPECT_FALSE(cardhost::parse_machine_config(text, &error).has_value());
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CardhostConfigErrors,
    ::testing::Values(
        BadConfig{"axle number=1\n", "line 2: unknown keyword 'axle'"},
        BadConfig{"axis number=1 index=0 speed=3\n", "line 2: unknown key 'speed'"},
        BadConfig{"axis number=33 index=0\n", "number=33 is outside 1..32"},
        BadConfig{"axis number=1\n", "'axis' needs index="},
        BadConfig{"axis number=1 index=0 vendor=12abc\n", "not a number"},
        BadConfig{"axis number=1 index=0\naxis number=1 index=1\n", "axis 1 given twice"},
        BadConfig{"axis number=1 index=0\naxis number=2 index=0\n", "index 0 given twice"},
        BadConfig{"axis number=1 index=1\n", "indices must run from 0"},
        BadConfig{"axis number=1 index=0\ngroup number=1 axes=1\n", "needs 2 to 6 axes"},
        BadConfig{"axis number=1 index=0\ngroup number=1 axes=1,4\n", "axis 4 is not configured"},
        BadConfig{"axis number=1 index=0\naxis number=2 index=1\ngroup number=17 axes=1,2\n", "outside 1..16"},
        BadConfig{"io slave=65\n", "outside 0..64"},
        BadConfig{"io slave=1 di=128\n", "outside 0..127"},
        BadConfig{"io slave=1\nio slave=1\n", "I/O slave 1 given twice"},
        BadConfig{"axis number=1 index=0\ncompare output=1 axis=1 group=1\n", "exactly one of axis= and group="},
        BadConfig{"compare output=1 axis=3\n", "axis not configured"},
        BadConfig{"compare output=33 axis=1\n", "outside 1..32"},
        BadConfig{"card name=D model=1\n", "a second 'card' line"},
        BadConfig{"module name=\"open\n", "unterminated quote"},
        BadConfig{"module name=ThisNameIsFarTooLong version=1\n", "longer than 16"},
        BadConfig{"module name=M version=1.2.3.4.5\n", "more than four parts"},
        BadConfig{"log level=4 code=1 text=x\n", "outside 0..3"},
        BadConfig{"ethercat state=running cycle_us=99\n", "cycle_us=99 is outside 100..10000"},
        BadConfig{"ethercat cycle_us=1000\n", "'ethercat' needs state="}));

TEST(CardhostConfigFile, MissingCardLineIsAnError) {
    std::string error;
    EXPECT_FALSE(cardhost::parse_machine_config("axis number=1 index=0\n", &error).has_value());
    EXPECT_EQ(error, "no 'card' line");
}

}  // namespace
