// What every benchmark runs against: a fresh run directory with a virtual
// board serving its device socket on a thread of this process, the card
// server on threads of this process, and the communication layer started
// over both (which also opens the board access library).
#pragma once

#include <memory>
#include <string>

namespace qax_test {
class VirtualBoardRun;
class CardhostRun;
}  // namespace qax_test

namespace vboard {
class VirtualBoard;
}

namespace qax_bench {

class BenchEnv {
public:
    BenchEnv();
    ~BenchEnv();  // closes the layer, then stops the server, then the board
    BenchEnv(const BenchEnv &) = delete;
    BenchEnv &operator=(const BenchEnv &) = delete;

    // false when the board or the server could not be started (see error()).
    bool ok() const { return ok_; }
    const std::string &error() const { return error_; }
    // COMM_Init returned 0; when it did not, the board library was opened
    // on its own and the server benchmarks report the failure.
    bool layer_ready() const { return layer_ready_; }
    int layer_result() const { return layer_result_; }

    // The server serving the machine `config_text` from now on (the
    // communication layer must be closed meanwhile): false when it did not
    // start (see error()). The environment starts with the test machine
    // (qax_test::kCardhostTestConfig).
    bool serve_machine(const char *config_text);

    vboard::VirtualBoard &board();
    const std::string &run_dir() const;

private:
    std::unique_ptr<qax_test::VirtualBoardRun> board_;
    std::unique_ptr<qax_test::CardhostRun> server_;
    std::string error_;
    bool ok_ = false;
    bool layer_ready_ = false;
    bool board_open_ = false;
    int layer_result_ = 0;
};

// The environment main() set up; nullptr outside its lifetime.
BenchEnv *env();

}  // namespace qax_bench
