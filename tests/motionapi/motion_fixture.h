// Fixtures of the motion interface tests: the whole stack against a virtual
// board and the card server, or the library alone over a scripted
// communication layer; a test clock in both, and a reader of the journal.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cardhost_fixture.h"
#include "core/comm_calls.h"
#include "test_clock.h"
#include "virtual_board_fixture.h"

namespace motion_test {

struct LogLine {
    int level = 0;
    int module = 0;
    int code = 0;
    std::string text;
};

// Journal records written after the mark.
class JournalMark {
public:
    JournalMark();
    std::vector<LogLine> lines() const;
    // Lines whose text contains `part`.
    std::vector<LogLine> find(const std::string &part) const;

private:
    std::uint32_t next_ = 0;
};

// Board, server in the same run directory, the server's service shown as
// running (qax_test::RunningService), and the test clock.
class StackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual vboard::FirmwareDefaults firmware() const { return {}; }
    // The server's machine configuration.
    virtual std::string cardhost_config() const { return qax_test::kCardhostTestConfig; }

    vboard::VirtualBoard &board() { return board_->board(); }
    cardhost::Server &server() { return server_->server(); }
    qax_test::TestClock &clock() { return *clock_; }
    // From now on the calling thread's sleeps run the board's cycles (1 ms
    // each), so completion waits end; the other threads' sleeps do not.
    void run_board_on_sleeps();

private:
    std::unique_ptr<qax_test::TestClock> clock_;
    std::unique_ptr<qax_test::VirtualBoardRun> board_;
    std::unique_ptr<qax_test::CardhostRun> server_;
};

// A communication layer of the test's own: registers in memory, scripted
// results per call. Installed for the library while the object lives.
class FakeComm {
public:
    FakeComm();
    ~FakeComm();
    FakeComm(const FakeComm &) = delete;
    FakeComm &operator=(const FakeComm &) = delete;

    static FakeComm &current();

    std::atomic<int> init_result{0};
    std::atomic<int> reset_result{0};
    std::atomic<int> permission_result{3};
    std::atomic<int> card_info_result{0};
    std::atomic<int> sync_result{0};
    std::atomic<int> sync_board_result{0};  // reply word 4
    std::atomic<int> log_block_result{0};
    std::atomic<int> init_calls{0};
    std::atomic<int> exit_calls{0};
    std::atomic<int> sync_calls{0};
    std::atomic<int> channel_cmd_failures{0};  // the next this many channel commands fail

    struct ChannelCommand {
        int link = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<ChannelCommand> channel_commands();

    void set_register(std::uint32_t index, std::uint32_t value);
    std::uint32_t get_register(std::uint32_t index);
    // The variable `id` as the server would hand it out.
    void set_variable(int id, const void *data, std::size_t size);
    // The board log record that the server hands out (124 bytes).
    void set_card_log(std::uint32_t word0, const std::string &text);
    // Zero-filled module block of the log library with entries 0..count-1 set.
    void set_log_modules(int count);
    // Called after each register the library reads (alone or in a block),
    // as a board that changes its registers between two reads.
    void set_after_read(std::function<void(std::uint32_t index)> hook);

private:
    friend struct FakeCalls;
    // A register as the library reads it: its value, then the read hook.
    std::uint32_t read_register(std::uint32_t index);
    std::mutex lock_;
    std::map<std::uint32_t, std::uint32_t> registers_;
    std::map<int, std::vector<std::uint8_t>> variables_;
    std::vector<std::uint8_t> log_block_;
    std::vector<std::uint8_t> card_log_ = std::vector<std::uint8_t>(124, 0);
    std::vector<ChannelCommand> channel_commands_;
    std::function<void(std::uint32_t)> after_read_;
    McCommCalls calls_{};
};

// The library alone over FakeComm, with the test clock.
class FakeCommTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    FakeComm &comm() { return *comm_; }
    qax_test::TestClock &clock() { return *clock_; }
    // Axis configuration: `count` axes, axis number n_i at index i.
    void configure_axes(const std::vector<std::uint32_t> &axisNumbers);

private:
    std::unique_ptr<qax_test::TestClock> clock_;
    std::unique_ptr<qax_test::TempRunDir> run_dir_;
    std::unique_ptr<FakeComm> comm_;
};

}  // namespace motion_test
