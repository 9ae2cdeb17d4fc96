// Compare outputs: the request of each command, every refusal with its
// line, the compare tables' field limits and type rules, the link records,
// the compare-link table's store, and a compare table counted on the
// virtual board as its source axis passes the positions.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "buffered/channel.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "core/compare_outputs.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"
#include "vboard/compare_model.h"
#include "vboard/motion_model.h"

namespace motion_test {
namespace {

constexpr std::uint32_t kVendor = 1511;
constexpr std::uint32_t kProductMotion = 0x4021001;   // a motion drive: takes compare sources
constexpr std::uint32_t kProductDevice = 0x401c001;   // a compare device
constexpr std::uint32_t kProductDevice2 = 0x401c002;  // the other compare device type
constexpr std::uint32_t kStatusBase = 8740;
constexpr std::uint32_t kStateBase = 8741;
constexpr std::uint32_t kBlock = 15;
// Axes 1..3 are motion axes at indices 0..2, axes 4 and 5 compare devices
// at indices 3 and 4; axis 6 is configured with no map entry.
constexpr std::uint16_t kDevice = 4;
constexpr std::uint32_t kDeviceIndex = 3;
constexpr std::uint16_t kDevice2 = 5;
constexpr std::uint32_t kDevice2Index = 4;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct StoredVariable {
    int id = 0;
    int share = 0;
    int timeout = 0;
    std::vector<std::uint8_t> bytes;
};

// What the store of a shared variable was given, and its result.
std::mutex g_stored_lock;
std::vector<StoredVariable> g_stored;
int g_store_result = 0;
// The start-compare flag of the device as each synchronous command saw it.
std::vector<bool> g_start_flag_seen;
int (*g_record_sync)(const void *, std::uint32_t, void *, std::uint32_t, std::uint32_t *) = nullptr;
int g_sync_transport_result = 0;

int StoreVariable(int id, int share, int timeout, const void *data, int size) {
    std::lock_guard guard(g_stored_lock);
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    g_stored.push_back({id, share, timeout, std::vector<std::uint8_t>(bytes, bytes + size)});
    return g_store_result;
}

int WatchSync(const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen, std::uint32_t *returned) {
    g_start_flag_seen.push_back(g_AxisRecords[kDeviceIndex].Sending(kFlagStartCompare));
    int r = g_record_sync(in, inLen, out, outLen, returned);
    return g_sync_transport_result != 0 ? g_sync_transport_result : r;
}

// The device linked to `cmp` with a compare type, as after a link and a table.
void link_device(std::uint32_t index, std::uint32_t cmp, std::uint32_t type) {
    g_AxisRecords[index].linkA.store(cmp);
    g_AxisRecords[index].linkState.store(type);
}

McCompareRecord1 Table1() { return {1, 0, 65535}; }
McCompareRecord2 Table2() { return {0, 1, 1, 7, 2.5, 4095, 3}; }
McCompareRecord3 Table3() { return {1, 0, 1, 2, -0.5, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}, 0, 9, 11}; }
McCompareRecord4 Table4() { return {0, 1, 5, {0.1, 0.2, 0.3, -0.4, 0.5, 0.6}, 0, 12, 13, 14}; }

// Axes 1..5 enabled and idle; groups 1 {2, 3}, 2 {1, 3}, 3 {1, 2} at
// positions 0..2; compare output 1 follows axis 2, output 3 group 3, output
// 5 an entry beyond the groups (60); write permission, model 7422, a 1 ms
// cycle; the store of variable 1025 recorded.
class CompareTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        set_axis_config_without(6);
        set_groups();
        McCompareLinkTable links{};
        for (std::uint32_t &s : links.source) s = 0xFFFFFFFFu;
        links.source[0] = 1;
        links.source[2] = 32 + 2;
        links.source[4] = 60;
        comm().set_variable(1025, &links, sizeof links);
        McSlaveIdBlock ids{};
        for (std::uint32_t a = 0; a < 3; ++a) ids.pairs[a] = {kVendor, kProductMotion};
        ids.pairs[kDeviceIndex] = {kVendor, kProductDevice};
        ids.pairs[kDevice2Index] = {kVendor, kProductDevice2};
        comm().set_variable(33, &ids, sizeof ids);
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7422);
        g_bWritePermission.store(1);
        g_CyclePeriodMs.store(1.0);
        for (std::uint32_t a = 0; a < 6; ++a) comm().set_register(kStateBase + kBlock * a, 0xF01);
        recorder_ = std::make_unique<RequestRecorder>();
        calls_ = recorder_->calls();
        calls_.SetVariable = StoreVariable;
        g_record_sync = recorder_->calls().SyncImmediateCmd;
        calls_.SyncImmediateCmd = WatchSync;
        McSetCommCalls(&calls_);
        std::lock_guard guard(g_stored_lock);
        g_stored.clear();
        g_store_result = 0;
        g_start_flag_seen.clear();
        g_sync_transport_result = 0;
    }
    void TearDown() override {
        McSetCommCalls(&recorder_->calls());
        recorder_.reset();
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        g_AxesGroupTable = {};
        g_CompareLinkTable = {};
        for (McChannel &c : g_Channels) c.runFlag.store(0);
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        FakeCommTest::TearDown();
    }

    // Axes 1..6 at indices 0..5, but axis `unmapped` without a map entry.
    void set_axis_config_without(std::uint32_t unmapped) {
        McAxisConfig config{};
        config.axisCount = 6;
        for (std::uint32_t i = 0; i < 6; ++i) config.axisIdTable[i] = i + 1;
        for (std::uint32_t &m : config.axisMap) m = 0xFFFFFFFFu;
        for (std::uint32_t n = 1; n <= 6; ++n) {
            if (n != unmapped) config.axisMap[n] = n - 1;
        }
        comm().set_variable(32, &config, sizeof config);
    }
    void set_groups() {
        McAxesGroupTable groups{};
        groups.entryCount = 3;
        groups.entries[0] = {1, 2, {2, 3}, 0, 0};
        groups.entries[1] = {2, 2, {1, 3}, 0, 0};
        groups.entries[2] = {3, 2, {1, 2}, 0, 0};
        comm().set_variable(1026, &groups, sizeof groups);
    }

    std::vector<RequestBytes> sync_requests() { return recorder_->sync(); }
    std::vector<RequestBytes> async_requests() { return recorder_->async(); }
    void clear_requests() { recorder_->clear(); }
    void set_reply(std::vector<std::uint32_t> words) { recorder_->set_reply(std::move(words)); }
    void set_board_result(std::uint32_t command, std::int32_t result) { recorder_->set_board_result(command, result); }
    void status(std::uint32_t a, std::uint32_t v) { comm().set_register(kStatusBase + kBlock * a, v); }
    static std::vector<StoredVariable> stored() {
        std::lock_guard guard(g_stored_lock);
        return g_stored;
    }

private:
    std::unique_ptr<RequestRecorder> recorder_;
    McCommCalls calls_{};
};

// ---------------------------------------------------------------- requests

struct RequestCase {
    const char *name;
    std::function<void()> prepare;
    std::function<int()> call;
    std::uint32_t command;
    std::uint32_t target;
    std::vector<Field> fields;
};

std::vector<RequestCase> RequestCases() {
    const auto none = [] {};
    return {
        {"source: one axis", none, [] { int a[] = {3}; return QAX_SetCompareInfo(7, 1, a); }, 0x10360001, 6,
         {U(1), U(2)}},
        {"source: a group in any order", none, [] { int a[] = {2, 1}; return QAX_SetCompareInfo(32, 2, a); },
         0x10360001, 31, {U(2), U(2)}},
        {"link", none, [] { return QAX_LinkCompareOut(9, kDevice, 1); }, 0x10210001, 8, {U(kDeviceIndex), U(1)}},
        {"unlink with the caller's byte", [] { g_AxisRecords[kDeviceIndex].linkA.store(9); },
         [] { return QAX_LinkCompareOut(9, kDevice, 7); }, 0x10210001, 8, {U(kDeviceIndex), U(7)}},
        {"table type 1", [] { link_device(kDeviceIndex, 1, 0); },
         [] {
             auto t = Table1();
             return QAX_SetCompare(kDevice, 1, &t, sizeof t);
         },
         0x10220001, kDeviceIndex, {U(1), U(0), U(65535)}},
        {"table type 2: switchB first", [] { link_device(kDeviceIndex, 1, 0); },
         [] {
             auto t = Table2();
             return QAX_SetCompare(kDevice, 2, &t, sizeof t);
         },
         0x10230001, kDeviceIndex, {U(1), U(0), U(1), U(7), U(4095), L(250000), I(3)}},
        {"table type 3", [] { link_device(kDeviceIndex, 1, 0); },
         [] {
             auto t = Table3();
             return QAX_SetCompare(kDevice, 3, &t, sizeof t);
         },
         0x10240001, kDeviceIndex,
         {U(0), U(1), U(1), I(2), U(9), L(100000), L(200000), L(300000), L(400000), L(500000), L(600000),
          L(-50000), U(0), I(11)}},
        {"table type 3 without positions", [] { link_device(kDeviceIndex, 1, 0); },
         [] {
             auto t = Table3();
             t.noPositions = 1;
             t.positions[0] = kNaN;  // not read
             return QAX_SetCompare(kDevice, 3, &t, sizeof t);
         },
         0x10240001, kDeviceIndex,
         {U(0), U(1), U(1), I(2), U(9), L(0), L(0), L(0), L(0), L(0), L(0), L(-50000), U(1), I(11)}},
        {"table type 4", [] { link_device(kDevice2Index, 1, 0); },
         [] {
             auto t = Table4();
             return QAX_SetCompare(kDevice2, 4, &t, sizeof t);
         },
         0x10250001, kDevice2Index,
         {U(0), U(1), I(5), U(12), U(13), L(10000), L(20000), L(30000), L(-40000), L(50000), L(60000), U(0),
          I(14)}},
        {"table type 4 without positions", [] { link_device(kDevice2Index, 1, 0); },
         [] {
             auto t = Table4();
             t.noPositions = 1;
             return QAX_SetCompare(kDevice2, 4, &t, sizeof t);
         },
         0x10250001, kDevice2Index,
         {U(0), U(1), I(5), U(12), U(13), L(0), L(0), L(0), L(0), L(0), L(0), U(1), I(14)}},
        {"start", [] { link_device(kDeviceIndex, 1, 3); }, [] { return QAX_StartCompare(kDevice); }, 0x10260001,
         kDeviceIndex, {}},
        {"start linked through link B alone on a group source",
         [] {
             g_AxisRecords[kDeviceIndex].linkB.store(3);
             g_AxisRecords[kDeviceIndex].linkState.store(1);
         },
         [] { return QAX_StartCompare(kDevice); }, 0x10260001, kDeviceIndex, {}},
        {"stop", [] { link_device(kDeviceIndex, 1, 3); }, [] { return QAX_StopCompare(kDevice); }, 0x10270001,
         kDeviceIndex, {}},
        {"status", [] { link_device(kDeviceIndex, 1, 3); },
         [] {
             std::uint32_t s = 0;
             return QAX_GetCompareStatus(kDevice, 1, &s);
         },
         0x10280001, kDeviceIndex, {}},
    };
}

TEST_F(CompareTest, EachCommandSendsItsRequestFieldByField) {
    for (const RequestCase &c : RequestCases()) {
        SCOPED_TRACE(c.name);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        c.prepare();
        clear_requests();
        ASSERT_EQ(c.call(), 0);
        auto requests = sync_requests();
        ASSERT_EQ(requests.size(), 1u);
        const RequestBytes &r = requests[0];
        EXPECT_EQ(Word(r, 0), c.command);
        EXPECT_EQ(Word(r, 1), 0u);
        EXPECT_EQ(Word(r, 2), 0u);
        EXPECT_EQ(Word(r, 3), 0u);
        EXPECT_EQ(Word(r, 4), c.target);
        ExpectFields(r, c.fields);
        EXPECT_TRUE(async_requests().empty());
    }
}

// ---------------------------------------------------------------- refusals

struct RefusalCase {
    const char *name;
    std::function<void()> prepare;
    std::function<int()> call;
    int result;
    std::string text;
    int module;
    int code;
};

int SetTable3(int axis, int type, int size) {
    auto t = Table3();
    return QAX_SetCompare(axis, type, &t, size);
}

std::vector<RefusalCase> RefusalCases() {
    const auto none = [] {};
    const auto linked = [] { link_device(kDeviceIndex, 1, 3); };
    const std::string info = "CMD=0x10360001, FUN=0x10050095, ";
    const std::string link = "CMD=0x10210001, FUN=0x10050015, ";
    const std::string table = "CMD=0x10220001, FUN=0x10050016, ";
    const std::string status = "CMD=0x10280001, FUN=0x1005001a, ";
    const std::string start = "CMD=0x10260001, FUN=0x1005001b, ";
    const std::string stop = "CMD=0x10270001, FUN=0x1005001c, ";
    constexpr int api = 4101;
    constexpr int check = 4100;
    return {
        // Source.
        {"source cmp 0", none, [] { int a[] = {1}; return QAX_SetCompareInfo(0, 1, a); }, -1,
         info + "Input Parameter error", api, 0x100500},
        {"source cmp 33", none, [] { int a[] = {1}; return QAX_SetCompareInfo(33, 1, a); }, -1,
         info + "Input Parameter error", api, 0x100500},
        {"source count 0", none, [] { int a[] = {1}; return QAX_SetCompareInfo(1, 0, a); }, -1,
         info + "Input Parameter error", api, 0x100500},
        {"source count 7", none, [] { int a[] = {1, 2, 3, 1, 2, 3, 1}; return QAX_SetCompareInfo(1, 7, a); }, -1,
         info + "Input Parameter error", api, 0x100500},
        {"source without axes", none, [] { return QAX_SetCompareInfo(1, 2, nullptr); }, -1,
         info + "Input Parameter error", api, 0x100500},
        {"source axis 0", none, [] { int a[] = {1, 0}; return QAX_SetCompareInfo(1, 2, a); }, -1,
         info + "Input Parameter error", api, 0x100500},
        {"source axis 33", none, [] { int a[] = {33}; return QAX_SetCompareInfo(1, 1, a); }, -1,
         info + "Input Parameter error", api, 0x100500},
        {"source axis not configured", none, [] { int a[] = {6}; return QAX_SetCompareInfo(1, 1, a); }, -2,
         info + "AxisNo Parameter error", api, 0x100500},
        {"source on a compare device", none, [] { int a[] = {1, kDevice}; return QAX_SetCompareInfo(1, 2, a); },
         1, "CMD=0x10360001, FUN=0x10040045, Not supported axis type", check, 0x100402},
        {"source axes of no group", none, [] { int a[] = {1, 2, 3}; return QAX_SetCompareInfo(1, 3, a); }, -3,
         "CMD=0x10360001, FUN=0x10040045, Axesgroup not config", check, 0x100411},
        {"source axes twice", none, [] { int a[] = {1, 1}; return QAX_SetCompareInfo(1, 2, a); }, -3,
         "CMD=0x10360001, FUN=0x10040045, Axesgroup not config", check, 0x100411},
        // Link.
        {"link axis 0", none, [] { return QAX_LinkCompareOut(1, 0, 1); }, -1, link + "Input Parameter error", api,
         0x100500},
        {"link axis 33", none, [] { return QAX_LinkCompareOut(1, 33, 1); }, -1, link + "Input Parameter error", api,
         0x100500},
        {"link axis 65535", none, [] { return QAX_LinkCompareOut(1, 65535, 1); }, -1,
         link + "Input Parameter error", api, 0x100500},
        {"link axis not configured", none, [] { return QAX_LinkCompareOut(40, 6, 1); }, -2,
         link + "AxisNo Parameter error", api, 0x100500},
        {"link cmp 0", none, [] { return QAX_LinkCompareOut(0, kDevice, 1); }, -1, link + "Input Parameter error",
         api, 0x100500},
        {"link cmp 33", none, [] { return QAX_LinkCompareOut(33, kDevice, 1); }, -1, link + "Input Parameter error",
         api, 0x100500},
        {"link a motion axis", none, [] { return QAX_LinkCompareOut(1, 1, 1); }, 1,
         "CMD=0x10210001, FUN=0x1004000e, Not supported axis type", check, 0x100402},
        {"link while the servo command runs", [] { FakeComm::current().set_register(kStatusBase + kBlock * 3, 1); },
         [] { return QAX_LinkCompareOut(1, kDevice, 1); }, -3, "CMD=0x10210001, FUN=0x1004000e, Cmd run conflict",
         check, 0x10040d},
        {"link a disabled device", [] { FakeComm::current().set_register(kStateBase + kBlock * 3, 0xF00); },
         [] { return QAX_LinkCompareOut(1, kDevice, 1); }, -3, "CMD=0x10210001, FUN=0x1004000e, Axis is not enabled",
         check, 0x100401},
        {"link to another output", [] { g_AxisRecords[kDeviceIndex].linkA.store(2); },
         [] { return QAX_LinkCompareOut(1, kDevice, 1); }, -3,
         "CMD=0x10210001, FUN=0x1004000e, Axis is linked other master axis", check, 0x100408},
        // Table.
        {"table axis 0", none, [] { return SetTable3(0, 3, 84); }, -1, table + "Input Parameter error", api,
         0x100500},
        {"table axis 33", none, [] { return SetTable3(33, 3, 84); }, -1, table + "Input Parameter error", api,
         0x100500},
        {"table axis not configured", none, [] { return SetTable3(6, 3, 84); }, -2, table + "AxisNo Parameter error",
         api, 0x100500},
        {"table type 0", none, [] { return SetTable3(kDevice, 0, 84); }, -6,
         "CmpType=0x0, FUN=0x10040049, CmpNodeType no support", check, 0x100500},
        {"table type 5", none, [] { return SetTable3(kDevice, 5, 84); }, -6,
         "CmpType=0x5, FUN=0x10040049, CmpNodeType no support", check, 0x100500},
        {"table type -1", none, [] { return SetTable3(kDevice, -1, 84); }, -6,
         "CmpType=0xffffffff, FUN=0x10040049, CmpNodeType no support", check, 0x100500},
        {"table type 2 of 28 bytes", none, [] { return SetTable3(kDevice, 2, 28); }, -1,
         "CmpType=2, FUN=0x10040048, Input Parameter error", check, 0x100500},
        {"table type 3 of 88 bytes", none, [] { return SetTable3(kDevice, 3, 88); }, -1,
         "CmpType=3, FUN=0x10040048, Input Parameter error", check, 0x100500},
        {"table without a record", none, [] { return QAX_SetCompare(kDevice, 1, nullptr, 12); }, -1,
         "CMD=0x0, FUN=0x10040049, Input Parameter error", check, 0x100500},
        {"table for a motion axis", none, [] { return SetTable3(1, 3, 84); }, 1,
         "CMD=0x10220001, FUN=0x10040046, Not supported axis type", check, 0x100402},
        {"table for an unlinked device", [] { g_AxisRecords[kDeviceIndex].linkB.store(1); },
         [] { return SetTable3(kDevice, 3, 84); }, -3, "CMD=0x10220001, FUN=0x10040047, Axis is not linked master axis",
         api, 0x100409},
        // Status.
        {"status item 2", linked,
         [] {
             std::uint32_t s = 0;
             return QAX_GetCompareStatus(kDevice, 2, &s);
         },
         -1, status + "Input Parameter error", api, 0x100500},
        {"status without an output", linked, [] { return QAX_GetCompareStatus(kDevice, 1, nullptr); }, -1,
         status + "Input Parameter error", api, 0x100500},
        {"status axis 33", none,
         [] {
             std::uint32_t s = 0;
             return QAX_GetCompareStatus(33, 1, &s);
         },
         -1, status + "Input Parameter error", api, 0x100500},
        {"status axis not configured", none,
         [] {
             std::uint32_t s = 0;
             return QAX_GetCompareStatus(6, 1, &s);
         },
         -2, status + "AxisNo Parameter error", api, 0x100500},
        {"status of an unlinked device", none,
         [] {
             std::uint32_t s = 0;
             return QAX_GetCompareStatus(kDevice, 1, &s);
         },
         -3, "CMD=0x10280001, FUN=0x1004000f, Axis is not linked master axis", check, 0x100409},
        {"status while a compare command runs",
         [] {
             link_device(kDeviceIndex, 1, 3);
             FakeComm::current().set_register(kStatusBase + kBlock * 3, 1u << 22);
         },
         [] {
             std::uint32_t s = 0;
             return QAX_GetCompareStatus(kDevice, 1, &s);
         },
         -3, "CMD=0x10280001, FUN=0x1004000f, Cmd run conflict", check, 0x10040d},
        // Start.
        {"start axis 0", none, [] { return QAX_StartCompare(0); }, -1, start + "Input Parameter error", api, 0x100500},
        {"start axis not configured", none, [] { return QAX_StartCompare(6); }, -2, start + "AxisNo Parameter error",
         api, 0x100500},
        {"start a type 3 table without positions", [] { link_device(kDeviceIndex, 1, 10); },
         [] { return QAX_StartCompare(kDevice); }, 1, "CMD=0x10260001, LIMITFUN=0xc, Controller No Support", check,
         0x100402},
        {"start a type 4 table without positions", [] { link_device(kDeviceIndex, 1, 11); },
         [] { return QAX_StartCompare(kDevice); }, 1, "CMD=0x10260001, LIMITFUN=0xc, Controller No Support", check,
         0x100402},
        {"start without a table", [] { link_device(kDeviceIndex, 1, 0); }, [] { return QAX_StartCompare(kDevice); },
         -3, "CMD=0x10260001, FUN=0x10040047, Cmd run conflict", check, 0x10040d},
        {"start type 1 on a group source", [] { link_device(kDeviceIndex, 3, 1); },
         [] { return QAX_StartCompare(kDevice); }, -3, "CMD=0x10260001, FUN=0x10040047, Cmd run conflict", check,
         0x10040d},
        {"start type 2 on a group source", [] { link_device(kDeviceIndex, 3, 2); },
         [] { return QAX_StartCompare(kDevice); }, -3, "CMD=0x10260001, FUN=0x10040047, Cmd run conflict", check,
         0x10040d},
        {"start unlinked", none, [] { return QAX_StartCompare(kDevice); }, -3,
         "CMD=0x10260001, FUN=0x10040047, Axis is not linked master axis", check, 0x100409},
        {"start in a channel",
         [] {
             link_device(kDeviceIndex, 1, 3);
             g_AxisRecords[kDeviceIndex].inChannel.store(1);
         },
         [] { return QAX_StartCompare(kDevice); }, -3, "CMD=0x10260001, FUN=0x10040047, Axis is being used in channel",
         check, 0x100404},
        {"start a motion axis", [] { link_device(0, 1, 3); }, [] { return QAX_StartCompare(1); }, 1,
         "CMD=0x10260001, FUN=0x10040047, Not supported axis type", check, 0x100402},
        // Stop.
        {"stop axis 33", none, [] { return QAX_StopCompare(33); }, -1, stop + "Input Parameter error", api, 0x100500},
        {"stop axis not configured", none, [] { return QAX_StopCompare(6); }, -2, stop + "AxisNo Parameter error", api,
         0x100500},
        {"stop unlinked", none, [] { return QAX_StopCompare(kDevice); }, -3,
         "CMD=0x10270001, FUN=0x10040013, Axis is not linked master axis", api, 0x100409},
        {"stop while the start is sent", [] {
             link_device(kDeviceIndex, 1, 3);
             g_AxisRecords[kDeviceIndex].SetSending(kFlagStartCompare, true);
         },
         [] { return QAX_StopCompare(kDevice); }, -3, "CMD=0x10270001, FUN=0x10040013, Cmd run conflict", check,
         0x10040d},
    };
}

TEST_F(CompareTest, EveryRefusalLogsOneLineAndSendsNothing) {
    for (const RefusalCase &c : RefusalCases()) {
        SCOPED_TRACE(c.name);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        for (std::uint32_t a = 0; a < 6; ++a) {
            comm().set_register(kStateBase + kBlock * a, 0xF01);
            status(a, 0);
        }
        c.prepare();
        const McCompareLinkTable links = g_CompareLinkTable;
        clear_requests();
        JournalMark mark;
        EXPECT_EQ(c.call(), c.result);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u) << only_text(mark);
        EXPECT_EQ(lines[0].text, c.text);
        EXPECT_EQ(lines[0].module, c.module);
        EXPECT_EQ(lines[0].code, c.code);
        EXPECT_EQ(lines[0].level, 2);
        EXPECT_TRUE(sync_requests().empty());
        EXPECT_TRUE(async_requests().empty());
        EXPECT_EQ(std::memcmp(&links, &g_CompareLinkTable, sizeof links), 0);
        EXPECT_TRUE(stored().empty());
    }
}

TEST_F(CompareTest, WithoutWritePermissionEveryCallRefusesFirst) {
    g_bWritePermission.store(0);
    std::uint32_t s = 0;
    auto t = Table3();
    int axes[] = {1};
    const std::pair<std::function<int()>, std::uint32_t> calls[] = {
        {[&] { return QAX_SetCompareInfo(0, 0, nullptr); }, 0x10360001},
        {[&] { return QAX_SetCompareInfo(1, 1, axes); }, 0x10360001},
        {[&] { return QAX_LinkCompareOut(0, 0, 1); }, 0x10210001},
        {[&] { return QAX_SetCompare(0, 4, &t, 84); }, 0x10220001},
        {[&] { return QAX_GetCompareStatus(kDevice, 2, &s); }, 0x10280001},
        {[&] { return QAX_StartCompare(0); }, 0x10260001},
        {[&] { return QAX_StopCompare(0); }, 0x10270001},
    };
    for (const auto &[call, command] : calls) {
        SCOPED_TRACE(command);
        JournalMark mark;
        EXPECT_EQ(call(), 1);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        char text[128];
        std::snprintf(text, sizeof text, "CMD=0x%x, LIMITFUN=0xd, Controller No WritePermission", command);
        EXPECT_EQ(lines[0].text, text);
        EXPECT_EQ(lines[0].module, 4100);
        EXPECT_EQ(lines[0].code, 0x100402);
    }
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 0u) << "no table kept";
    EXPECT_TRUE(sync_requests().empty());
}

// ---------------------------------------------------------------- table fields

struct FieldCase {
    const char *name;
    int type;
    std::function<void(std::vector<std::uint8_t> &)> change;  // on a valid record's bytes
    bool accepted;
};

template <typename R>
std::vector<std::uint8_t> BytesOf(const R &record) {
    std::vector<std::uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

std::vector<std::uint8_t> ValidRecord(int type) {
    switch (type) {
    case 1: return BytesOf(Table1());
    case 2: return BytesOf(Table2());
    case 3: return BytesOf(Table3());
    default: return BytesOf(Table4());
    }
}

// Writes a field of the record's bytes.
template <typename T>
std::function<void(std::vector<std::uint8_t> &)> Put(std::size_t offset, T value) {
    return [offset, value](std::vector<std::uint8_t> &b) { std::memcpy(b.data() + offset, &value, sizeof value); };
}

std::vector<FieldCase> FieldCases() {
    const double big = 1e300;
    const double beyond = 9.3e13;  // its count is past the 64-bit range
    return {
        {"type 1 switchA 2", 1, Put<std::uint32_t>(0, 2), false},
        {"type 1 switchB 2", 1, Put<std::uint32_t>(4, 2), false},
        {"type 1 word16 65536", 1, Put<std::uint32_t>(8, 65536), false},
        {"type 1 word16 0", 1, Put<std::uint32_t>(8, 0), true},
        {"type 2 switchC 2", 2, Put<std::uint32_t>(8, 2), false},
        {"type 2 word16 65536", 2, Put<std::uint32_t>(12, 65536), false},
        {"type 2 word12 4095", 2, Put<std::uint32_t>(24, 4095), true},
        {"type 2 word12 4096", 2, Put<std::uint32_t>(24, 4096), false},
        {"type 2 intA 0", 2, Put<std::int32_t>(28, 0), true},
        {"type 2 intA -1", 2, Put<std::int32_t>(28, -1), false},
        {"type 2 position NaN", 2, Put<double>(16, kNaN), false},
        {"type 2 position inf", 2, Put<double>(16, -kInf), false},
        {"type 2 position 1e300", 2, Put<double>(16, big), false},
        {"type 2 position beyond the count range", 2, Put<double>(16, beyond), false},
        {"type 3 switchA 2", 3, Put<std::uint32_t>(0, 2), false},
        {"type 3 intA -1", 3, Put<std::int32_t>(12, -1), false},
        {"type 3 position NaN", 3, Put<double>(16, kNaN), false},
        {"type 3 sixth position inf", 3, Put<double>(64, kInf), false},
        {"type 3 sixth position inf without positions",
         3,
         [](std::vector<std::uint8_t> &b) {
             Put<double>(64, kInf)(b);
             Put<std::uint32_t>(72, 1)(b);
         },
         true},
        {"type 3 position NaN without positions",
         3,
         [](std::vector<std::uint8_t> &b) {
             Put<double>(16, kNaN)(b);
             Put<std::uint32_t>(72, 1)(b);
         },
         false},
        {"type 3 noPositions 2", 3, Put<std::uint32_t>(72, 2), false},
        {"type 3 word16 65536", 3, Put<std::uint32_t>(76, 65536), false},
        {"type 3 intB -1", 3, Put<std::int32_t>(80, -1), false},
        {"type 3 intB max", 3, Put<std::int32_t>(80, 2147483647), true},
        {"type 4 switchB 2", 4, Put<std::uint32_t>(4, 2), false},
        {"type 4 intA -1", 4, Put<std::int32_t>(8, -1), false},
        {"type 4 first position NaN", 4, Put<double>(12, kNaN), false},
        {"type 4 noPositions 2", 4, Put<std::uint32_t>(60, 2), false},
        {"type 4 word16 65536", 4, Put<std::uint32_t>(64, 65536), false},
        {"type 4 word16b 65535", 4, Put<std::uint32_t>(68, 65535), true},
        {"type 4 word16b 65536", 4, Put<std::uint32_t>(68, 65536), false},
        {"type 4 intB -1", 4, Put<std::int32_t>(72, -1), false},
    };
}

TEST_F(CompareTest, EachTableFieldIsCheckedAtAndBeyondItsLimit) {
    for (const FieldCase &c : FieldCases()) {
        SCOPED_TRACE(c.name);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        link_device(kDeviceIndex, 1, 0);
        std::vector<std::uint8_t> bytes = ValidRecord(c.type);
        c.change(bytes);
        clear_requests();
        JournalMark mark;
        const int r = QAX_SetCompare(kDevice, c.type, bytes.data(), static_cast<int>(bytes.size()));
        if (c.accepted) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(sync_requests().size(), 1u);
            EXPECT_NE(g_AxisRecords[kDeviceIndex].linkState.load(), 0u);
            continue;
        }
        EXPECT_EQ(r, -1);
        EXPECT_EQ(only_text(mark), "CMD=0x0, FUN=0x10040049, Input Parameter error");
        EXPECT_TRUE(sync_requests().empty());
        EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 0u) << "an invalid table keeps no type";
    }
}

TEST_F(CompareTest, TheEncoderTakesRecordsAtAnyAddress) {
    // A node buffer need not align the record: the encoder copies it.
    std::vector<std::uint8_t> buffer(1 + sizeof(McCompareRecord2));
    auto t = Table2();
    std::memcpy(buffer.data() + 1, &t, sizeof t);
    McImmCmdBlock block{};
    ASSERT_EQ(McEncodeCompareNodes(kDeviceIndex, 2, buffer.data() + 1, sizeof t, &block), 0);
    EXPECT_EQ(block.command, 0x10230001u);
    EXPECT_EQ(block.requestLength, 52u);
    EXPECT_EQ(block.replyCapacity, 512u);
    RequestBytes request(block.request, block.request + block.requestLength);
    ExpectFields(request, {U(1), U(0), U(1), U(7), U(4095), L(250000), I(3)});
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 2u);
    // An index outside the records is refused, not written.
    EXPECT_EQ(McEncodeCompareNodes(32, 2, &t, sizeof t, &block), -1);
}

// ---------------------------------------------------------------- compare type

TEST_F(CompareTest, ATableOfAnotherTypeWaitsForTheStop) {
    link_device(kDeviceIndex, 1, 0);
    auto t1 = Table1();
    auto t2 = Table2();
    ASSERT_EQ(QAX_SetCompare(kDevice, 2, &t2, sizeof t2), 0);
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 2u);
    ASSERT_EQ(QAX_SetCompare(kDevice, 2, &t2, sizeof t2), 0) << "the same type again";

    clear_requests();
    JournalMark conflict;
    EXPECT_EQ(QAX_SetCompare(kDevice, 1, &t1, sizeof t1), -3);
    EXPECT_EQ(only_text(conflict), "CMD=0x10220001, FUN=0x10040049, Cmd run conflict");
    JournalMark unknown;
    EXPECT_EQ(QAX_SetCompare(kDevice, 5, &t1, sizeof t1), -3) << "type 5 with a type kept";
    auto lines = unknown.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "CmpType=0x5, FUN=0x10040049, CmpNodeType no support");
    EXPECT_EQ(lines[1].text, "CMD=0x0, FUN=0x10040049, Cmd run conflict");
    EXPECT_TRUE(sync_requests().empty());
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 2u);

    ASSERT_EQ(QAX_StopCompare(kDevice), 0);
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 0u);
    EXPECT_EQ(QAX_SetCompare(kDevice, 1, &t1, sizeof t1), 0);
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 1u);
}

TEST_F(CompareTest, TheTypeIsKeptBeforeTheLaterStepsRefuseOrFail) {
    struct Case {
        const char *name;
        std::function<void()> prepare;
        int result;
    };
    const Case cases[] = {
        {"not linked", [] { g_AxisRecords[kDeviceIndex].linkA.store(0); }, -3},
        {"board refuses", [this] { set_board_result(0x10240001, 77); }, -6},
        {"transport fails", [] { g_sync_transport_result = 9; }, -7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        link_device(kDeviceIndex, 1, 0);
        c.prepare();
        auto t = Table3();
        t.noPositions = 1;
        EXPECT_EQ(QAX_SetCompare(kDevice, 3, &t, sizeof t), c.result);
        EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 10u);
        set_board_result(0x10240001, 0);
        g_sync_transport_result = 0;
    }
    // A type 3 table without positions cannot start.
    g_AxisRecords[kDeviceIndex].linkA.store(1);
    clear_requests();
    EXPECT_EQ(QAX_StartCompare(kDevice), 1);
    EXPECT_TRUE(sync_requests().empty());
}

TEST_F(CompareTest, FailedTableSendsNameTheFirstTablesCommandWord) {
    link_device(kDeviceIndex, 1, 0);
    auto t = Table4();
    set_board_result(0x10250001, 4242);
    JournalMark board;
    EXPECT_EQ(QAX_SetCompare(kDevice, 4, &t, sizeof t), -6);
    auto lines = board.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "CMD=0x10220001, FUN=0x10050016, MCK return error:4242");
    EXPECT_EQ(lines[0].code, 4242);
    set_board_result(0x10250001, 0);
    g_sync_transport_result = 5;
    JournalMark transport;
    EXPECT_EQ(QAX_SetCompare(kDevice, 4, &t, sizeof t), -7);
    EXPECT_EQ(only_text(transport), "CMD=0x10220001, FUN=0x10050016, WDF SyncImmCmd return error:5");
}

// ---------------------------------------------------------------- source and link records

TEST_F(CompareTest, TheSourceIsStoredInTheHostTableAndTheServer) {
    struct Case {
        const char *name;
        int cmp;
        std::vector<int> axes;
        std::uint32_t stored;
    };
    const Case cases[] = {
        {"one axis: its index", 2, {3}, 2},
        {"group 3 (axes 1, 2): 32 + 2", 4, {1, 2}, 34},
        {"group 1 given as 3, 2: 32 + 0", 32, {3, 2}, 32},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard guard(g_stored_lock);
            g_stored.clear();
        }
        ASSERT_EQ(QAX_SetCompareInfo(c.cmp, static_cast<int>(c.axes.size()), c.axes.data()), 0);
        EXPECT_EQ(g_CompareLinkTable.source[c.cmp - 1], c.stored);
        auto s = stored();
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0].id, 1025);
        EXPECT_EQ(s[0].share, 8);
        EXPECT_EQ(s[0].timeout, 0);
        ASSERT_EQ(s[0].bytes.size(), 128u);
        EXPECT_EQ(std::memcmp(s[0].bytes.data(), &g_CompareLinkTable, 128), 0);
    }
    EXPECT_EQ(g_CompareLinkTable.source[0], 1u) << "other entries as loaded";
    EXPECT_EQ(g_CompareLinkTable.source[4], 60u);
}

TEST_F(CompareTest, AFailedStoreIsNotReportedAndABoardRefusalChangesNothing) {
    g_store_result = 0x1304;
    int axes[] = {3};
    EXPECT_EQ(QAX_SetCompareInfo(2, 1, axes), 0);
    EXPECT_EQ(g_CompareLinkTable.source[1], 2u);

    {
        std::lock_guard guard(g_stored_lock);
        g_stored.clear();
    }
    set_board_result(0x10360001, 31);
    JournalMark mark;
    int group[] = {1, 2};
    EXPECT_EQ(QAX_SetCompareInfo(2, 2, group), -6);
    EXPECT_EQ(only_text(mark), "CMD=0x10360001, FUN=0x10050095, MCK return error:31");
    EXPECT_EQ(g_CompareLinkTable.source[1], 2u);
    EXPECT_TRUE(stored().empty());
}

TEST_F(CompareTest, LinkRecordsTheOutputAndAGroupSourcesLink) {
    struct Case {
        const char *name;
        int cmp;
        std::uint8_t enable;
        std::uint32_t linkA;
        int groupPosition;  // -1: no group entry changes
        std::uint16_t flag;
    };
    const Case cases[] = {
        {"axis source", 1, 1, 1, -1, 0},
        {"axis source unlinked", 1, 0, 0, -1, 0},
        {"group 3 source", 3, 1, 3, 2, 1},
        {"group 3 source unlinked", 3, 0, 0, 2, 0},
        {"group 3 source, any other byte unlinks", 3, 2, 0, 2, 0},
        {"source 60 names no group", 5, 1, 5, -1, 0},
        {"no source", 7, 1, 7, -1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_AxisRecords[kDeviceIndex].linkA.store(0);
        for (McAxesGroupEntry &e : g_AxesGroupTable.entries) e.compareLinked = 9, e.compareAxisIndex = 99;
        const McAxesGroupTable before = g_AxesGroupTable;
        ASSERT_EQ(QAX_LinkCompareOut(c.cmp, kDevice, c.enable), 0);
        EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkA.load(), c.linkA);
        for (int p = 0; p < 16; ++p) {
            const McAxesGroupEntry &e = g_AxesGroupTable.entries[p];
            if (p == c.groupPosition) {
                EXPECT_EQ(e.compareLinked, c.flag);
                EXPECT_EQ(e.compareAxisIndex, kDeviceIndex);
            } else {
                EXPECT_EQ(std::memcmp(&e, &before.entries[p], sizeof e), 0) << p;
            }
        }
    }
    EXPECT_TRUE(stored().empty()) << "the group table is not stored";
}

TEST_F(CompareTest, ARefusedOrFailedLinkRecordsNothing) {
    set_board_result(0x10210001, 12);
    EXPECT_EQ(QAX_LinkCompareOut(3, kDevice, 1), -6);
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkA.load(), 0u);
    EXPECT_EQ(g_AxesGroupTable.entries[2].compareLinked, 0u);
    set_board_result(0x10210001, 0);
    g_sync_transport_result = 3;
    EXPECT_EQ(QAX_LinkCompareOut(3, kDevice, 1), -7);
    EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkA.load(), 0u);
}

// ---------------------------------------------------------------- start, stop, status

TEST_F(CompareTest, TheStartFlagIsSetOnlyWhileTheStartIsSent) {
    for (int transport : {0, 6}) {
        SCOPED_TRACE(transport);
        link_device(kDeviceIndex, 1, 3);
        g_start_flag_seen.clear();
        g_sync_transport_result = transport;
        EXPECT_EQ(QAX_StartCompare(kDevice), transport == 0 ? 0 : -7);
        ASSERT_EQ(g_start_flag_seen.size(), 1u);
        EXPECT_TRUE(g_start_flag_seen[0]);
        EXPECT_FALSE(g_AxisRecords[kDeviceIndex].Sending(kFlagStartCompare));
        EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 3u) << "a start keeps the type";
    }
}

TEST_F(CompareTest, TheStopClearsTheTypeWhateverTheOutcome) {
    struct Case {
        const char *name;
        int board;
        int transport;
        int result;
    };
    const Case cases[] = {{"done", 0, 0, 0}, {"board refuses", 44, 0, -6}, {"transport fails", 0, 2, -7}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        link_device(kDeviceIndex, 1, 4);
        set_board_result(0x10270001, c.board);
        g_sync_transport_result = c.transport;
        EXPECT_EQ(QAX_StopCompare(kDevice), c.result);
        EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkState.load(), 0u);
        EXPECT_EQ(g_AxisRecords[kDeviceIndex].linkA.load(), 1u) << "the link stays";
    }
}

TEST_F(CompareTest, StatusIsReplyWordFiveWrittenOnlyOnSuccess) {
    link_device(kDeviceIndex, 1, 3);
    set_reply({0x1234abcd});
    std::uint32_t s = 0;
    ASSERT_EQ(QAX_GetCompareStatus(kDevice, 1, &s), 0);
    EXPECT_EQ(s, 0x1234abcdu);
    set_board_result(0x10280001, 8);
    s = 7;
    EXPECT_EQ(QAX_GetCompareStatus(kDevice, 1, &s), -6);
    EXPECT_EQ(s, 7u);
    // Linked through link B alone is linked for the status.
    g_AxisRecords[kDeviceIndex].linkA.store(0);
    g_AxisRecords[kDeviceIndex].linkB.store(2);
    set_board_result(0x10280001, 0);
    EXPECT_EQ(QAX_GetCompareStatus(kDevice, 1, &s), 0);
}

TEST_F(CompareTest, StatusPausesTwoCyclesWhileAChannelRuns) {
    link_device(kDeviceIndex, 1, 3);
    struct Case {
        double cycle_ms;
        bool running;
        std::uint32_t sleeps;
        std::uint64_t slept;
    };
    const Case cases[] = {{1.0, false, 0, 0}, {1.0, true, 1, 2}, {2.7, true, 1, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cycle_ms);
        g_CyclePeriodMs.store(c.cycle_ms);
        g_Channels[1].runFlag.store(c.running ? 1 : 0);
        const std::uint32_t sleeps = clock().sleep_count();
        const std::uint64_t slept = clock().slept_ms();
        std::uint32_t s = 0;
        ASSERT_EQ(QAX_GetCompareStatus(kDevice, 1, &s), 0);
        EXPECT_EQ(clock().sleep_count() - sleeps, c.sleeps);
        EXPECT_EQ(clock().slept_ms() - slept, c.slept);
    }
}


// ---------------------------------------------------------------- end to end

constexpr char kCompareMachine[] = R"(# two motion axes, one compare device
card name="Compare Card" model=7422 serial=C-1 firmware=1.0.0.0
module name=FPGA version=1.4.0.12
axis number=1 index=0 vendor=1511 product=0x4021001
axis number=2 index=1 vendor=1511 product=0x4021001
axis number=3 index=2 vendor=1511 product=0x401c001
group number=1 axes=1,2
compare output=1 axis=1
compare output=2 group=1
)";

constexpr std::uint16_t kStackDevice = 3;
constexpr std::uint32_t kStackDeviceIndex = 2;

// The whole stack on the virtual board with its motion and compare models,
// as the board program installs them; sleeps of the test's own thread run
// the board's cycles (1 ms each).
class CompareStackTest : public StackTest {
protected:
    std::string cardhost_config() const override { return kCompareMachine; }
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        motion_ = std::make_unique<vboard::MotionModel>(board());
        compare_ = std::make_unique<vboard::CompareModel>(board());
        compare_->set_group_axes(1, {0, 1});
        compare_->set_source(1, 0, 0);
        compare_->set_source(2, 1, 0);
        run_board_on_sleeps();
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        compare_.reset();  // before the board goes
        motion_.reset();
        StackTest::TearDown();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
    }
    vboard::CompareModel &compare() { return *compare_; }

    bool wait_idle(std::uint32_t index) {
        for (int i = 0; i < 400 && motion_->moving(index); ++i) platform::sleep_ms(5);
        return !motion_->moving(index);
    }
    // Moves axis `axis` (index `index`) to `position` and waits until it is there.
    void move_to(std::uint16_t axis, std::uint32_t index, double position) {
        ASSERT_EQ(QAX_StartPMove(axis, position, 1000.0, 1), 0);
        ASSERT_TRUE(wait_idle(index));
        platform::sleep_ms(1);  // one more cycle: the compare sees the end position
    }
    static std::uint32_t compare_status() {
        std::uint32_t s = 0;
        EXPECT_EQ(QAX_GetCompareStatus(kStackDevice, 1, &s), 0);
        return s;
    }

private:
    std::unique_ptr<vboard::MotionModel> motion_;
    std::unique_ptr<vboard::CompareModel> compare_;
};

std::uint32_t Passed(std::uint32_t status) { return status & vboard::kComparePassedMask; }

TEST_F(CompareStackTest, ATableFiresAsItsSourceAxisPassesThePositions) {
    ASSERT_EQ(QAX_Init(), 0);
    ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
    ASSERT_EQ(QAX_SRVONAxis(kStackDevice, 1), 0);
    int source[] = {1};
    ASSERT_EQ(QAX_SetCompareInfo(4, 1, source), 0);
    EXPECT_EQ(compare().source(4), (std::pair<std::uint32_t, std::uint32_t>{1, 0}));
    ASSERT_EQ(QAX_LinkCompareOut(4, kStackDevice, 1), 0);
    EXPECT_EQ(compare().linked_output(kStackDeviceIndex), 4u);

    McCompareRecord3 table{1, 0, 1, 2, 0.5, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}, 0, 9, 11};
    ASSERT_EQ(QAX_SetCompare(kStackDevice, 3, &table, sizeof table), 0);
    EXPECT_EQ(compare().table(kStackDeviceIndex).positions,
              (std::vector<std::int64_t>{50000, 100000, 200000, 300000, 400000, 500000, 600000}));
    ASSERT_EQ(QAX_StartCompare(kStackDevice), 0);
    JournalMark taking_over;
    EXPECT_EQ(QAX_StopCompare(kStackDevice), -3) << "the board takes the start over until its next cycle";
    EXPECT_EQ(taking_over.find("Cmd run conflict").size(), 1u);
    platform::sleep_ms(1);
    std::uint32_t s = compare_status();
    EXPECT_EQ(Passed(s), 0u);
    EXPECT_NE(s & vboard::kCompareRunning, 0u);
    EXPECT_EQ(s >> vboard::kCompareTypeShift, 3u);

    move_to(1, 0, 3.5);
    s = compare_status();
    EXPECT_EQ(Passed(s), 4u) << "0.5, 1, 2 and 3 passed";
    EXPECT_EQ(s & vboard::kCompareDone, 0u);
    move_to(1, 0, 10.0);
    s = compare_status();
    EXPECT_EQ(Passed(s), 7u);
    EXPECT_NE(s & vboard::kCompareDone, 0u);

    ASSERT_EQ(QAX_StopCompare(kStackDevice), 0);
    platform::sleep_ms(1);
    EXPECT_EQ(compare_status() & vboard::kCompareRunning, 0u);
    McCompareRecord1 other{1, 1, 3};
    EXPECT_EQ(QAX_SetCompare(kStackDevice, 1, &other, sizeof other), 0) << "the stop cleared the type";
    EXPECT_EQ(compare().table(kStackDeviceIndex).type, 1u);
}

TEST_F(CompareStackTest, AGroupSourceLinksTheGroupAndTheTableOutlivesTheProcess) {
    ASSERT_EQ(QAX_Init(), 0);
    EXPECT_EQ(g_CompareLinkTable.source[0], 0u) << "output 1 follows axis 1";
    EXPECT_EQ(g_CompareLinkTable.source[1], 32u) << "output 2 follows group 1";
    ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
    ASSERT_EQ(QAX_SRVONAxis(kStackDevice, 1), 0);

    int group[] = {2, 1};
    ASSERT_EQ(QAX_SetCompareInfo(5, 2, group), 0);
    EXPECT_EQ(g_CompareLinkTable.source[4], 32u);
    EXPECT_EQ(compare().source(5), (std::pair<std::uint32_t, std::uint32_t>{2, 0}));
    ASSERT_EQ(QAX_LinkCompareOut(5, kStackDevice, 1), 0);
    EXPECT_EQ(g_AxesGroupTable.entries[0].compareLinked, 1u);
    EXPECT_EQ(g_AxesGroupTable.entries[0].compareAxisIndex, kStackDeviceIndex);

    McCompareRecord1 direct{1, 0, 5};
    ASSERT_EQ(QAX_SetCompare(kStackDevice, 1, &direct, sizeof direct), 0);
    EXPECT_EQ(QAX_StartCompare(kStackDevice), -3) << "a type 1 table needs a single-axis source";
    ASSERT_EQ(QAX_StopCompare(kStackDevice), 0);

    // A group source compares its first axis's position.
    McCompareRecord4 table{0, 1, 5, {-0.5, -1.0, -1.5, 0.0, 0.0, 0.0}, 0, 12, 13, 14};
    platform::sleep_ms(1);
    ASSERT_EQ(QAX_SetCompare(kStackDevice, 4, &table, sizeof table), 0);
    ASSERT_EQ(QAX_StartCompare(kStackDevice), 0);
    platform::sleep_ms(1);
    move_to(1, 0, -1.2);
    EXPECT_EQ(Passed(compare_status()), 2u) << "-0.5 and -1 passed going down";

    // The table stored in the server is what the next process loads.
    platform::sleep_ms(1);
    ASSERT_EQ(QAX_StopCompare(kStackDevice), 0);
    ASSERT_EQ(QAX_Exit(), 0);
    g_CompareLinkTable = {};
    ASSERT_EQ(QAX_Init(), 0);
    EXPECT_EQ(g_CompareLinkTable.source[4], 32u);
    EXPECT_EQ(g_CompareLinkTable.source[1], 32u);
    EXPECT_EQ(g_AxisRecords[kStackDeviceIndex].linkA.load(), 0u) << "links are the board's, read at start-up";
}

}  // namespace
}  // namespace motion_test
