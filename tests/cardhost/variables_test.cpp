// Shared variables: set, get, exists and delete for any id.
#include <gtest/gtest.h>

#include "cardhost/constants.h"
#include "cardhost_fixture.h"
#include "pipe_client.h"

namespace {

using namespace cardhost_test;
using cardhost::kStatusOk;

class CardhostVariables : public qax_test::CardhostTest {
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
    Reply set(int id, const std::vector<std::uint8_t> &data) {
        return client->call(cardhost::kCmdSetVariable,
                            "processId=11&id=" + std::to_string(id) + "&shared=8&timeout=0&dataSize=" +
                                std::to_string(data.size()),
                            data);
    }
    Reply op(std::int32_t command, int id) {
        return client->call(command, "processId=11&id=" + std::to_string(id));
    }
    std::unique_ptr<PipeClient> client;
};

TEST_F(CardhostVariables, ConfiguredVariablesExistWithTheirSizes) {
    // Variable 33 is 512 bytes; a response carries at most 496 of them.
    const std::pair<int, int> sizes[] = {{32, 272}, {33, 496}, {34, 392}, {1025, 128}, {1026, 324}};
    for (const auto &[id, size] : sizes) {
        EXPECT_EQ(op(cardhost::kCmdVariableExists, id).value(), 1) << id;
        Reply get = op(cardhost::kCmdGetVariable, id);
        EXPECT_EQ(get.status, kStatusOk) << id;
        EXPECT_EQ(get.dataSize, size) << id;
    }
}

TEST_F(CardhostVariables, ANewVariableCanBeSetReadReplacedAndDeleted) {
    EXPECT_EQ(op(cardhost::kCmdVariableExists, 4000).value(), 0);
    Reply first = set(4000, {1, 2, 3, 4, 5});
    EXPECT_EQ(first.status, kStatusOk);
    EXPECT_EQ(first.value(), 0);
    EXPECT_EQ(op(cardhost::kCmdVariableExists, 4000).value(), 1);
    ASSERT_EQ(set(4000, {9, 8}).status, kStatusOk);
    Reply get = op(cardhost::kCmdGetVariable, 4000);
    EXPECT_EQ(get.dataSize, 2);
    EXPECT_EQ(get.data[0], 9);
    EXPECT_EQ(get.data[2], 0);  // nothing left of the longer value

    Reply deleted = op(cardhost::kCmdDeleteVariable, 4000);
    EXPECT_EQ(deleted.status, kStatusOk);
    EXPECT_EQ(deleted.value(), 0);
    EXPECT_EQ(op(cardhost::kCmdVariableExists, 4000).value(), 0);
    EXPECT_EQ(op(cardhost::kCmdGetVariable, 4000).status, cardhost::kStatusNoSuchVariable);
    EXPECT_EQ(op(cardhost::kCmdDeleteVariable, 4000).status, cardhost::kStatusNoSuchVariable);
}

TEST_F(CardhostVariables, AnotherConnectionSeesTheValue) {
    ASSERT_EQ(set(1026, std::vector<std::uint8_t>(324, 7)).status, kStatusOk);
    PipeClient other;
    Reply get = other.call(cardhost::kCmdGetVariable, "processId=12&id=1026");
    EXPECT_EQ(get.dataSize, 324);
    EXPECT_EQ(get.data[323], 7);
}

TEST_F(CardhostVariables, MalformedRequestsAreRefused) {
    struct Case {
        std::int32_t command;
        const char *params;
        std::int32_t data_size;
        std::int32_t status;
    } cases[] = {
        {cardhost::kCmdGetVariable, "processId=11", 0, cardhost::kStatusBadParameter},       // no id
        {cardhost::kCmdGetVariable, "id=32", 0, cardhost::kStatusBadParameter},              // no process
        {cardhost::kCmdVariableExists, "processId=11&id=3x", 0, cardhost::kStatusBadParameter},
        {cardhost::kCmdSetVariable, "processId=11&id=5&shared=8&timeout=0", 4, cardhost::kStatusBadParameter},
        {cardhost::kCmdSetVariable, "processId=11&id=5&shared=8&timeout=0&dataSize=8", 4,
         cardhost::kStatusBadDataSize},  // announced and sent sizes differ
        {cardhost::kCmdSetVariable, "processId=11&id=5&shared=8&timeout=0&dataSize=400", 400,
         cardhost::kStatusBadDataSize},
    };
    for (const Case &c : cases) {
        Reply reply = client->exchange(make_request(1, c.command, c.params, std::vector<std::uint8_t>(4), c.data_size));
        EXPECT_EQ(reply.status, c.status) << c.params;
    }
    EXPECT_EQ(op(cardhost::kCmdVariableExists, 5).value(), 0);
}

}  // namespace
