// Firmware answers to the per-axis queries and settings outside a motion:
// drive digital outputs and inputs, the analog input, drive objects by SDO
// and PDO, the axis parameter command and query, setting the axis position,
// the touch probe and the torque limit. Installed on a board as command handlers;
// a scripted reply (VirtualBoard::script_reply) still wins over them.
//
// Values are kept per internal axis index 0..31; an index of 32 or more in
// a request is answered with kAxisQueryBadAxis. Every method is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "vboard/vboard.h"

namespace vboard {

// Result word of a request that names no axis of the board.
inline constexpr std::int32_t kAxisQueryBadAxis = 57;
// Result word of a request shorter than its command needs.
inline constexpr std::int32_t kAxisQueryShortRequest = 58;
// Result word of an SDO, PDO or parameter write to a new object once the
// board holds kAxisQueryMaxObjects of that kind.
inline constexpr std::int32_t kAxisQueryStoreFull = 59;
inline constexpr std::size_t kAxisQueryMaxObjects = 4096;

// What the SDO status query reports about the last SDO operation.
struct SdoOperation {
    std::uint32_t state = 0;         // 0 none yet, 1 read done, 2 write done, else the abort code set
    std::uint32_t axis_index = 0;
    std::uint32_t object_index = 0;
    std::uint32_t sub_index = 0;
    std::uint32_t value = 0;
};

// The torque limit last switched on an axis.
struct TorqueLimit {
    std::uint32_t enable = 0;
    double value_count = 0.0;
    std::uint32_t limit1 = 0;
    std::uint32_t limit2 = 0;
};

class AxisQueries {
public:
    // Registers the handlers on `board`, which must outlive this object.
    explicit AxisQueries(VirtualBoard &board);
    ~AxisQueries();  // removes them
    AxisQueries(const AxisQueries &) = delete;
    AxisQueries &operator=(const AxisQueries &) = delete;

    // Drive digital outputs as last written by the host.
    std::uint32_t digital_outputs(std::uint32_t axis) const;
    void set_digital_inputs(std::uint32_t axis, std::uint32_t value);
    void set_analog_input(std::uint32_t axis, std::uint32_t input, std::uint32_t value);

    // Drive objects reached by SDO (object index, sub-index) and by PDO.
    void set_sdo_object(std::uint32_t axis, std::uint32_t index, std::uint32_t sub, std::uint32_t value);
    std::uint32_t sdo_object(std::uint32_t axis, std::uint32_t index, std::uint32_t sub) const;
    // The next SDO operations end with this abort code instead (0: they succeed).
    void set_sdo_abort(std::uint32_t code);
    SdoOperation last_sdo_operation() const;
    void set_pdo_value(std::uint32_t axis, std::uint32_t index, std::uint32_t sub, std::uint32_t value);
    std::uint32_t pdo_value(std::uint32_t axis, std::uint32_t index, std::uint32_t sub) const;

    // Axis parameter `id` as a signed count, as set here or by the host's
    // parameter command 0x10030000. Ids 10 and 18 answer from the axis's
    // velocity and position registers unless set.
    void set_parameter(std::uint32_t axis, std::uint32_t id, std::int64_t count);

    // The touch probe's latched status and position count.
    void set_touch_probe(std::uint32_t axis, std::uint32_t status, std::int64_t position_count);
    TorqueLimit torque_limit(std::uint32_t axis) const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
