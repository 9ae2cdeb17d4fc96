// The firmware's process image of the bus's I/O slaves, as the I/O-slave
// commands reach it. Installed on a board as command handlers and a cycle
// handler, like MotionModel; a scripted reply (VirtualBoard::script_reply)
// still wins for the synchronous command.
//
// Per configured slave number s (0..64), with counts DI, AI, DO, AO:
// - inputs: registers 6454 + 10s .. 6458 + 10s hold the digital inputs
//   (bit b in register 6454 + 10s + (b - 1) / 32, bit (b - 1) mod 32), and
//   6459 + 10s .. 6463 + 10s the analog inputs (channel c in register
//   6459 + 10s + (c - 1) / 2, odd c in the low half); the test sets them;
// - outputs: registers 7094 + 10s .. in the same layout, written by the
//   digital-output command 0x30020000 (word 4 the slave, word 5 the count
//   n, words 6 .. 5 + n the objects, then the low and the high mask word:
//   object o is bit b = o - DI - AI, its value bit b - 1 of the 64-bit
//   mask) and the analog-output command 0x30050000 (word 4 = object |
//   slave << 16 with channel c = object - DI - AI - DO, word 5 the value,
//   its low 16 bits kept). A command naming no configured slave, an
//   object outside the slave's outputs or an analog channel beyond the
//   ten its registers hold changes nothing (the digital command applies
//   none of its objects then);
// - the digital-input parameter 0x300b0001 (word 4 = bit | slave << 16,
//   word 5 the value 0 or 1) keeps the value and sets bit s - 1 of the
//   I/O slave status word (register 521) for IoTiming::parameter_cycles
//   board cycles (slaves 1..32; the word has no bit for the others). It
//   answers kIoBadSlave, kIoBadObject or kIoBadValue for a slave, bit or
//   value it does not have.
// Every method is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vboard/machine.h"
#include "vboard/vboard.h"

namespace vboard {

inline constexpr std::int32_t kIoShortRequest = 58;
inline constexpr std::int32_t kIoBadSlave = 70;   // no such slave number
inline constexpr std::int32_t kIoBadObject = 71;  // bit or channel outside the slave
inline constexpr std::int32_t kIoBadValue = 72;   // a parameter value other than 0 and 1

struct IoTiming {
    std::uint32_t parameter_cycles = 3;  // a digital-input parameter: its status bit this long
};

class IoImage {
public:
    // Registers the handlers on `board`, which must outlive this object.
    IoImage(VirtualBoard &board, std::vector<MachineIoSlave> slaves, IoTiming timing = {});
    ~IoImage();  // removes them
    IoImage(const IoImage &) = delete;
    IoImage &operator=(const IoImage &) = delete;

    // Inputs as the slave reports them; false (nothing set) for a slave,
    // bit or channel it does not have.
    bool set_digital_input(std::uint32_t slave, std::uint32_t bit, bool on);
    bool set_analog_input(std::uint32_t slave, std::uint32_t channel, std::uint16_t value);
    // Outputs as the board holds them (0 for a slave, bit or channel it
    // does not have).
    bool digital_output(std::uint32_t slave, std::uint32_t bit) const;
    std::uint16_t analog_output(std::uint32_t slave, std::uint32_t channel) const;

    // An output that another firmware model sets (a path channel's output
    // command), by object number as the output commands number them, with
    // the board's registers at hand (the caller holds their lock): a digital
    // object takes value != 0, an analog one the value's low 16 bits. False,
    // nothing changed, for a slave or object it does not have.
    bool set_output(VirtualBoard::Registers &registers, std::uint32_t slave, std::uint32_t object,
                    std::uint32_t value) const;

    // While held, the slave's digital-input parameter commands start but
    // never finish (their status bit stays set).
    void hold(std::uint32_t slave, bool held);
    // The parameter last set for digital input `bit` (0 when never set),
    // and how many parameter commands of the slave the board took.
    std::uint32_t input_parameter(std::uint32_t slave, std::uint32_t bit) const;
    std::uint32_t parameter_commands(std::uint32_t slave) const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
