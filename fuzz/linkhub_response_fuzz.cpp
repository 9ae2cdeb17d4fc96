// The communication layer's handling of the server's response records: a
// server of this process answers each request with a record taken from the
// input (its id matched to the request or not, cut short and closed, or
// whole), while the input also picks which request is made and with what.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fuzz_env.h"
#include "linkhub.h"
#include "platform/platform.h"
#include "vboard/vboard.h"

namespace {

constexpr char kPipeName[] = "\\\\.\\Pipe\\CorvaneTq5Server";
constexpr std::uint32_t kRecord = 512;
constexpr std::uint8_t kMatchId = 1;   // answer with the request's id
constexpr std::uint8_t kCutShort = 2;  // send only the given bytes, then close

struct Answer {
    std::vector<std::uint8_t> bytes;
    std::uint8_t flags = 0;
};

// Answers every request with the next scripted answer (an empty record with
// the request's id when none is left).
class ScriptedServer {
public:
    ScriptedServer() : listener_(platform::listen_named_pipe(kPipeName)) {
        if (!listener_) std::abort();
        thread_ = std::thread([this] { serve(); });
    }
    void script(std::deque<Answer> answers) {
        std::lock_guard lock(guard_);
        answers_ = std::move(answers);
    }
    // Whether a connection was closed since the last call.
    bool take_closed() {
        std::lock_guard lock(guard_);
        const bool closed = closed_;
        closed_ = false;
        return closed;
    }

private:
    void serve() {
        while (auto stream = listener_->accept()) {
            std::uint8_t request[kRecord];
            bool served = false;  // the client's probes for the pipe send nothing
            while (stream->read(request, kRecord, nullptr)) {
                served = true;
                Answer answer;
                {
                    std::lock_guard lock(guard_);
                    if (!answers_.empty()) {
                        answer = std::move(answers_.front());
                        answers_.pop_front();
                    } else {
                        answer.flags = kMatchId;
                    }
                }
                std::uint8_t response[kRecord] = {};
                std::copy_n(answer.bytes.begin(), std::min<std::size_t>(answer.bytes.size(), kRecord), response);
                if (answer.flags & kMatchId) std::memcpy(response, request, 4);
                if (answer.flags & kCutShort) {
                    stream->write(response, static_cast<std::uint32_t>(answer.bytes.size() % kRecord), nullptr);
                    break;
                }
                if (!stream->write(response, kRecord, nullptr)) break;
            }
            std::lock_guard lock(guard_);
            closed_ = closed_ || served;
        }
    }

    std::unique_ptr<platform::StreamListener> listener_;
    std::thread thread_;
    std::mutex guard_;
    std::deque<Answer> answers_;
    bool closed_ = false;
};

struct Stack {
    Stack() {
        qax_fuzz::quiet_stdout();
        options.record_requests = false;
        board = std::make_unique<vboard::VirtualBoard>(options);
        const std::string devices = qax_fuzz::run_dir() + "/devices/" + platform::kBoardInterfaceClass + "/board0";
        if (!board->serve(devices) || !qax_fuzz::register_running_service()) std::abort();
        server = std::make_unique<ScriptedServer>();
        if (COMM_Init() != 0) std::abort();
    }
    vboard::Options options;
    std::unique_ptr<vboard::VirtualBoard> board;
    std::unique_ptr<ScriptedServer> server;
};

// An output area of exactly `size` bytes, so that a write beyond it is seen.
std::vector<std::uint8_t> area(std::size_t size) { return std::vector<std::uint8_t>(size, 0xEE); }

void call(qax_fuzz::Bytes &in) {
    const std::uint32_t which = in.below(22);
    const int number = in.take<std::int32_t>();
    switch (which) {
    case 0: (void)COMM_RegisterPermission(number); break;
    case 1: (void)COMM_UnregisterPermission(); break;
    case 2: { auto a = area(4); (void)COMM_GetPermission(reinterpret_cast<int *>(a.data())); break; }
    case 3: { auto a = area(72); (void)COMM_GetServerInfo(a.data()); break; }
    case 4: { auto a = area(4); (void)COMM_ReadCardStatus(reinterpret_cast<int *>(a.data())); break; }
    case 5: { auto a = area(4); (void)COMM_ReadCardECLRStatus(reinterpret_cast<int *>(a.data())); break; }
    case 6: (void)(number % 2 ? COMM_StartCardECLR() : COMM_StopCardECLR()); break;
    case 7: (void)(number % 2 ? COMM_UpdateCard() : COMM_LoadCardConfig()); break;
    case 8: { auto a = area(348); (void)COMM_ReadCardInfo(a.data()); break; }
    case 9: { auto a = area(4); (void)COMM_ReadCardModuleCount(reinterpret_cast<int *>(a.data())); break; }
    case 10: { auto a = area(44); (void)COMM_ReadCardModuleInfo(number, a.data()); break; }
    case 11: { auto a = area(4); (void)COMM_ReadCardLogCount(reinterpret_cast<int *>(a.data())); break; }
    case 12: { auto a = area(124); (void)(number % 2 ? COMM_ReadCardLogInfo(number, a.data()) : COMM_ReadCardLastLogInfo(a.data())); break; }
    case 13: { auto a = area(4); (void)COMM_ReadECATDeviceCount(reinterpret_cast<int *>(a.data())); break; }
    case 14: { auto a = area(40); (void)COMM_ReadECATDeviceInfo(number, a.data()); break; }
    case 15: {
        const std::vector<std::uint8_t> data = in.take_bytes(in.below(400));
        const int size = static_cast<int>(in.below(420)) - 10;
        (void)COMM_SetVariable(number, 8, 0, data.empty() ? nullptr : data.data(),
                               std::min(size, static_cast<int>(data.size())));
        break;
    }
    case 16: {
        const int length = static_cast<int>(in.below(600)) - 10;
        auto a = area(static_cast<std::size_t>(std::max(length, 0)) + 1);
        (void)COMM_GetVariable(number, a.data(), length);
        break;
    }
    case 17: { auto a = area(4); (void)COMM_IsExistVariable(number, reinterpret_cast<int *>(a.data())); break; }
    case 18: (void)COMM_DeleteVariable(number); break;
    default: {
        const std::string one = in.take_text(200);
        const std::string two = in.take_text(200);
        const std::string three = in.take_text(200);
        switch (which) {
        case 19: (void)FtpSend(one.c_str(), two.c_str(), three.c_str(), number); break;
        case 20: (void)FtpRecv(one.c_str(), two.c_str(), three.c_str(), number); break;
        default: (void)(number % 2 ? FtpDelete(one.c_str(), two.c_str()) : FtpMkdir(one.c_str(), two.c_str()));
        }
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Never destroyed: its threads run until the process ends.
    static Stack &stack = *new Stack;
    // A connection the last input closed is opened afresh, as a new start would.
    if (stack.server->take_closed()) {
        COMM_Exit();
        if (COMM_Init() != 0) std::abort();
        stack.server->take_closed();
    }
    qax_fuzz::Bytes in(data, size);
    // First the answers, then the calls that meet them.
    std::deque<Answer> answers;
    const std::uint32_t count = in.below(4) + 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        Answer answer;
        answer.flags = in.take<std::uint8_t>();
        answer.bytes = in.take_bytes(in.below(kRecord + 1));
        answers.push_back(std::move(answer));
    }
    stack.server->script(std::move(answers));
    for (std::uint32_t i = 0; i < count && !in.empty(); ++i) call(in);
    return 0;
}
