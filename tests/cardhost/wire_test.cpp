// The request and response records on the pipe, byte for byte, and the
// records the server hands out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "cardhost/constants.h"
#include "cardhost/server.h"
#include "cardhost_fixture.h"
#include "pipe_client.h"
#include "temp_run_dir.h"

namespace {

using namespace cardhost_test;
using cardhost::kStatusOk;

// A connected client for each test.
class CardhostWire : public qax_test::CardhostTest {
protected:
    void SetUp() override {
        CardhostTest::SetUp();
        client = std::make_unique<PipeClient>();
        ASSERT_TRUE(client->connected());
    }
    void TearDown() override {
        client.reset();
        CardhostTest::TearDown();
    }
    std::unique_ptr<PipeClient> client;
};

TEST_F(CardhostWire, ResponseEchoesTheIdAndCarriesStatusSizeAndDataAtTheirOffsets) {
    Record request = make_request(0x1234, cardhost::kCmdRegisterPermission, "processId=77&level=2");
    ASSERT_TRUE(client->send(request));
    Reply reply = client->receive();
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.id, 0x1234);
    EXPECT_EQ(get_i32(reply.raw.data(), 4), 0);
    EXPECT_EQ(reply.status, kStatusOk);
    EXPECT_EQ(reply.dataSize, 4);
    EXPECT_EQ(reply.value(), 2);
    for (std::size_t b = 4; b < reply.data.size(); ++b) ASSERT_EQ(reply.data[b], 0) << "data byte " << b;
}

TEST_F(CardhostWire, ServerReadsEveryRequestFieldAtItsOffset) {
    // Set a variable, then read it back: id, command, parameters, dataSize
    // and data all come from their offsets.
    std::vector<std::uint8_t> data(372);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    Reply set = client->exchange(make_request(
        5, cardhost::kCmdSetVariable, "processId=9&id=700&shared=8&timeout=0&dataSize=372", data));
    ASSERT_EQ(set.status, kStatusOk);
    Reply get = client->call(cardhost::kCmdGetVariable, "processId=9&id=700");
    ASSERT_EQ(get.status, kStatusOk);
    ASSERT_EQ(get.dataSize, 372);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), get.data.begin()));

    const auto recorded = server().requests();
    ASSERT_FALSE(recorded.empty());
    const auto &first = recorded.front();
    EXPECT_EQ(first.requestId, 5);
    EXPECT_EQ(first.command, cardhost::kCmdSetVariable);
    EXPECT_EQ(first.dataSize, 372);
}

struct StatusCase {
    const char *name;
    std::int32_t command;
    const char *params;
    std::int32_t data_size;
    std::int32_t status;
    friend void PrintTo(const StatusCase &c, std::ostream *os) { *os << c.name; }
};

class CardhostWireStatus : public CardhostWire, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(CardhostWireStatus, BadRequestsGetAFailureStatusAndNoData) {
    const StatusCase &c = GetParam();
    Reply reply = client->exchange(make_request(3, c.command, c.params, {}, c.data_size));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.id, 3);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.dataSize, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CardhostWireStatus,
    ::testing::Values(
        StatusCase{"UnknownCommand", 99, "", 0, cardhost::kStatusUnknownCommand},
        StatusCase{"NegativeDataSize", cardhost::kCmdCardStatus, "", -1, cardhost::kStatusBadDataSize},
        StatusCase{"DataSizeAbove372", cardhost::kCmdCardStatus, "", 373, cardhost::kStatusBadDataSize},
        StatusCase{"MissingProcessId", cardhost::kCmdRegisterPermission, "level=3", 0, cardhost::kStatusBadParameter},
        StatusCase{"MissingLevel", cardhost::kCmdRegisterPermission, "processId=5", 0, cardhost::kStatusBadParameter},
        StatusCase{"LevelOutOfRange", cardhost::kCmdRegisterPermission, "processId=5&level=4", 0,
                   cardhost::kStatusBadParameter},
        StatusCase{"ZeroProcessId", cardhost::kCmdGetPermission, "processId=0", 0, cardhost::kStatusBadParameter},
        StatusCase{"MalformedParameters", cardhost::kCmdGetPermission, "processId", 0, cardhost::kStatusBadParameter},
        StatusCase{"EcatStatusNotZeroOrOne", cardhost::kCmdEcatStartStop, "status=2", 0, cardhost::kStatusBadParameter},
        StatusCase{"ModuleIndexMissing", cardhost::kCmdModuleInfo, "", 0, cardhost::kStatusBadParameter},
        StatusCase{"LogIndexNegative", cardhost::kCmdLogInfo, "index=-1", 0, cardhost::kStatusBadParameter},
        StatusCase{"DeviceIndexBeyondList", cardhost::kCmdEcatDeviceInfo, "index=4", 0, cardhost::kStatusNoSuchIndex}),
    [](const auto &case_info) { return std::string(case_info.param.name); });

TEST_F(CardhostWire, RequestsWithoutParametersIgnoreTheParameterArea) {
    // The client leaves the area of a request without parameters as it was.
    Reply reply = client->call(cardhost::kCmdCardStatus, "garbage&&==&x");
    EXPECT_EQ(reply.status, kStatusOk);
    EXPECT_EQ(reply.value(), cardhost::kCardReady);
}

TEST_F(CardhostWire, CardInformationHasTheNameAndModelWhereTheMotionLibraryReadsThem) {
    Reply reply = client->call(cardhost::kCmdCardInfo);
    ASSERT_EQ(reply.status, kStatusOk);
    ASSERT_EQ(reply.dataSize, 348);
    EXPECT_STREQ(reinterpret_cast<const char *>(reply.data.data() + 32), "Test Card 7412");
    EXPECT_EQ(get_u16(reply.data.data(), 90), 7412);
    EXPECT_STREQ(reinterpret_cast<const char *>(reply.data.data() + 8), "T-1");
    EXPECT_EQ(get_u32(reply.data.data(), 104), 3u);  // axes
}

TEST_F(CardhostWire, ModulesAreCountedAndAnAbsentModuleIsEmpty) {
    EXPECT_EQ(client->call(cardhost::kCmdModuleCount).value(), 2);
    Reply module = client->call(cardhost::kCmdModuleInfo, "index=1");
    ASSERT_EQ(module.status, kStatusOk);
    ASSERT_EQ(module.dataSize, 44);
    const std::uint16_t version[4] = {2, 3, 1, 0};
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(get_u16(module.data.data(), 2 * k), version[k]);
    EXPECT_STREQ(reinterpret_cast<const char *>(module.data.data() + 24), "Firmware");

    // The motion library asks for modules 0..16 whatever the count.
    Reply absent = client->call(cardhost::kCmdModuleInfo, "index=16");
    ASSERT_EQ(absent.status, kStatusOk);
    ASSERT_EQ(absent.dataSize, 44);
    for (std::size_t b = 0; b < 44; ++b) EXPECT_EQ(absent.data[b], 0);
}

TEST_F(CardhostWire, ServerInformationCarriesItsVersionEntryAtByte32) {
    Reply reply = client->call(cardhost::kCmdServerInfo);
    ASSERT_EQ(reply.status, kStatusOk);
    ASSERT_EQ(reply.dataSize, 72);
    EXPECT_STREQ(reinterpret_cast<const char *>(reply.data.data()), "cardhost");
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(get_u32(reply.data.data(), 32 + 4 * k), cardhost::kServerVersion[k]);
    EXPECT_EQ(get_u32(reply.data.data(), 48), platform::process_id());
    EXPECT_GE(get_u32(reply.data.data(), 52), 1u);  // this connection (and a closing probe)
}

TEST_F(CardhostWire, EtherCatStartsStopsAndShowsInTheDeviceList) {
    EXPECT_EQ(client->call(cardhost::kCmdEcatStatus).value(), cardhost::kEcatRunning);
    Reply stop = client->call(cardhost::kCmdEcatStartStop, "status=0");
    EXPECT_EQ(stop.status, kStatusOk);
    EXPECT_EQ(stop.value(), 0);
    EXPECT_EQ(client->call(cardhost::kCmdEcatStatus).value(), cardhost::kEcatStopped);

    EXPECT_EQ(client->call(cardhost::kCmdEcatDeviceCount).value(), 4);  // three drives, one I/O slave
    Reply drive = client->call(cardhost::kCmdEcatDeviceInfo, "index=2");
    ASSERT_EQ(drive.dataSize, 40);
    EXPECT_EQ(get_u32(drive.data.data(), 0), 2u);       // position
    EXPECT_EQ(get_u32(drive.data.data(), 4), 1647u);    // vendor
    EXPECT_EQ(get_u32(drive.data.data(), 8), 7u);       // product
    EXPECT_EQ(get_u16(drive.data.data(), 16), 5);       // axis number
    EXPECT_EQ(get_u16(drive.data.data(), 18), cardhost::kDeviceDrive);
    EXPECT_EQ(get_u32(drive.data.data(), 20), cardhost::kSlaveStatePreop);

    client->call(cardhost::kCmdEcatStartStop, "status=1");
    Reply io = client->call(cardhost::kCmdEcatDeviceInfo, "index=3");
    EXPECT_EQ(get_u16(io.data.data(), 16), 3);
    EXPECT_EQ(get_u16(io.data.data(), 18), cardhost::kDeviceIo);
    EXPECT_EQ(get_u32(io.data.data(), 20), cardhost::kSlaveStateOp);
}

TEST_F(CardhostWire, CardLogRecordsHaveTheLogRecordLayout) {
    client->call(cardhost::kCmdEcatStartStop, "status=0");
    const std::int32_t count = client->call(cardhost::kCmdLogCount).value();
    ASSERT_GE(count, 2);
    Reply last = client->call(cardhost::kCmdLastLogInfo);
    ASSERT_EQ(last.dataSize, 124);
    const std::uint32_t word0 = get_u32(last.data.data(), 0);
    EXPECT_EQ(word0 >> 14 & 3u, cardhost::kLogLevelInfo);
    EXPECT_EQ(word0 & 0x3FFFu, static_cast<std::uint32_t>(cardhost::kLogCodeEcat));
    EXPECT_EQ(last.data[18], std::strlen(cardhost::kLogEcatStopped));
    EXPECT_STREQ(reinterpret_cast<const char *>(last.data.data() + 19), cardhost::kLogEcatStopped);

    Reply same = client->call(cardhost::kCmdLogInfo, "index=" + std::to_string(count - 1));
    EXPECT_EQ(same.data, last.data);
    Reply beyond = client->call(cardhost::kCmdLogInfo, "index=" + std::to_string(count));
    EXPECT_EQ(beyond.status, kStatusOk);
    EXPECT_EQ(beyond.data[18], 0);  // no record: length 0
}

TEST_F(CardhostWire, LoadingTheConfigurationRebuildsTheVariables) {
    std::vector<std::uint8_t> data(272, 0xAB);
    ASSERT_EQ(client->call(cardhost::kCmdSetVariable, "processId=9&id=32&shared=8&timeout=0&dataSize=272", data).status,
              kStatusOk);
    EXPECT_EQ(client->call(cardhost::kCmdUpdateCard).value(), 0);
    EXPECT_EQ(client->call(cardhost::kCmdGetVariable, "processId=9&id=32").data[4], 0xAB);  // update keeps it
    Reply load = client->call(cardhost::kCmdLoadCardConfig);
    EXPECT_EQ(load.status, kStatusOk);
    EXPECT_EQ(load.value(), 0);
    EXPECT_EQ(get_i32(client->call(cardhost::kCmdGetVariable, "processId=9&id=32").data.data(), 4), 3);
}

}  // namespace

namespace {

TEST_F(CardhostWire, ASecondServerDoesNotTakeOverALivePipe) {
    cardhost::ServerOptions options;
    options.config_text = qax_test::kCardhostTestConfig;
    cardhost::Server second(options);
    std::string error;
    EXPECT_FALSE(second.start(&error));
    EXPECT_NE(error.find("another server is listening"), std::string::npos) << error;
    EXPECT_EQ(client->call(cardhost::kCmdCardStatus).status, 0);  // the first still serves
}

}  // namespace

namespace {

TEST_F(CardhostWire, FixtureRegistersTheServiceAsRunningInThisProcess) {
    auto manager = platform::open_service_manager();
    ASSERT_TRUE(manager);
    auto service = manager->open(cardhost::kServiceName);
    ASSERT_TRUE(service);
    std::uint32_t state = 0;
    ASSERT_TRUE(service->query_state(state));
    EXPECT_EQ(state, platform::kServiceRunning);
}

}  // namespace

namespace {

// A server reading its configuration from a file that is then spoiled: the
// reload is refused and the old configuration is still served.
TEST(CardhostReload, ARefusedConfigurationLeavesTheOldOneServing) {
    qax_test::TempRunDir run;
    const std::string path = run.path() + "/machine.conf";
    std::ofstream(path) << qax_test::kCardhostTestConfig;
    cardhost::ServerOptions options;
    options.config_path = path;
    options.files_dir = run.path() + "/files";
    cardhost::Server server(options);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    PipeClient client;
    ASSERT_TRUE(client.connected());
    const auto card_name = [&] {
        return std::string(reinterpret_cast<const char *>(client.call(cardhost::kCmdCardInfo).data.data() + 32));
    };
    ASSERT_EQ(card_name(), "Test Card 7412");

    const std::function<void()> spoilers[] = {
        [&] { std::filesystem::create_directory(path); },
        [&] { std::ofstream(path) << "card name=\"Other\" model=7412\nlog level=1 code=1 text=\"a\x01\"\n"; },
        [&] { std::ofstream(path) << std::string(cardhost::kMaxConfigBytes + 1, '#'); },
    };
    for (const auto &spoil : spoilers) {
        std::filesystem::remove_all(path);
        spoil();
        for (const std::int32_t command : {cardhost::kCmdLoadCardConfig, cardhost::kCmdUpdateCard}) {
            EXPECT_EQ(client.call(command).status, cardhost::kStatusConfigFailed);
            EXPECT_EQ(card_name(), "Test Card 7412");
            EXPECT_EQ(get_i32(client.call(cardhost::kCmdGetVariable, "processId=9&id=32").data.data(), 4), 3);
        }
    }
    std::filesystem::remove_all(path);
    std::ofstream(path) << "card name=\"Fixed\" model=7412\n";
    EXPECT_EQ(client.call(cardhost::kCmdLoadCardConfig).status, kStatusOk);
    EXPECT_EQ(card_name(), "Fixed");
}

}  // namespace
