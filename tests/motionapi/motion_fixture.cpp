#include "motion_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "buffered/poll_thread.h"
#include "core/connection.h"
#include "journal.h"
#include "motionapi.h"
#include "platform/platform.h"

namespace motion_test {
namespace {

int code_of(const JournalLogRecord &record) {
    std::uint32_t code = (static_cast<std::uint32_t>(record.codeHigh) << 8) | (record.word0 & 0xFFu);
    const std::uint32_t sign = 1u << 23;
    return static_cast<int>(code ^ sign) - static_cast<int>(sign);
}

FakeComm *g_current = nullptr;

}  // namespace

JournalMark::JournalMark() {
    for (int index = 0;; ++index) {
        const JournalLogRecord *record = LOG_GetLog(index);
        if (record == nullptr) break;
        if (record->sequence + 1 > next_) next_ = record->sequence + 1;
    }
}

std::vector<LogLine> JournalMark::lines() const {
    std::vector<LogLine> found;
    for (int index = 0;; ++index) {
        const JournalLogRecord *record = LOG_GetLog(index);
        if (record == nullptr) break;
        if (record->sequence < next_) continue;
        found.push_back({record->level, static_cast<int>(record->module), code_of(*record),
                         std::string(record->text, record->textLength)});
    }
    return found;
}

std::vector<LogLine> JournalMark::find(const std::string &part) const {
    std::vector<LogLine> found;
    for (const LogLine &line : lines()) {
        if (line.text.find(part) != std::string::npos) found.push_back(line);
    }
    return found;
}

// Sleeps return almost at once; lock waits keep their real length, since
// the board requests they wait for take real time.
qax_test::TestClock::Options stack_clock() {
    qax_test::TestClock::Options options;
    options.real_sleep_cap_ms = 1;
    options.real_lock_wait_cap_ms = 100;
    return options;
}

void StackTest::SetUp() {
    clock_ = std::make_unique<qax_test::TestClock>(stack_clock());
    board_ = std::make_unique<qax_test::VirtualBoardRun>();
    ASSERT_TRUE(board_->ok());
    board_->board().set_firmware_defaults(firmware());
    qax_test::CardhostOptions options;
    options.use_current_run_dir = true;
    options.config_text = cardhost_config();
    server_ = std::make_unique<qax_test::CardhostRun>(options);
    ASSERT_TRUE(server_->ok()) << server_->error();  // and its service shown as running
}

void StackTest::run_board_on_sleeps() {
    const std::thread::id self = std::this_thread::get_id();
    vboard::VirtualBoard *b = &board();
    clock().set_sleep_hook([self, b](std::uint32_t ms) {
        if (std::this_thread::get_id() == self) b->advance(ms);
    });
}

// A test that left the connection open closes it before its stand-ins go.
void close_connection() {
    if (g_InitCount.load() != 0 || McPollThreadRunning()) {
        g_bWritePermission.store(0);
        QAX_Exit();
    }
}

void StackTest::TearDown() {
    close_connection();
    server_.reset();
    board_.reset();
    clock_.reset();
}

// ---------------------------------------------------------------- FakeComm

struct FakeCalls {
    static FakeComm &c() { return *g_current; }

    static int Init() {
        c().init_calls++;
        return c().init_result.load();
    }
    static int Exit() {
        c().exit_calls++;
        return 0;
    }
    static int Reset(std::uint8_t) { return c().reset_result.load(); }
    static int SetParameter(std::uint32_t, std::uint64_t) { return 0; }
    static int ReadRegister32(std::uint32_t index, std::uint32_t *value) {
        *value = c().read_register(index);
        return 0;
    }
    static int WriteRegister32(std::uint32_t index, const std::uint32_t *value) {
        c().set_register(index, *value);
        return 0;
    }
    static int ReadMultiRegister32(const std::uint32_t *indices, std::uint32_t *values, int count) {
        for (int i = 0; i < count; ++i) values[i] = c().read_register(indices[i]);
        return 0;
    }
    static int SyncImmediateCmd(const void *, std::uint32_t, void *out, std::uint32_t outLen, std::uint32_t *returned) {
        c().sync_calls++;
        if (c().sync_result.load() != 0) return c().sync_result.load();
        if (out != nullptr && outLen >= 24) {
            std::int32_t board = c().sync_board_result.load();
            std::memcpy(static_cast<std::uint8_t *>(out) + 16, &board, sizeof board);
        }
        if (returned != nullptr) *returned = outLen;
        return 0;
    }
    static int ChannelCmd(int link, const void *in, std::uint32_t inLen, void *, std::uint32_t, std::uint32_t *) {
        if (c().channel_cmd_failures.load() > 0) {
            c().channel_cmd_failures--;
            return -2;
        }
        std::lock_guard<std::mutex> guard(c().lock_);
        const auto *bytes = static_cast<const std::uint8_t *>(in);
        c().channel_commands_.push_back({link, std::vector<std::uint8_t>(bytes, bytes + inLen)});
        return 0;
    }
    static int RegisterPermission(int) { return c().permission_result.load(); }
    static int GetVariable(int id, void *buffer, int bufferLen) {
        std::lock_guard<std::mutex> guard(c().lock_);
        std::memset(buffer, 0, static_cast<std::size_t>(bufferLen));
        auto it = c().variables_.find(id);
        if (it != c().variables_.end()) {
            const std::size_t n = std::min<std::size_t>(it->second.size(), static_cast<std::size_t>(bufferLen));
            std::memcpy(buffer, it->second.data(), n);
        }
        return 0;
    }
    static int SetVariable(int, int, int, const void *, int) { return 0; }
    static int ReadCardInfo(void *info) {
        if (c().card_info_result.load() != 0) return c().card_info_result.load();
        auto *bytes = static_cast<std::uint8_t *>(info);
        std::memset(bytes, 0, 348);
        std::strcpy(reinterpret_cast<char *>(bytes + 32), "Fake Card");
        const std::uint16_t model = 7412;
        std::memcpy(bytes + 90, &model, sizeof model);
        return 0;
    }
    static int ReadCardModuleInfo(int index, void *info) {
        auto *bytes = static_cast<std::uint8_t *>(info);
        const std::uint16_t version[4] = {1, 2, 3, static_cast<std::uint16_t>(index)};
        std::memcpy(bytes, version, sizeof version);
        return 0;
    }
    static int ReadCardLogInfo(int, void *info) {
        std::lock_guard<std::mutex> guard(c().lock_);
        std::memcpy(info, c().card_log_.data(), c().card_log_.size());
        return 0;
    }
    static int GetDriverVersion(char *, std::size_t, void *version, std::size_t, char *, std::size_t) {
        const std::uint16_t v[4] = {4, 5, 6, 7};
        std::memcpy(version, v, sizeof v);
        return 0;
    }
    static int GetServerInfo(void *info) {
        auto *bytes = static_cast<std::uint8_t *>(info);
        for (int i = 0; i < 16; ++i) bytes[32 + i] = static_cast<std::uint8_t>(0xA0 + i);
        return 0;
    }
    static int StartCardECLR() { return 0; }
    static int StopCardECLR() { return 0; }
    static int ReadCardECLRStatus(int *state) {
        *state = 3;
        return 0;
    }
    static int LogBufData(int, void *buffer, int capacity, int *) {
        if (c().log_block_result.load() != 0) return c().log_block_result.load();
        std::lock_guard<std::mutex> guard(c().lock_);
        const std::size_t n = std::min<std::size_t>(c().log_block_.size(), static_cast<std::size_t>(capacity));
        std::memcpy(buffer, c().log_block_.data(), n);
        return 0;
    }
};

FakeComm::FakeComm() : log_block_(704, 0) {
    calls_ = McCommCalls{
        FakeCalls::Init,          FakeCalls::Exit,
        FakeCalls::Reset,         FakeCalls::SetParameter,
        FakeCalls::ReadRegister32, FakeCalls::WriteRegister32,
        FakeCalls::ReadMultiRegister32, FakeCalls::SyncImmediateCmd,
        FakeCalls::ChannelCmd,    FakeCalls::RegisterPermission,
        FakeCalls::GetVariable,   FakeCalls::SetVariable,
        FakeCalls::ReadCardInfo,  FakeCalls::ReadCardModuleInfo,
        FakeCalls::ReadCardLogInfo, FakeCalls::GetDriverVersion,
        FakeCalls::GetServerInfo, FakeCalls::StartCardECLR,
        FakeCalls::StopCardECLR,  FakeCalls::ReadCardECLRStatus,
        FakeCalls::LogBufData,
        // File transfer: the board's transfer cannot be opened.
        [] { return 4; },         [](const char *) { return 4; },
        [](const char *, const char *, std::uint32_t *, std::uint32_t *) { return 4; },
        [](const char *, const char *, std::uint32_t *, std::uint32_t *) { return 4; },
        [] { return 0; },
    };
    set_register(497, 1);
    set_register(1000, 1000);
    for (std::uint32_t a = 0; a < 32; ++a) set_register(8741 + 15 * a, 0xF00);
    set_log_modules(4);
    g_current = this;
    McSetCommCalls(&calls_);
}

FakeComm::~FakeComm() {
    McSetCommCalls(nullptr);
    g_current = nullptr;
}

FakeComm &FakeComm::current() { return *g_current; }

void FakeComm::set_register(std::uint32_t index, std::uint32_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    registers_[index] = value;
}

std::uint32_t FakeComm::get_register(std::uint32_t index) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = registers_.find(index);
    return it == registers_.end() ? 0 : it->second;
}

void FakeComm::set_after_read(std::function<void(std::uint32_t index)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    after_read_ = std::move(hook);
}

std::uint32_t FakeComm::read_register(std::uint32_t index) {
    std::uint32_t value = get_register(index);
    std::function<void(std::uint32_t)> hook;
    {
        std::lock_guard<std::mutex> guard(lock_);
        hook = after_read_;
    }
    if (hook) hook(index);
    return value;
}

std::vector<FakeComm::ChannelCommand> FakeComm::channel_commands() {
    std::lock_guard<std::mutex> guard(lock_);
    return channel_commands_;
}

void FakeComm::set_variable(int id, const void *data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    variables_[id].assign(bytes, bytes + size);
}

void FakeComm::set_card_log(std::uint32_t word0, const std::string &text) {
    std::lock_guard<std::mutex> guard(lock_);
    std::fill(card_log_.begin(), card_log_.end(), 0);
    std::memcpy(card_log_.data(), &word0, sizeof word0);
    card_log_[18] = static_cast<std::uint8_t>(text.size());
    std::memcpy(card_log_.data() + 19, text.data(), std::min<std::size_t>(text.size(), 100));
}

void FakeComm::set_log_modules(int count) {
    std::lock_guard<std::mutex> guard(lock_);
    std::fill(log_block_.begin(), log_block_.end(), 0);
    for (int k = 0; k < count; ++k) {
        const std::uint16_t version[4] = {2, 3, 2, static_cast<std::uint16_t>(k)};
        std::memcpy(log_block_.data() + 44 * k, version, sizeof version);
    }
}

// Sleeps return at once; the command mutex's wait (100 ms) keeps its real
// length: the poll thread may hold the mutex that long on a loaded machine
// (under wine above all), and no test waits for that wait to run out.
qax_test::TestClock::Options fake_comm_clock() {
    qax_test::TestClock::Options options;
    options.real_lock_wait_cap_ms = 100;
    return options;
}

void FakeCommTest::SetUp() {
    clock_ = std::make_unique<qax_test::TestClock>(fake_comm_clock());
    run_dir_ = std::make_unique<qax_test::TempRunDir>();
    comm_ = std::make_unique<FakeComm>();
}

void FakeCommTest::TearDown() {
    close_connection();
    comm_.reset();
    run_dir_.reset();
    clock_.reset();
}

void FakeCommTest::configure_axes(const std::vector<std::uint32_t> &axisNumbers) {
    std::uint8_t config[272] = {};
    const auto count = static_cast<std::int32_t>(axisNumbers.size());
    std::memcpy(config + 4, &count, sizeof count);
    std::uint32_t map[33];
    std::fill(std::begin(map), std::end(map), 0xFFFFFFFFu);
    for (std::uint32_t i = 0; i < axisNumbers.size(); ++i) {
        std::memcpy(config + 12 + 4 * i, &axisNumbers[i], 4);
        map[axisNumbers[i]] = i;
    }
    std::memcpy(config + 140, map, sizeof map);
    comm_->set_variable(32, config, sizeof config);
}

}  // namespace motion_test
