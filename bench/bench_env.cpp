#include "bench_env.h"

#include <cstdlib>

#include "boardport.h"
#include "cardhost_fixture.h"
#include "linkhub.h"
#include "virtual_board_fixture.h"

namespace qax_bench {
namespace {

BenchEnv *g_env = nullptr;

// A copy of every log record in a file would turn the log benchmark into a
// file benchmark.
constexpr char kJournalFileVariable[] = "JOURNAL_FILE";

}  // namespace

BenchEnv *env() { return g_env; }

BenchEnv::BenchEnv() {
    ::unsetenv(kJournalFileVariable);
    vboard::Options options;
    // Recording every request would grow without bound over millions of calls.
    options.record_requests = false;
    board_ = std::make_unique<qax_test::VirtualBoardRun>(qax_test::VirtualBoardRun::Board::present, options);
    if (!board_->ok()) {
        error_ = "no virtual board at " + board_->device_path();
        return;
    }
    qax_test::CardhostOptions server_options;
    server_options.use_current_run_dir = true;
    server_ = std::make_unique<qax_test::CardhostRun>(server_options);
    if (!server_->ok()) {
        error_ = "card server: " + server_->error();
        return;
    }
    layer_result_ = COMM_Init();
    layer_ready_ = layer_result_ == 0;
    if (!layer_ready_) {
        const int opened = WDF_Init();
        if (opened != 0) {
            error_ = "COMM_Init gave " + std::to_string(layer_result_) + ", WDF_Init gave " + std::to_string(opened);
            return;
        }
        board_open_ = true;
    }
    ok_ = true;
    g_env = this;
}

BenchEnv::~BenchEnv() {
    g_env = nullptr;
    if (layer_ready_) COMM_Exit();
    if (board_open_) WDF_Exit();
    server_.reset();
    board_.reset();
}

bool BenchEnv::serve_machine(const char *config_text) {
    server_.reset();
    qax_test::CardhostOptions server_options;
    server_options.use_current_run_dir = true;
    server_options.config_text = config_text;
    server_ = std::make_unique<qax_test::CardhostRun>(server_options);
    if (!server_->ok()) error_ = "card server: " + server_->error();
    return server_->ok();
}

vboard::VirtualBoard &BenchEnv::board() { return board_->board(); }

const std::string &BenchEnv::run_dir() const { return board_->run_dir(); }

}  // namespace qax_bench
