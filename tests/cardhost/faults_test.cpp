// The faults a test can inject into the server's answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cardhost/constants.h"
#include "cardhost_fixture.h"
#include "pipe_client.h"

namespace {

using namespace cardhost_test;
using cardhost::Fault;

using CardhostFaults = qax_test::CardhostTest;

struct FaultCase {
    const char *name;
    Fault fault;
    std::int32_t value;
    bool answered;
    std::int32_t id_offset;   // responseId - requestId
    std::int32_t status;
    std::int32_t data_size;
    friend void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }
};

class CardhostInjectedFault : public qax_test::CardhostTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CardhostInjectedFault, ChangesTheAnswerToCardInformation) {
    const FaultCase &c = GetParam();
    server().inject_fault(cardhost::kCmdCardInfo, c.fault, 1, c.value);
    PipeClient client;
    Reply reply = client.exchange(make_request(321, cardhost::kCmdCardInfo, ""));
    ASSERT_EQ(reply.received, c.answered);
    if (!c.answered) return;
    EXPECT_EQ(reply.id, 321 + c.id_offset);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.dataSize, c.data_size);
    const std::size_t kept = c.data_size > 0 ? static_cast<std::size_t>(c.data_size) : 0;
    for (std::size_t b = kept; b < 348 && c.data_size >= 0 && c.data_size != 348; ++b) ASSERT_EQ(reply.data[b], 0) << "byte " << b;

    // Only once: the next answer is sound again.
    Reply next = client.exchange(make_request(322, cardhost::kCmdCardInfo, ""));
    EXPECT_EQ(next.id, 322);
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(next.dataSize, 348);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CardhostInjectedFault,
    ::testing::Values(FaultCase{"WrongResponseId", Fault::wrong_response_id, 0, true, 1, 0, 348},
                      FaultCase{"ErrorStatus", Fault::error_status, 77, true, 0, 77, 348},
                      FaultCase{"ErrorStatusDefault", Fault::error_status, 0, true, 0, cardhost::kStatusBadParameter, 348},
                      FaultCase{"ShortData", Fault::short_data, 10, true, 0, 0, 10},
                      FaultCase{"ShortDataByOne", Fault::short_data, 1000, true, 0, 0, 347},
                      FaultCase{"EmptyData", Fault::empty_data, 0, true, 0, 0, 0},
                      FaultCase{"NegativeDataSize", Fault::negative_data_size, 0, true, 0, 0, -1},
                      FaultCase{"NegativeDataSizeGiven", Fault::negative_data_size, -600, true, 0, 0, -600},
                      FaultCase{"CloseWithoutReply", Fault::close_without_reply, 0, false, 0, 0, 0}),
    [](const auto &case_info) { return std::string(case_info.param.name); });

TEST_F(CardhostFaults, FaultsFollowTheirCommandAndCount) {
    server().inject_fault(cardhost::kCmdCardInfo, Fault::error_status, 2, 5);
    PipeClient client;
    EXPECT_EQ(client.call(cardhost::kCmdCardStatus).status, 0);  // another command
    EXPECT_EQ(client.call(cardhost::kCmdCardInfo).status, 5);
    EXPECT_EQ(client.call(cardhost::kCmdCardInfo).status, 5);
    EXPECT_EQ(client.call(cardhost::kCmdCardInfo).status, 0);

    server().inject_fault(0, Fault::empty_data);  // every command, until cleared
    EXPECT_EQ(client.call(cardhost::kCmdCardStatus).dataSize, 0);
    EXPECT_EQ(client.call(cardhost::kCmdModuleCount).dataSize, 0);
    server().clear_faults();
    EXPECT_EQ(client.call(cardhost::kCmdCardStatus).dataSize, 4);
}

TEST_F(CardhostFaults, NeverReplyHoldsTheAnswerUntilTheServerStops) {
    server().inject_fault(cardhost::kCmdGetPermission, Fault::never_reply);
    PipeClient client;
    ASSERT_TRUE(client.send(make_request(1, cardhost::kCmdGetPermission, "processId=3")));
    std::atomic<bool> returned{false};
    Reply reply;
    std::thread reader([&] {
        reply = client.receive();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    server().stop();
    reader.join();
    EXPECT_FALSE(reply.received);
}

TEST_F(CardhostFaults, StopEndsConnectionsThatAreWaitingForARequest) {
    PipeClient client;
    ASSERT_EQ(client.call(cardhost::kCmdCardStatus).status, 0);
    server().stop();  // must not wait for the client to hang up
    EXPECT_EQ(server().open_connections(), 0u);
    EXPECT_FALSE(client.call(cardhost::kCmdCardStatus).received);
}

}  // namespace
