// A virtual board inside the benchmark process with no socket between: it
// is installed as the platform layer's devices, so that each driver request
// of the stack is answered at once on the calling thread, and a figure is
// the stack's own CPU per call. The board holds the I/O image of the
// benchmarks' machine; every other command gets the firmware's default
// answer (success, no motion).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "vboard/io_image.h"
#include "vboard/vboard.h"

namespace qax_bench {

class InProcessBoard final : public platform::Devices {
public:
    InProcessBoard();
    ~InProcessBoard() override;
    InProcessBoard(const InProcessBoard &) = delete;
    InProcessBoard &operator=(const InProcessBoard &) = delete;

    vboard::VirtualBoard &board() { return board_; }
    vboard::IoImage &io() { return io_; }

    // platform::Devices: one interface of the board's class; a request on
    // an open handle is answered by the board, with the socket client's
    // error numbers for what a socket would break on.
    std::unique_ptr<platform::DeviceInfoSet> list(const char *class_guid) override;
    platform::DeviceHandle open(const std::string &path) override;
    bool io_control(platform::DeviceHandle device, std::uint32_t code, const void *in, std::uint32_t in_len, void *out,
                    std::uint32_t out_len, std::uint32_t *returned) override;
    void close(platform::DeviceHandle device) override;

private:
    vboard::VirtualBoard board_;
    vboard::IoImage io_;
    // One handle at a time, as the board access library opens one; a
    // second open is refused while it is open.
    std::mutex guard_;
    platform::DeviceHandle next_ = 1;
    std::atomic<platform::DeviceHandle> open_{platform::kInvalidDevice};
};

// The motion interface opened over an in-process board for the life of the
// object: the communication layer of the environment is closed, the server
// serves the benchmarks' machine, the board is installed, QAX_Init called
// and its poll thread stopped, so that only the
// calling thread uses the board and the library's command mutex; afterwards
// QAX_Exit, the board removed, the server back on the test machine and the
// environment's layer opened again over the socket board.
class InProcessMotion {
public:
    InProcessMotion();
    ~InProcessMotion();
    InProcessMotion(const InProcessMotion &) = delete;
    InProcessMotion &operator=(const InProcessMotion &) = delete;

    bool ok() const { return opened_ == 0; }
    int opened() const { return opened_; }
    InProcessBoard &board() { return *board_; }

private:
    std::unique_ptr<InProcessBoard> board_;
    int opened_ = -1;
};

}  // namespace qax_bench
