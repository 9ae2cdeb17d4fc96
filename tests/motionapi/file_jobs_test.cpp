// File download and upload jobs: queueing and its refusals, the job's steps
// over scripted transfer results, the progress, two callers at once, and
// whole jobs through the poll thread against the virtual board.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "buffered/file_jobs.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"

namespace motion_test {
namespace {

namespace fs = std::filesystem;

constexpr char kDownloadPrefix[] = "CMD=0x40100001, FUN=0x10040026, ";
constexpr char kUploadPrefix[] = "CMD=0x40110001, FUN=0x10040026, ";

int Download(const std::string &local, const std::string &remote) {
    return QAX_DownloadFile(1, 0, 0, local.c_str(), static_cast<int>(local.size()), remote.c_str(),
                            static_cast<int>(remote.size()));
}

int Upload(const std::string &remote, const std::string &local) {
    return QAX_UploadFile(1, 0, 0, remote.c_str(), static_cast<int>(remote.size()), local.c_str(),
                          static_cast<int>(local.size()));
}

std::int32_t JobState() { return g_FileJob.state.load(); }
std::int32_t JobResult() { return g_FileJob.result.load(); }

int Progress() {
    int percent = -1;
    EXPECT_EQ(QAX_GetFileLoadProcess(&percent), 0);
    return percent;
}

// ---------------------------------------------------------------- a scripted transfer

// One result of a transfer step with the byte counts it reports.
struct Step {
    int result;
    std::uint32_t done;
    std::uint32_t total;
};

// What the job's transfer calls answer, and what they were given.
struct Transfer {
    std::mutex lock;
    int open = 0;
    int cd = 0;
    int close = 0;
    std::vector<Step> steps;  // in order; when used up, 6
    std::size_t next = 0;
    std::vector<std::string> calls;  // "open", "cd NAME", "send LOCAL REMOTE", "recv REMOTE LOCAL", "close"

    int step(const std::string &call, std::uint32_t *done, std::uint32_t *total) {
        std::lock_guard guard(lock);
        calls.push_back(call);
        if (next >= steps.size()) return 6;
        const Step s = steps[next++];
        *done = s.done;
        *total = s.total;
        return s.result;
    }
    int record(const std::string &call, int result) {
        std::lock_guard guard(lock);
        calls.push_back(call);
        return result;
    }
};
Transfer *g_transfer = nullptr;

class FileJobTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_SlaveTable[0].vendorId = 1511;
        g_SlaveTable[0].productCode = 0x4021001;
        g_hCmdMutex.store(platform::create_mutex());
        g_bWritePermission.store(1);
        g_transfer = &transfer_;
        calls_ = McComm();
        calls_.FtpOpen = [] { return g_transfer->record("open", g_transfer->open); };
        calls_.FtpCd = [](const char *name) { return g_transfer->record(std::string("cd ") + name, g_transfer->cd); };
        calls_.FtpSend = [](const char *local, const char *remote, std::uint32_t *done, std::uint32_t *total) {
            return g_transfer->step(std::string("send ") + local + " " + remote, done, total);
        };
        calls_.FtpRecv = [](const char *remote, const char *local, std::uint32_t *done, std::uint32_t *total) {
            return g_transfer->step(std::string("recv ") + remote + " " + local, done, total);
        };
        calls_.FtpClose = [] { return g_transfer->record("close", g_transfer->close); };
        McSetCommCalls(&calls_);
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        McClearFileJob();
        McFileTransferStep();  // ends a job left running
        McSetCommCalls(nullptr);
        g_transfer = nullptr;
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        g_bWritePermission.store(0);
        FakeCommTest::TearDown();
    }
    Transfer &transfer() { return transfer_; }
    std::vector<std::string> calls() {
        std::lock_guard guard(transfer_.lock);
        return transfer_.calls;
    }
    // Steps the job until it is idle (at most `limit` steps); the progress
    // after each step.
    std::vector<int> run_job(int limit = 100) {
        std::vector<int> seen;
        for (int k = 0; k < limit && JobState() != kFileJobIdle; ++k) {
            McFileTransferStep();
            seen.push_back(Progress());
        }
        return seen;
    }
    // The steps to the first transfer step: queued -> opened -> directory.
    void run_to_first_step() {
        McFileTransferStep();
        McFileTransferStep();
        ASSERT_EQ(JobState(), kFileJobFirstStep);
    }

private:
    Transfer transfer_;
    McCommCalls calls_{};
};

TEST_F(FileJobTest, QueueingChecksItsInputAndQueuesNothingOnARefusal) {
    const char *path = "/tmp/x.bin";
    struct Case {
        const char *name;
        int fileType, option, localLen, remoteLen;
        const char *local;
        const char *remote;
    };
    const Case cases[] = {
        {"file type 2", 2, 0, 5, 5, path, "x"},
        {"file type 0", 0, 0, 5, 5, path, "x"},
        {"option -1", 1, -1, 5, 5, path, "x"},
        {"local length 200", 1, 0, 200, 5, path, "x"},
        {"remote length 50", 1, 0, 5, 50, path, "x"},
        {"no local path", 1, 0, 5, 5, nullptr, "x"},
        {"no remote name", 1, 0, 5, 5, path, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark down;
        EXPECT_EQ(QAX_DownloadFile(c.fileType, 0, c.option, c.local, c.localLen, c.remote, c.remoteLen), -1);
        EXPECT_EQ(only_text(down), "CMD=0x40100001, FUN=0x10050053, Input Parameter error");
        EXPECT_EQ(down.lines().at(0).module, 4101);
        JournalMark up;
        EXPECT_EQ(QAX_UploadFile(c.fileType, 0, c.option, c.remote, c.remoteLen, c.local, c.localLen), -1);
        EXPECT_EQ(only_text(up), "CMD=0x40110001, FUN=0x10050054, Input Parameter error");
        EXPECT_EQ(JobState(), kFileJobIdle);
    }
    g_bWritePermission.store(0);
    JournalMark permission;
    EXPECT_EQ(QAX_DownloadFile(2, 0, -1, nullptr, 999, nullptr, 999), 1) << "permission comes first";
    EXPECT_EQ(only_text(permission), "CMD=0x40100001, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(JobState(), kFileJobIdle);
    EXPECT_TRUE(calls().empty());
}

TEST_F(FileJobTest, TheRecordHoldsTheTextsUpToTheirLimitsWhateverTheLengths) {
    const std::string local(300, 'L');
    const std::string remote(80, 'R');
    // The lengths are only compared with their limits: a negative one passes.
    ASSERT_EQ(QAX_UploadFile(1, 12345, 7, remote.c_str(), -4, local.c_str(), 199), 0);
    EXPECT_EQ(JobState(), kFileJobQueued);
    EXPECT_EQ(std::string(g_FileJob.localPath), local.substr(0, 199));
    EXPECT_EQ(std::string(g_FileJob.remoteName), remote.substr(0, 49));
    EXPECT_EQ(g_FileJob.direction, 0);
    EXPECT_EQ(g_FileJob.command, 0x40110001u);
    EXPECT_EQ(clock().slept_ms(), 50u) << "ten rounds of 5 ms for an early failure";

    // A second job while this one is queued: refused, the first untouched.
    JournalMark mark;
    EXPECT_EQ(Download("/tmp/other", "other"), -3);
    EXPECT_EQ(only_text(mark), "CMD=0x40100001, FUN=0x10040021, Cmd run conflict");
    EXPECT_EQ(g_FileJob.command, 0x40110001u);
    EXPECT_EQ(std::string(g_FileJob.localPath), local.substr(0, 199));
}

TEST_F(FileJobTest, ADownloadOf1025BytesReportsZeroFortyNineNinetyNineAndAHundred) {
    transfer().steps = {{1, 0, 1025}, {1, 512, 1025}, {1, 1024, 1025}, {0, 1025, 1025}};
    ASSERT_EQ(Download("/host/in.bin", "in.bin"), 0);
    run_to_first_step();
    EXPECT_EQ(run_job(), (std::vector<int>{0, 49, 99, 100, 100}));
    EXPECT_EQ(JobResult(), 0);
    EXPECT_EQ(calls(), (std::vector<std::string>{"open", "cd /mmc1:2", "send /host/in.bin in.bin",
                                                 "send /host/in.bin in.bin", "send /host/in.bin in.bin",
                                                 "send /host/in.bin in.bin", "close"}));
}

TEST_F(FileJobTest, ProgressIsExactForLargeFiles) {
    // 50,000,000 x 100 would wrap in 32 bits; dividing first would read 0.
    transfer().steps = {{1, 0, 100000000}, {1, 50000000, 100000000}, {1, 4000000000u, 4294967295u},
                        {1, 4294967294u, 4294967295u}, {0, 4294967295u, 4294967295u}};
    ASSERT_EQ(Upload("big.bin", "/host/big.bin"), 0);
    run_to_first_step();
    EXPECT_EQ(run_job(), (std::vector<int>{0, 50, 93, 99, 100, 100}));
    EXPECT_EQ(calls().at(2), "recv big.bin /host/big.bin");
}

TEST_F(FileJobTest, AFileDoneInTheFirstStepGoesStraightToAHundred) {
    transfer().steps = {{0, 10, 10}};
    ASSERT_EQ(Download("/host/a", "a"), 0);
    run_to_first_step();
    EXPECT_EQ(run_job(), (std::vector<int>{100, 100}));
}

TEST_F(FileJobTest, AFailedFirstStepEndsTheJobWithItsResult) {
    struct Case {
        int code;
        const char *message;
        int result;
    };
    const Case cases[] = {
        {2, "Read/Write register error", -7}, {20, "Save file not exist", -8}, {3, "other pk error = 3", -12},
        {4, "Read Status register error", -9}, {5, "Communication timeout", -10}, {6, "Read/Write file error", -11},
        {15, "other pk error = 15", -12},      {-7, "other pk error = -7", -12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        transfer().steps = {{c.code, 0, 0}};
        transfer().next = 0;
        ASSERT_EQ(Download("/host/f", "f"), 0);
        run_to_first_step();
        JournalMark mark;
        EXPECT_EQ(McFileTransferStep(), -1);
        EXPECT_EQ(only_text(mark), std::string(kDownloadPrefix) + c.message);
        EXPECT_EQ(mark.lines().at(0).module, 4100);
        EXPECT_EQ(mark.lines().at(0).code, 0x100505);
        EXPECT_EQ(JobState(), kFileJobIdle);
        EXPECT_EQ(JobResult(), c.result);
        EXPECT_EQ(calls().back(), "close");
    }
}

TEST_F(FileJobTest, AFailedFurtherStepKeepsTheResultAndTheProgress) {
    struct Case {
        int code;
        const char *message;
    };
    // 20 and 3 trade their messages here, and no message has a number.
    const Case cases[] = {
        {2, "Read/Write register error"}, {20, "other pk error"}, {3, "Save file not exist"},
        {4, "Read Status register error"}, {5, "Communication timeout"}, {6, "Read/Write file error"},
        {15, "other pk error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        transfer().steps = {{1, 0, 2048}, {1, 1024, 2048}, {c.code, 0, 0}};
        transfer().next = 0;
        ASSERT_EQ(Upload("f", "/host/f"), 0);
        run_to_first_step();
        EXPECT_EQ(McFileTransferStep(), 0);
        EXPECT_EQ(McFileTransferStep(), 0);
        JournalMark mark;
        EXPECT_EQ(McFileTransferStep(), -1);
        EXPECT_EQ(only_text(mark), std::string(kUploadPrefix) + c.message);
        EXPECT_EQ(JobState(), kFileJobIdle);
        EXPECT_EQ(JobResult(), 0) << "the export had returned 0 already";
        EXPECT_EQ(Progress(), 50);
    }
    // A total of 0 in a further step ends the job the same way.
    transfer().steps = {{1, 0, 0}, {1, 0, 0}};
    transfer().next = 0;
    ASSERT_EQ(Download("/host/g", "g"), 0);
    run_to_first_step();
    McFileTransferStep();
    JournalMark mark;
    EXPECT_EQ(McFileTransferStep(), -1);
    EXPECT_EQ(only_text(mark), std::string(kDownloadPrefix) + "COMM return filelen is 0");
    EXPECT_EQ(JobState(), kFileJobIdle);
}

TEST_F(FileJobTest, OpenDirectoryAndCloseFailures) {
    transfer().open = 7;
    ASSERT_EQ(Download("/host/a", "a"), 0);
    JournalMark open;
    EXPECT_EQ(McFileTransferStep(), -1);
    EXPECT_EQ(only_text(open), std::string(kDownloadPrefix) + "Open file timeout");
    EXPECT_EQ(JobResult(), -4);
    EXPECT_EQ(calls(), (std::vector<std::string>{"open"})) << "nothing to close";

    transfer().open = 0;
    transfer().cd = 52;
    transfer().close = 9;
    ASSERT_EQ(Download("/host/a", "a"), 0);
    McFileTransferStep();
    JournalMark cd;
    EXPECT_EQ(McFileTransferStep(), -1);
    auto lines = cd.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, std::string(kDownloadPrefix) + "Enter directory timeout");
    EXPECT_EQ(lines[1].text, std::string(kDownloadPrefix) + "Close file error");
    EXPECT_EQ(JobResult(), -6);

    // The close of a finished job: its failure is the step's, not the job's.
    transfer().cd = 0;
    transfer().steps = {{0, 5, 5}};
    transfer().next = 0;
    ASSERT_EQ(Download("/host/a", "a"), 0);
    run_to_first_step();
    EXPECT_EQ(McFileTransferStep(), 0);
    JournalMark close;
    EXPECT_EQ(McFileTransferStep(), -1);
    EXPECT_EQ(only_text(close), std::string(kDownloadPrefix) + "Close file error");
    EXPECT_EQ(JobState(), kFileJobIdle);
    EXPECT_EQ(JobResult(), 0);
    EXPECT_EQ(Progress(), 100);
}

TEST_F(FileJobTest, TheExportReportsAFailureOfTheFirstSteps) {
    // Each of the export's waits lets the job take one step.
    clock().set_sleep_hook([](std::uint32_t) { McFileTransferStep(); });
    transfer().open = 7;
    EXPECT_EQ(Download("/host/a", "a"), -4);
    transfer().open = 0;
    transfer().steps = {{20, 0, 0}};
    EXPECT_EQ(Upload("a", "/nowhere/a"), -8);
    transfer().steps = {{1, 0, 100}, {6, 0, 0}};
    transfer().next = 0;
    JournalMark mark;
    EXPECT_EQ(Download("/host/a", "a"), 0) << "a failure after the first step";
    EXPECT_EQ(JobState(), kFileJobIdle);
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(mark.find("Read/Write file error").size(), 1u);
}

TEST_F(FileJobTest, ProgressNeedsAPlaceToGo) {
    EXPECT_EQ(QAX_GetFileLoadProcess(nullptr), -1);
    g_FileJob.progress.store(42);
    int percent = -1;
    EXPECT_EQ(QAX_GetFileLoadProcess(&percent), 0);
    EXPECT_EQ(percent, 42);
}

TEST_F(FileJobTest, StartUpDropsAQueuedJobAndEndsARunningOne) {
    ASSERT_EQ(Download("/host/a", "a"), 0);
    McClearFileJob();
    EXPECT_EQ(JobState(), kFileJobIdle);
    McFileTransferStep();
    EXPECT_TRUE(calls().empty()) << "the dropped job never opened";

    transfer().steps = {{1, 0, 10}, {1, 5, 10}};
    ASSERT_EQ(Download("/host/a", "a"), 0);
    run_to_first_step();
    McFileTransferStep();
    McFileTransferStep();
    ASSERT_EQ(Progress(), 50);
    McClearFileJob();
    EXPECT_EQ(JobState(), kFileJobFurtherSteps) << "the poll thread ends it";
    EXPECT_EQ(McFileTransferStep(), 0);
    EXPECT_EQ(JobState(), kFileJobIdle);
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(calls().back(), "close");
    ASSERT_EQ(Download("/host/b", "b"), 0) << "the record is free again";
    EXPECT_EQ(JobState(), kFileJobQueued);
}

// Two callers at once: the claim of the record is one step, so exactly one
// gets it and the record holds that caller's job whole. (With no axes the
// check is only the state test, so both reach the claim together.)
TEST_F(FileJobTest, TwoCallersAtOnceGetOneJob) {
    configure_axes({});
    ASSERT_EQ(McLoadBoardTables(), 0);
    const std::string downLocal = "/host/down.bin";
    const std::string upLocal = "/host/up.bin";
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        std::atomic<int> ready{0};
        std::atomic<int> downResult{99};
        std::atomic<int> upResult{99};
        auto start = [&ready] {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
        };
        std::thread down([&] {
            start();
            downResult = Download(downLocal, "down.bin");
        });
        std::thread up([&] {
            start();
            upResult = Upload("up.bin", upLocal);
        });
        down.join();
        up.join();
        ASSERT_TRUE((downResult == 0 && upResult == -3) || (downResult == -3 && upResult == 0))
            << downResult << " " << upResult;
        const bool downloading = downResult == 0;
        ASSERT_EQ(g_FileJob.direction, downloading ? 1 : 0);
        ASSERT_EQ(g_FileJob.command, downloading ? 0x40100001u : 0x40110001u);
        ASSERT_EQ(std::string(g_FileJob.localPath), downloading ? downLocal : upLocal);
        ASSERT_EQ(std::string(g_FileJob.remoteName), downloading ? "down.bin" : "up.bin");
        McClearFileJob();
    }
}

// ---------------------------------------------------------------- end to end

std::vector<char> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<char> bytes(size);
    for (char &b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<char>(seed >> 24);
    }
    return bytes;
}

std::vector<char> ReadAll(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path &path, const std::vector<char> &data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(), static_cast<std::streamsize>(data.size()));
}

class FileJobStackTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        host_ = fs::path(board().file_store()).parent_path() / "host";
        fs::create_directories(host_);
        volume_ = fs::path(board().file_store()) / vboard::kStorageVolumeDirectory;
        // The export's waits on this thread let the poll thread take the job
        // past its first transfer step, so that an early failure is seen
        // however slowly the poll thread runs.
        const std::thread::id self = std::this_thread::get_id();
        clock().set_sleep_hook([self](std::uint32_t) {
            if (std::this_thread::get_id() != self) return;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            auto early = [] {
                const std::int32_t s = JobState();
                return s >= kFileJobQueued && s <= kFileJobFirstStep;
            };
            while (early() && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        ASSERT_EQ(QAX_Init(), 0);
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        StackTest::TearDown();
    }
    // Waits (in real time) until the job is idle; the progress values seen.
    std::vector<int> wait_idle() {
        std::vector<int> seen;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            const bool idle = JobState() == kFileJobIdle;
            const int p = Progress();
            if (seen.empty() || seen.back() != p) seen.push_back(p);
            if (idle) break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        EXPECT_EQ(JobState(), kFileJobIdle) << "the job did not end";
        return seen;
    }
    static void expect_rising_to_100(const std::vector<int> &seen) {
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), 100);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    }
    const fs::path &host() const { return host_; }
    const fs::path &volume() const { return volume_; }

private:
    fs::path host_;
    fs::path volume_;
};

TEST_F(FileJobStackTest, DownloadAndUploadAFileOfManyBlocks) {
    const auto data = Pattern(20 * 512 + 77, 5);
    WriteAll(host() / "out.bin", data);
    ASSERT_EQ(Download((host() / "out.bin").string(), "out.bin"), 0);
    expect_rising_to_100(wait_idle());
    EXPECT_EQ(JobResult(), 0);
    EXPECT_EQ(ReadAll(volume() / "out.bin"), data) << "in the board directory /mmc1:2";

    ASSERT_EQ(Upload("out.bin", (host() / "back.bin").string()), 0);
    expect_rising_to_100(wait_idle());
    EXPECT_EQ(ReadAll(host() / "back.bin"), data);
    EXPECT_FALSE(fs::exists(host() / "back.bin_tmp"));
    EXPECT_EQ(board().get_register(0xD0), 0u) << "the board's transfer is over";
}

TEST_F(FileJobStackTest, ABusyBoardRefusesTheOpen) {
    board().set_register(0xD0, 1);
    WriteAll(host() / "a.bin", Pattern(100, 1));
    JournalMark mark;
    EXPECT_EQ(Download((host() / "a.bin").string(), "a.bin"), -4);
    EXPECT_EQ(mark.find(std::string(kDownloadPrefix) + "Open file timeout").size(), 1u);
    board().set_register(0xD0, 0);
    ASSERT_EQ(Download((host() / "a.bin").string(), "a.bin"), 0) << "the next job works";
    expect_rising_to_100(wait_idle());
}

TEST_F(FileJobStackTest, AnUploadIntoAMissingFolderFailsAtOnce) {
    WriteAll(volume() / "b.bin", Pattern(600, 2));
    JournalMark mark;
    EXPECT_EQ(Upload("b.bin", (host() / "missing" / "b.bin").string()), -8);
    EXPECT_EQ(mark.find(std::string(kUploadPrefix) + "Save file not exist").size(), 1u);
    EXPECT_EQ(JobState(), kFileJobIdle);
}

TEST_F(FileJobStackTest, AFailedFurtherStepLeavesTheJobIdleWithItsProgress) {
    WriteAll(host() / "c.bin", Pattern(10 * 512, 3));
    // The board refuses the fourth block.
    board().script_mailbox_results(vboard::Mailbox::transfer, 1, {0, 0, 0, vboard::kMailboxIoError});
    JournalMark mark;
    ASSERT_EQ(Download((host() / "c.bin").string(), "c.bin"), 0);
    wait_idle();
    EXPECT_EQ(Progress(), 30);
    EXPECT_EQ(JobResult(), 0);
    EXPECT_EQ(mark.find(std::string(kDownloadPrefix) + "other pk error").size(), 1u);
    EXPECT_FALSE(fs::exists(volume() / "c.bin"));
    EXPECT_EQ(board().get_register(0xD0), 0u) << "the send was aborted";
    ASSERT_EQ(Download((host() / "c.bin").string(), "c.bin"), 0);
    expect_rising_to_100(wait_idle());
}

TEST_F(FileJobStackTest, AnEmptyBoardFileCannotBeUploaded) {
    WriteAll(volume() / "empty.bin", {});
    JournalMark mark;
    ASSERT_EQ(Upload("empty.bin", (host() / "empty.bin").string()), 0) << "it fails after the first step";
    wait_idle();
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(JobResult(), 0);
    EXPECT_EQ(mark.find(std::string(kUploadPrefix) + "Read/Write file error").size(), 1u);
    EXPECT_FALSE(fs::exists(host() / "empty.bin"));
}

// An upload that fails half-way sends no end packet: the board ends the
// receive itself after a while, and the next job can open again.
TEST_F(FileJobStackTest, TheBoardEndsAReceiveTheHostAbandoned) {
    WriteAll(volume() / "d.bin", Pattern(4 * 512, 4));
    board().inject_mailbox_fault(vboard::Mailbox::transfer, vboard::MailboxFault::oversize_payload, 1);
    ASSERT_EQ(Upload("d.bin", (host() / "d.bin").string()), 0);
    wait_idle();
    EXPECT_LT(Progress(), 100);
    EXPECT_EQ(board().get_register(0xD0), 1u) << "the board still sends";
    EXPECT_EQ(Upload("d.bin", (host() / "d.bin").string()), -4);

    board().advance(vboard::kTransferIdleCycles);
    EXPECT_EQ(board().get_register(0xD0), 0u);
    ASSERT_EQ(Upload("d.bin", (host() / "d.bin").string()), 0);
    expect_rising_to_100(wait_idle());
    EXPECT_EQ(ReadAll(host() / "d.bin"), Pattern(4 * 512, 4));
}

}  // namespace
}  // namespace motion_test
