// Fixture of the command-list tests over the scripted communication layer:
// a small machine (axes, groups, an I/O slave, a compare output), write
// permission held, a node record builder and a reader of the requests the
// lists sent.
#pragma once

#include <cstring>
#include <limits>
#include <vector>

#include "buffered/ct_encoding.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "core/node_checks.h"
#include "machine_tables.h"
#include "motion_fixture.h"
#include "platform/platform.h"

namespace motion_test {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// A node record of `size` bytes, fields written at their offsets.
class NodeRecord {
public:
    explicit NodeRecord(std::size_t size) : bytes_(size, 0) {}
    NodeRecord &U32(std::size_t offset, std::uint32_t v) { return Put(offset, &v, sizeof v); }
    NodeRecord &I32(std::size_t offset, std::int32_t v) { return Put(offset, &v, sizeof v); }
    NodeRecord &U16(std::size_t offset, std::uint16_t v) { return Put(offset, &v, sizeof v); }
    NodeRecord &F64(std::size_t offset, double v) { return Put(offset, &v, sizeof v); }
    // Consecutive fields from `offset` on.
    NodeRecord &U32s(std::size_t offset, std::initializer_list<std::uint32_t> values) {
        for (std::uint32_t v : values) U32(offset, v), offset += 4;
        return *this;
    }
    NodeRecord &F64s(std::size_t offset, std::initializer_list<double> values) {
        for (double v : values) F64(offset, v), offset += 8;
        return *this;
    }
    const void *data() const { return bytes_.empty() ? nullptr : bytes_.data(); }
    int size() const { return static_cast<int>(bytes_.size()); }

private:
    NodeRecord &Put(std::size_t offset, const void *v, std::size_t n) {
        if (offset + n <= bytes_.size()) std::memcpy(bytes_.data() + offset, v, n);
        return *this;
    }
    std::vector<std::uint8_t> bytes_;
};

// Axes 1..6 at indices 0..5 (axis 7 not configured), enabled and idle;
// group 1 = axes 1, 2 and group 2 = axes 3, 4, 5; I/O slave 1 with 16
// digital inputs, 2 analog inputs, 8 digital and 2 analog outputs; axis 6
// a drive with compare outputs, linked to compare output 1, whose source
// is group 1. Cycle period 1 ms: 1 unit per second is 100 counts per cycle.
class CtTest : public FakeCommTest {
protected:
    static constexpr std::uint32_t kCompareAxis = 6;
    static constexpr std::uint32_t kCompareIndex = 5;

    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 3, 4, 5, 6});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7000);
        g_bWritePermission.store(1);
        g_CyclePeriodMs.store(1.0);
        for (std::uint32_t a = 0; a < 6; ++a) comm().set_register(8741 + 15 * a, 0xF01);
        set_groups({{1, 2}, {3, 4, 5}});
        for (double &v : g_GroupMaxVelocity) v = 4.0e8;
        set_io_slave(1, 16, 2, 8, 2);
        link_compare(kCompareIndex, 1, 3, 33);
    }
    void TearDown() override {
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        for (auto &started : g_CtStarted) started.store(0);
        clear_machine_tables();
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        McSetCommCalls(nullptr);
        FakeCommTest::TearDown();
    }

    // The axis's record position (counts) as the board reports it.
    void set_position(std::uint32_t index, std::int64_t counts) {
        const auto v = static_cast<std::uint64_t>(counts);
        comm().set_register(8738 + 15 * index, static_cast<std::uint32_t>(v));
        comm().set_register(8739 + 15 * index, static_cast<std::uint32_t>(v >> 32));
    }

    std::int32_t owner(std::uint32_t index) const { return g_AxisRecords[index].ownerChannel.load(); }

    std::size_t sent() { return comm().channel_commands().size(); }
};

// One request field after the 12-byte head.
struct CtField {
    enum Kind { u32, i64, f64 } kind;
    double value;
};
inline CtField CU(std::uint32_t v) { return {CtField::u32, static_cast<double>(v)}; }
inline CtField CL(std::int64_t v) { return {CtField::i64, static_cast<double>(v)}; }
inline CtField CD(double v) { return {CtField::f64, v}; }

// Checks a command-list request: command word, card word 0, first
// parameter, the fields after them and the exact length.
inline void ExpectCtRequest(const std::vector<std::uint8_t> &request, std::uint32_t command, std::uint32_t first,
                            const std::vector<CtField> &fields) {
    auto word = [&](std::size_t offset) {
        std::uint32_t w = 0;
        if (offset + 4 <= request.size()) std::memcpy(&w, request.data() + offset, 4);
        return w;
    };
    EXPECT_EQ(word(0), command);
    EXPECT_EQ(word(4), 0u);
    EXPECT_EQ(word(8), first);
    std::size_t offset = 12;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        SCOPED_TRACE(testing::Message() << "field " << f);
        const CtField &field = fields[f];
        const std::size_t size = field.kind == CtField::u32 ? 4 : 8;
        ASSERT_LE(offset + size, request.size());
        if (field.kind == CtField::u32) {
            EXPECT_EQ(word(offset), static_cast<std::uint32_t>(field.value));
        } else if (field.kind == CtField::i64) {
            std::int64_t v = 0;
            std::memcpy(&v, request.data() + offset, 8);
            EXPECT_EQ(v, static_cast<std::int64_t>(field.value));
        } else {
            double v = 0;
            std::memcpy(&v, request.data() + offset, 8);
            EXPECT_DOUBLE_EQ(v, field.value);
        }
        offset += size;
    }
    EXPECT_EQ(request.size(), offset) << "request length";
}

}  // namespace motion_test
