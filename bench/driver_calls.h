// The driver requests of one call of the motion interface, recorded as the
// communication-layer calls it made on the calling thread, and replayed bare
// through the communication layer: the reference that each motion benchmark
// times beside the call.
#pragma once

#include <cstdint>
#include <vector>

namespace qax_bench {

struct DriverCall {
    enum class Kind { read_register, write_register, read_block, sync_command, channel_command };
    Kind kind = Kind::read_register;
    std::uint32_t index = 0;              // read_register, write_register
    std::uint32_t value = 0;              // write_register
    std::vector<std::uint32_t> indices;   // read_block
    std::vector<std::uint8_t> input;      // sync_command, channel_command
    std::uint32_t output_length = 0;      // sync_command, channel_command
    int channel = 0;                      // channel_command
};

// While it lives, the calling thread's communication-layer calls of the
// library are recorded (and made as usual).
class DriverCallRecorder {
public:
    DriverCallRecorder();
    ~DriverCallRecorder();
    DriverCallRecorder(const DriverCallRecorder &) = delete;
    DriverCallRecorder &operator=(const DriverCallRecorder &) = delete;

    // The calls recorded so far, taken out.
    std::vector<DriverCall> take();
};

// The recorded calls made again straight through the communication layer,
// in order: 0, or the first call's failure.
class BareReplay {
public:
    explicit BareReplay(std::vector<DriverCall> calls);
    int run();
    std::size_t size() const { return calls_.size(); }

private:
    std::vector<DriverCall> calls_;
    std::vector<std::uint32_t> values_;
    std::vector<std::uint8_t> reply_;
};

}  // namespace qax_bench
