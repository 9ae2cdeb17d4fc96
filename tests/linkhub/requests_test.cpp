// Server requests: the record on the wire, the exchange's checks and the
// two result rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "linkhub.h"
#include "linkhub_fixture.h"
#include "platform/platform.h"

namespace linkhub_test {
namespace {

using ::testing::PrintToString;

constexpr std::uint8_t kGuard = 0xEE;
constexpr std::uint8_t kReplyByte = 0x5A;
constexpr std::size_t kGuardBytes = 16;

std::string pid_text() { return std::to_string(platform::process_id()); }

struct RequestCase {
    const char *name;
    std::int32_t command;
    std::string parameters;
    int replySize;  // bytes the caller's area takes (0: rule V)
    std::function<int(void *area)> call;
};

std::vector<RequestCase> request_cases() {
    const std::string pid = pid_text();
    auto word = [](void *area) { return static_cast<int *>(area); };
    return {
        {"RegisterPermission", 1, "processId=" + pid + "&level=3", 0, [](void *) { return COMM_RegisterPermission(3); }},
        {"UnregisterPermission", 2, "processId=" + pid, 0, [](void *) { return COMM_UnregisterPermission(); }},
        {"GetPermission", 3, "processId=" + pid, 4, [=](void *a) { return COMM_GetPermission(word(a)); }},
        {"GetServerInfo", 4, "", 72, [](void *a) { return COMM_GetServerInfo(a); }},
        {"ReadCardStatus", 17, "", 4, [=](void *a) { return COMM_ReadCardStatus(word(a)); }},
        {"ReadCardECLRStatus", 18, "", 4, [=](void *a) { return COMM_ReadCardECLRStatus(word(a)); }},
        {"StartCardECLR", 19, "status=1", 0, [](void *) { return COMM_StartCardECLR(); }},
        {"StopCardECLR", 19, "status=0", 0, [](void *) { return COMM_StopCardECLR(); }},
        {"UpdateCard", 20, "", 0, [](void *) { return COMM_UpdateCard(); }},
        {"LoadCardConfig", 21, "", 0, [](void *) { return COMM_LoadCardConfig(); }},
        {"ReadCardInfo", 22, "", 348, [](void *a) { return COMM_ReadCardInfo(a); }},
        {"ReadCardModuleCount", 23, "", 4, [=](void *a) { return COMM_ReadCardModuleCount(word(a)); }},
        {"ReadCardModuleInfo", 24, "index=5", 44, [](void *a) { return COMM_ReadCardModuleInfo(5, a); }},
        {"ReadCardLogCount", 25, "", 4, [=](void *a) { return COMM_ReadCardLogCount(word(a)); }},
        {"ReadCardLogInfo", 26, "index=7", 124, [](void *a) { return COMM_ReadCardLogInfo(7, a); }},
        {"ReadCardLastLogInfo", 27, "", 124, [](void *a) { return COMM_ReadCardLastLogInfo(a); }},
        {"ReadECATDeviceCount", 28, "", 4, [=](void *a) { return COMM_ReadECATDeviceCount(word(a)); }},
        {"ReadECATDeviceInfo", 29, "index=2", 40, [](void *a) { return COMM_ReadECATDeviceInfo(2, a); }},
        {"SetVariable", 65, "processId=" + pid + "&id=1026&shared=8&timeout=0&dataSize=4", 0,
         [](void *) {
             const std::int32_t data = 0x01020304;
             return COMM_SetVariable(1026, 8, 0, &data, 4);
         }},
        {"GetVariable", 66, "processId=" + pid + "&id=32", 272, [](void *a) { return COMM_GetVariable(32, a, 272); }},
        {"IsExistVariable", 67, "processId=" + pid + "&id=33", 4, [=](void *a) { return COMM_IsExistVariable(33, word(a)); }},
        {"DeleteVariable", 68, "processId=" + pid + "&id=1025", 0, [](void *) { return COMM_DeleteVariable(1025); }},
    };
}

std::vector<std::uint8_t> guarded_area(std::size_t size) { return std::vector<std::uint8_t>(size + kGuardBytes, kGuard); }

using Requests = LinkhubTest;

TEST_F(Requests, EachRequestSendsItsCommandAndParametersAndCopiesOnlyItsReplySize) {
    init_with_fake_server();
    const std::vector<RequestCase> cases = request_cases();
    ScriptedReply full;
    full.data.assign(496, kReplyByte);
    for (const RequestCase &c : cases) fake().script(c.command, full);

    for (std::size_t i = 0; i < cases.size(); ++i) {
        const RequestCase &c = cases[i];
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> area = guarded_area(static_cast<std::size_t>(c.replySize));
        const int result = c.call(area.data());
        // Rule V gives the reply word, rule S the status.
        EXPECT_EQ(result, c.replySize == 0 ? 0x5A5A5A5A : 0);
        ASSERT_EQ(fake().requests().size(), i + 1);
        const RecordedRequest request = fake().requests().back();
        EXPECT_EQ(request.command, c.command);
        EXPECT_EQ(request.parameters, c.parameters);
        for (std::size_t b = 0; b < area.size(); ++b) {
            const bool inside = b < static_cast<std::size_t>(c.replySize);
            ASSERT_EQ(area[b], inside ? kReplyByte : kGuard) << "byte " << b;
        }
    }
}

TEST_F(Requests, NullResultPointersAreRefusedWithoutARequest) {
    init_with_fake_server();
    for (const RequestCase &c : request_cases()) {
        if (c.replySize == 0) continue;  // nothing to hand back
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(nullptr), -1);
    }
    EXPECT_EQ(COMM_GetVariable(32, nullptr, 0), -1);
    EXPECT_TRUE(fake().requests().empty());
    // The board calls refuse theirs with boardport's input errors, and ask nothing.
    board().clear_requests();
    char text[64];
    EXPECT_EQ(COMM_ReadRegister32(1, nullptr), -4);
    EXPECT_EQ(COMM_ReadRegister64(1, nullptr), -4);
    EXPECT_EQ(COMM_GetDriverVersion(text, 64, nullptr, 8, text, 64), -3);
    EXPECT_EQ(COMM_FtpCd(nullptr), 7);
    EXPECT_TRUE(board().requests().empty());
}

TEST_F(Requests, RequestRecordIsZeroedBehindTextAndData) {
    init_with_fake_server();
    const std::uint8_t data[3] = {7, 8, 9};
    COMM_SetVariable(40, 0, 5, data, 3);
    COMM_UpdateCard();
    const std::vector<RecordedRequest> sent = fake().requests();
    ASSERT_EQ(sent.size(), 2u);

    const RecordedRequest &set = sent[0];
    EXPECT_EQ(set.dataSize, 3);
    EXPECT_EQ(set.raw[140], 7);
    EXPECT_EQ(set.raw[142], 9);
    for (std::size_t b = 8 + set.parameters.size(); b < 136; ++b) ASSERT_EQ(set.raw[b], 0) << b;
    for (std::size_t b = 143; b < 512; ++b) ASSERT_EQ(set.raw[b], 0) << b;

    const RecordedRequest &bare = sent[1];
    EXPECT_EQ(bare.dataSize, 0);
    for (std::size_t b = 8; b < 512; ++b) {
        if (b < 136 || b >= 140) {
            ASSERT_EQ(bare.raw[b], 0) << b;
        }
    }
}

TEST_F(Requests, RequestIdsStayWithin15Bits) {
    init_with_fake_server();
    fake().script(2, ScriptedReply{0, word_data(0)});
    constexpr int kCount = 200;
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(COMM_UnregisterPermission(), 0);
    std::set<std::int32_t> ids;
    for (const RecordedRequest &request : fake().requests()) {
        EXPECT_GE(request.requestId, 0);
        EXPECT_LE(request.requestId, 32767);
        ids.insert(request.requestId);
    }
    EXPECT_GT(ids.size(), static_cast<std::size_t>(kCount / 2));
}

TEST_F(Requests, ValueRuleTakesStatusThenReplyWord) {
    init_with_fake_server();
    struct Case {
        const char *name;
        ScriptedReply reply;
        int expected;
    };
    ScriptedReply granted;
    granted.data = word_data(1);
    ScriptedReply refused;
    refused.status = 4625;
    refused.data = word_data(3);
    ScriptedReply empty;  // status 0, no data
    const std::vector<Case> cases = {{"word", granted, 1}, {"status", refused, 4625}, {"no data", empty, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake().script(1, c.reply);
        m_journal.mark();
        EXPECT_EQ(COMM_RegisterPermission(3), c.expected);
        const std::vector<LoggedLine> lines = messages();
        if (c.reply.status != 0) {
            ASSERT_EQ(lines.size(), 1u) << PrintToString(texts(lines));
            EXPECT_EQ(lines[0].text, "The state of the response is 4625");
            EXPECT_EQ(lines[0].code, -4);
        } else {
            EXPECT_TRUE(lines.empty()) << PrintToString(texts(lines));
        }
    }
}

TEST_F(Requests, WrongResponseIdGivesMinusOne) {
    init_with_fake_server();
    ScriptedReply reply;
    reply.wrongId = true;
    reply.data = word_data(3);
    fake().script(3, reply);
    int level = 99;
    EXPECT_EQ(COMM_GetPermission(&level), -1);
    EXPECT_EQ(level, 99);
    const std::vector<LoggedLine> lines = messages();
    ASSERT_EQ(lines.size(), 2u) << PrintToString(texts(lines));
    const std::int32_t id = fake().requests().back().requestId;
    EXPECT_EQ(lines[0].text, "RequestId:" + std::to_string(id) + ", ResponseId:" + std::to_string(id + 1));
    EXPECT_EQ(lines[0].code, -3);
    EXPECT_EQ(lines[1].text, "The state of the response is -1");
}

TEST_F(Requests, ReplyDataSizeFromTheServerIsBounded) {
    init_with_fake_server();
    struct Case {
        const char *name;
        int bufferLen;
        std::int32_t dataSize;
        std::size_t copied;
    };
    const std::vector<Case> cases = {
        {"512-byte buffer", 512, 496, 496},  {"huge size", 512, 100000, 496}, {"negative size", 512, -5, 0},
        {"short reply", 512, 10, 10},        {"small buffer", 8, 496, 8},     {"negative buffer", -1, 496, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedReply reply;
        reply.data.assign(496, kReplyByte);
        reply.overrideDataSize = true;
        reply.dataSize = c.dataSize;
        fake().script(66, reply);
        std::vector<std::uint8_t> area = guarded_area(512);
        EXPECT_EQ(COMM_GetVariable(32, area.data(), c.bufferLen), 0);
        for (std::size_t b = 0; b < area.size(); ++b) ASSERT_EQ(area[b], b < c.copied ? kReplyByte : kGuard) << b;
    }
}

TEST_F(Requests, SetVariableOutsideTheRecordSendsNothing) {
    init_with_fake_server();
    std::vector<std::uint8_t> data(400, 1);
    EXPECT_EQ(COMM_SetVariable(70, 0, 0, data.data(), -1), -1);
    EXPECT_EQ(COMM_SetVariable(70, 0, 0, data.data(), 373), -1);
    EXPECT_EQ(COMM_SetVariable(70, 0, 0, nullptr, 4), -1);
    EXPECT_TRUE(fake().requests().empty());

    fake().script(65, ScriptedReply{0, word_data(0)});
    EXPECT_EQ(COMM_SetVariable(70, 0, 0, data.data(), 372), 0);
    ASSERT_EQ(fake().requests().size(), 1u);
    EXPECT_EQ(fake().requests()[0].dataSize, 372);
    EXPECT_EQ(fake().requests()[0].raw[511], 1);
}

TEST_F(Requests, ServerThatHangsUpGivesMinusOne) {
    init_with_fake_server();
    ScriptedReply reply;
    reply.hangUp = true;
    fake().script(17, reply);
    int status = 0;
    EXPECT_EQ(COMM_ReadCardStatus(&status), -1);
    const std::vector<LoggedLine> lines = messages();
    ASSERT_EQ(lines.size(), 2u) << PrintToString(texts(lines));
    EXPECT_EQ(lines[0].text.rfind("Read response fail. GetLastError:", 0), 0u) << lines[0].text;
    EXPECT_EQ(lines[0].code, -1);
    EXPECT_EQ(lines[1].text, "The state of the response is -1");
}

TEST_F(Requests, ConcurrentRequestsEachGetTheirOwnReply) {
    init_with_fake_server();
    ScriptedReply echo;
    echo.echoParameters = true;
    fake().script(66, echo);
    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int round = 0; round < kRounds; ++round) {
                const int id = 1000 + t * 100 + round;
                char reply[128] = {};
                const std::string expected = "processId=" + pid_text() + "&id=" + std::to_string(id);
                if (COMM_GetVariable(id, reply, sizeof reply - 1) != 0 || expected != reply) ++mismatches[t];
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// With the service failing at start-up the board still opens, and every
// request fails in its write.
TEST_F(Requests, WithoutConnectionEveryRequestFailsAfterItsTwoMessages) {
    ASSERT_EQ(COMM_Init(), 0);  // no server program: install fails, no pipe
    for (const RequestCase &c : request_cases()) {
        SCOPED_TRACE(c.name);
        m_journal.mark();
        std::vector<std::uint8_t> area = guarded_area(512);
        EXPECT_EQ(c.call(area.data()), -1);
        const std::vector<LoggedLine> lines = messages();
        ASSERT_EQ(lines.size(), 2u) << PrintToString(texts(lines));
        EXPECT_EQ(lines[0].text, "Write request fail. GetLastError:6");
        EXPECT_EQ(lines[0].code, -1);
        EXPECT_EQ(lines[1].text, "The state of the response is -1");
        EXPECT_EQ(lines[1].code, -4);
    }
}

}  // namespace
}  // namespace linkhub_test
