// Named pipes (wait, open, exchange, listener close), the service
// manager's answer for a service that is not installed, and the names of a
// test run's pipes and services.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "win_test_env.h"

namespace {

constexpr std::uint32_t kRecordBytes = 512;

std::string pipe_name() { return "\\\\.\\Pipe\\" + qax_win_test::unique_name("qax-pipe"); }

// Answers each 512-byte record with the record's bytes plus one.
void echo_plus_one(platform::Stream &stream) {
    std::array<unsigned char, kRecordBytes> record{};
    std::uint32_t done = 0;
    while (stream.read(record.data(), kRecordBytes, &done)) {
        for (auto &byte : record) byte = static_cast<unsigned char>(byte + 1);
        if (!stream.write(record.data(), kRecordBytes, &done)) return;
    }
}

TEST(PipeTest, WaitOnAMissingPipeTimesOut) {
    const std::string name = pipe_name();
    const std::uint64_t start = platform::performance_counter();
    EXPECT_FALSE(platform::wait_named_pipe(name.c_str(), 60));
    EXPECT_EQ(platform::last_error(), platform::kErrorSemTimeout);
    const std::uint64_t elapsed_ms = (platform::performance_counter() - start) * 1000 / platform::performance_frequency();
    EXPECT_LT(elapsed_ms, 1000u);
    EXPECT_EQ(platform::open_named_pipe(name.c_str()), nullptr);
}

TEST(PipeTest, ClientsExchangeRecordsWithTheListenerOneAfterAnother) {
    const std::string name = pipe_name();
    auto listener = platform::listen_named_pipe(name.c_str());
    ASSERT_NE(listener, nullptr);
    std::thread server([&] {
        for (int client = 0; client < 2; ++client) {
            auto stream = listener->accept();
            if (!stream) return;
            echo_plus_one(*stream);
        }
    });
    for (int client = 0; client < 2; ++client) {
        SCOPED_TRACE(client);
        ASSERT_TRUE(platform::wait_named_pipe(name.c_str(), 1000));
        auto stream = platform::open_named_pipe(name.c_str());
        ASSERT_NE(stream, nullptr);
        std::array<unsigned char, kRecordBytes> record{};
        record[0] = static_cast<unsigned char>(client);
        record[kRecordBytes - 1] = 0xFE;
        std::uint32_t done = 0;
        ASSERT_TRUE(stream->write(record.data(), kRecordBytes, &done));
        EXPECT_EQ(done, kRecordBytes);
        ASSERT_TRUE(stream->read(record.data(), kRecordBytes, &done));
        EXPECT_EQ(done, kRecordBytes);
        EXPECT_EQ(record[0], client + 1);
        EXPECT_EQ(record[kRecordBytes - 1], 0xFF);
    }
    server.join();
}

// A client that opens and closes again before the server accepts (a device
// opened and closed at once, as by an exit and the next start) is no
// connection to serve; the listener keeps its name and accepts the next one.
TEST(PipeTest, ClientGoneBeforeTheAcceptLeavesTheListenerServing) {
    const std::string name = pipe_name();
    auto listener = platform::listen_named_pipe(name.c_str());
    ASSERT_NE(listener, nullptr);
    EXPECT_NE(platform::open_named_pipe(name.c_str()), nullptr);  // and closed again
    std::thread server([&] {
        auto stream = listener->accept();
        if (stream) echo_plus_one(*stream);
    });
    std::array<unsigned char, kRecordBytes> record{};
    if (auto stream = platform::open_named_pipe(name.c_str())) {
        std::uint32_t done = 0;
        EXPECT_TRUE(stream->write(record.data(), kRecordBytes, &done));
        EXPECT_TRUE(stream->read(record.data(), kRecordBytes, &done));
    } else {
        ADD_FAILURE() << "the second client found no listener: " << platform::last_error();
        listener->close();
    }
    server.join();
    EXPECT_EQ(record[0], 1);
}

TEST(PipeTest, ReadFailsOnceTheServerIsGone) {
    const std::string name = pipe_name();
    auto listener = platform::listen_named_pipe(name.c_str());
    ASSERT_NE(listener, nullptr);
    std::thread server([&] { auto stream = listener->accept(); });  // closes at once
    auto stream = platform::open_named_pipe(name.c_str());
    ASSERT_NE(stream, nullptr);
    server.join();
    std::array<unsigned char, kRecordBytes> record{};
    std::uint32_t done = 0;
    EXPECT_FALSE(stream->read(record.data(), kRecordBytes, &done));
    EXPECT_EQ(done, 0u);
}

TEST(PipeTest, CloseUnblocksAPendingAccept) {
    auto listener = platform::listen_named_pipe(pipe_name().c_str());
    ASSERT_NE(listener, nullptr);
    std::unique_ptr<platform::Stream> accepted;
    bool returned = false;
    std::thread server([&] {
        accepted = listener->accept();
        returned = true;
    });
    Sleep(50);
    listener->close();
    server.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(accepted, nullptr);
    EXPECT_EQ(listener->accept(), nullptr);
}

TEST(ServiceTest, UnknownServiceDoesNotExist) {
    auto manager = platform::open_service_manager();
    if (!manager && platform::last_error() == platform::kErrorAccessDenied)
        GTEST_SKIP() << "the service manager needs administrator rights";
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->open(qax_win_test::unique_name("qax-no-such-service").c_str()), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorServiceDoesNotExist);
}

}  // namespace

// ---------------------------------------------------------------- names of a test run

// While QAX_RUN_DIR names a run, the server's pipe is the run's own: a
// client of the same run reaches it, one without the run (or of another)
// does not.
TEST(RunScopeTest, PipesOfARunAreApartFromOthers) {
    const std::string name = pipe_name();
    std::unique_ptr<platform::StreamListener> listener;
    {
        qax_win_test::ScopedEnv run("QAX_RUN_DIR", "C:\\qax-scope-run-a");
        listener = platform::listen_named_pipe(name.c_str());
        ASSERT_NE(listener, nullptr);
        EXPECT_TRUE(platform::wait_named_pipe(name.c_str(), 100));
        EXPECT_EQ(platform::scoped_object_name("x").rfind("x.", 0), 0u);
    }
    EXPECT_EQ(platform::scoped_object_name("x"), "x");
    EXPECT_FALSE(platform::wait_named_pipe(name.c_str(), 20));
    qax_win_test::ScopedEnv other("QAX_RUN_DIR", "C:\\qax-scope-run-b");
    EXPECT_FALSE(platform::wait_named_pipe(name.c_str(), 20));
    listener->close();
}

// A service installed during a run goes by the run's name and display name
// and is started with the run directory, so that its program serves the
// run's pipe.
TEST(RunScopeTest, ServiceOfARunIsTheRunsOwnAndToldTheRunDirectory) {
    auto manager = platform::open_service_manager();
    if (!manager && platform::last_error() == platform::kErrorAccessDenied)
        GTEST_SKIP() << "the service manager needs administrator rights";
    ASSERT_NE(manager, nullptr);
    const std::string run_dir = "C:\\qax scope\\run";
    const std::string name = qax_win_test::unique_name("qax-scoped-service");
    qax_win_test::ScopedEnv run("QAX_RUN_DIR", run_dir);
    ASSERT_NE(manager->create(name.c_str(), name.c_str(), "C:\\programs\\server.exe"), nullptr);
    EXPECT_NE(manager->open(name.c_str()), nullptr);

    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr);
    EXPECT_EQ(OpenServiceA(scm, name.c_str(), SERVICE_QUERY_CONFIG), nullptr) << "not under the plain name";
    const std::string scoped = platform::scoped_object_name(name);
    SC_HANDLE service = OpenServiceA(scm, scoped.c_str(), SERVICE_QUERY_CONFIG | DELETE);
    ASSERT_NE(service, nullptr);
    DWORD needed = 0;
    QueryServiceConfigA(service, nullptr, 0, &needed);
    std::vector<BYTE> config(needed);
    auto *record = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(config.data());
    ASSERT_TRUE(QueryServiceConfigA(service, record, needed, &needed));
    EXPECT_EQ(std::string(record->lpBinaryPathName), "\"C:\\programs\\server.exe\" --run-dir \"" + run_dir + "\"");
    EXPECT_EQ(std::string(record->lpDisplayName), scoped);
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
}
