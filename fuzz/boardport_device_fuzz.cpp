// The board access library against a device whose every reply comes from
// the input: well-formed replies with values of the input (register values,
// mailbox packets, transfer blocks, command replies), failures, wrong byte
// counts, torn replies and hang-ups. The input's first part picks the calls.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "boardport.h"
#include "fuzz_env.h"
#include "platform/platform.h"

namespace {

constexpr std::uint32_t kMaxInput = 0x1800C;
constexpr std::uint32_t kBlockValues = 0xC000;
constexpr std::uint32_t kErrorGenFailure = 31;

bool is_read(std::uint32_t code) { return code == 0x222054 || code == 0x22205C || code == 0x222094; }
bool is_single(std::uint32_t code) { return is_read(code) || code == 0x222058 || code == 0x222060 || code == 0x222098; }
bool is_block(std::uint32_t code) {
    return code == 0x222064 || code == 0x222080 || code == 0x222084 || code == 0x222088;
}

void put_u32(std::vector<std::uint8_t> &out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The device: one script of reply choices for all requests of an input.
class ScriptedDevice {
public:
    explicit ScriptedDevice(const std::string &path) : listener_(platform::listen_stream(path)) {
        if (!listener_) std::abort();
        thread_ = std::thread([this] { serve(); });
    }
    void script(std::vector<std::uint8_t> bytes) {
        std::lock_guard lock(guard_);
        script_ = std::move(bytes);
        at_ = 0;
    }

private:
    void serve() {
        std::vector<std::uint8_t> input(kMaxInput);
        while (auto stream = listener_->accept()) {
            std::uint32_t header[3];
            while (stream->read(header, sizeof header, nullptr)) {
                const std::uint32_t length = std::min(header[1], kMaxInput);
                if (header[1] > kMaxInput || !stream->read(input.data(), length, nullptr)) break;
                std::vector<std::uint8_t> reply;
                bool hang_up = false;
                {
                    std::lock_guard lock(guard_);
                    qax_fuzz::Bytes in(script_.data() + at_, script_.size() - at_);
                    hang_up = !answer(in, header[0], input.data(), length, header[2], reply);
                    at_ = script_.size() - in.remaining();
                }
                if (!stream->write(reply.data(), static_cast<std::uint32_t>(reply.size()), nullptr) || hang_up) break;
            }
        }
    }

    // The reply to one request; false when the device hangs up after it.
    static bool answer(qax_fuzz::Bytes &in, std::uint32_t code, const std::uint8_t *input, std::uint32_t length,
                       std::uint32_t capacity, std::vector<std::uint8_t> &reply) {
        if (in.empty()) {  // nothing scripted: the request fails
            put_u32(reply, kErrorGenFailure);
            put_u32(reply, 0);
            return true;
        }
        const std::uint8_t mode = in.take<std::uint8_t>() % 8;
        std::vector<std::uint8_t> output = proper_output(in, code, input, length, capacity);
        if (mode == 4) {  // a failure, with a few bytes
            put_u32(reply, in.take<std::uint32_t>() | 1);
            const std::vector<std::uint8_t> extra = in.take_bytes(in.below(24));
            put_u32(reply, static_cast<std::uint32_t>(extra.size()));
            reply.insert(reply.end(), extra.begin(), extra.end());
            return true;
        }
        if (mode == 5) {  // a wrong count, with that many bytes
            const int delta = static_cast<int>(in.below(65)) - 32;
            output.resize(static_cast<std::size_t>(std::max<int>(0, static_cast<int>(output.size()) + delta)));
        }
        if (mode == 6) {  // a torn reply: some raw bytes, then the end
            reply = in.take_bytes(in.below(32));
            return false;
        }
        if (mode == 7) return false;  // hangs up without a word
        put_u32(reply, 0);
        put_u32(reply, static_cast<std::uint32_t>(output.size()));
        reply.insert(reply.end(), output.begin(), output.end());
        return true;
    }

    // What a working driver reports for the request, its values from the input.
    static std::vector<std::uint8_t> proper_output(qax_fuzz::Bytes &in, std::uint32_t code, const std::uint8_t *input,
                                                   std::uint32_t length, std::uint32_t capacity) {
        std::vector<std::uint8_t> output(input, input + length);
        if (is_single(code)) {
            output.resize(16);
            if (is_read(code)) {
                const std::uint64_t value = in.take<std::uint64_t>();
                std::memcpy(output.data() + 8, &value, sizeof value);
            }
        } else if (is_block(code)) {
            output.resize(kMaxInput);
            if (code == 0x222064 || code == 0x222084) {
                const std::vector<std::uint8_t> values = in.take_bytes(in.below(1025));
                std::copy(values.begin(), values.end(), output.begin() + kBlockValues);
            }
        } else if (code == 0x222048 || code == 0x22209C) {  // immediate command reply, driver version
            output = in.take_bytes(in.below(std::min<std::uint32_t>(capacity, 600) + 1));
            output.resize(code == 0x22209C ? 140 : std::min<std::uint32_t>(capacity, 512));
        } else if (code == 0x222050) {
            output.resize(16);
        }  // channel commands report their input length
        return output;
    }

    std::unique_ptr<platform::StreamListener> listener_;
    std::thread thread_;
    std::mutex guard_;
    std::vector<std::uint8_t> script_;
    std::size_t at_ = 0;
};

struct Board {
    Board() {
        qax_fuzz::quiet_stdout();
        const std::string &dir = qax_fuzz::run_dir();
        device = std::make_unique<ScriptedDevice>(dir + "/devices/" + platform::kBoardInterfaceClass + "/board0");
        local_file = dir + "/local.bin";
        received_file = dir + "/received.bin";
        std::ofstream(local_file, std::ios::binary) << std::string(1300, 'q');
        if (WDF_Init() != 0) std::abort();
    }
    std::unique_ptr<ScriptedDevice> device;
    std::string local_file;
    std::string received_file;
};

std::vector<std::uint8_t> area(std::size_t size) { return std::vector<std::uint8_t>(size, 0xEE); }

void call(qax_fuzz::Bytes &in, const Board &board) {
    const std::uint32_t which = in.below(17);
    const std::uint32_t index = in.below(0x3010);
    std::uint32_t returned = 0;
    switch (which) {
    case 0: { std::uint32_t v = 0; (void)WDF_ReadRegister32(index, &v); break; }
    case 1: { const std::uint32_t v = in.take<std::uint32_t>(); (void)WDF_WriteRegister32(index, &v); break; }
    case 2: { std::uint64_t v = 0; (void)WDF_ReadRegister64(index, &v); break; }
    case 3: {
        const int count = static_cast<int>(in.below(300)) - 2;
        std::vector<std::uint32_t> indices(static_cast<std::size_t>(std::max(count, 1)), index);
        std::vector<std::uint64_t> values(indices.size());
        if (in.take<std::uint8_t>() % 2) {
            (void)WDF_ReadMultiRegister32(indices.data(), reinterpret_cast<std::uint32_t *>(values.data()), count);
        } else {
            (void)WDF_ReadMultiRegister64(indices.data(), values.data(), count);
        }
        break;
    }
    case 4: {
        const std::vector<std::uint8_t> command = in.take_bytes(in.below(600));
        auto reply = area(in.below(700));
        (void)WDF_SyncImmediateCmd(command.data(), static_cast<std::uint32_t>(command.size()), reply.data(),
                                   static_cast<std::uint32_t>(reply.size()), &returned);
        break;
    }
    case 5: {
        const std::vector<std::uint8_t> command = in.take_bytes(in.below(600));
        auto reply = area(in.below(64));
        const auto channel = in.take<std::uint8_t>() % 2 ? WDF_ChannelCmd : WDF_Channel6Cmd;
        (void)channel(command.data(), static_cast<std::uint32_t>(command.size()), reply.data(),
                      static_cast<std::uint32_t>(reply.size()), &returned);
        break;
    }
    case 6: (void)WDF_SetParameter(0, in.take<std::uint64_t>()); break;
    case 7: {
        auto name = area(in.below(100));
        auto version = area(in.below(12));
        auto text = area(in.below(100));
        (void)WDF_GetDriverVersion(reinterpret_cast<char *>(name.data()), name.size(), version.data(), version.size(),
                                   reinterpret_cast<char *>(text.data()), text.size());
        break;
    }
    case 8: (void)WDF_Reset(static_cast<std::uint8_t>(in.below(12))); break;
    case 9: {
        const std::vector<std::uint8_t> command = in.take_bytes(in.below(540));
        (void)CAM_AsynImmediateCmdRequest(command.data(), static_cast<std::uint32_t>(command.size()), nullptr, 0,
                                          &returned);
        break;
    }
    case 10: {
        const std::vector<std::uint8_t> query = in.take_bytes(in.below(64));
        auto reply = area(in.below(1100));
        (void)CAM_AsynImmediateCmdGetResult(query.data(), static_cast<std::uint32_t>(query.size()), reply.data(),
                                            static_cast<std::uint32_t>(reply.size()), &returned);
        break;
    }
    case 11: (void)CAM_FtpOpen(); break;
    case 12: {
        const std::string name = in.take_text(80);
        switch (in.below(3)) {
        case 0: (void)CAM_FtpCd(name.c_str()); break;
        case 1: (void)CAM_FtpDelete(name.c_str()); break;
        default: (void)CAM_FtpMkdir(name.c_str());
        }
        break;
    }
    case 13:
    case 14: {
        // A few steps of one transfer, while they ask to be called again.
        std::uint32_t done = 0;
        std::uint32_t total = 0;
        for (int step = 0; step < 6; ++step) {
            const int result = which == 13 ? CAM_FtpRecv("board.bin", board.received_file.c_str(), &done, &total)
                                           : CAM_FtpSend(board.local_file.c_str(), "board.bin", &done, &total);
            if (result != 1) break;
        }
        break;
    }
    case 15: { std::uint32_t v = 0; (void)WDF_ReadRegister32(index, &v); (void)WDF_WriteRegister32(index, &v); break; }
    default: (void)CAM_FtpClose(); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Never destroyed: its device thread runs until the process ends.
    static Board &board = *new Board;
    // Every input starts from no transfer: the status read answers "not busy".
    std::vector<std::uint8_t> idle(9, 0);
    board.device->script(idle);
    (void)CAM_FtpOpen();

    qax_fuzz::Bytes in(data, size);
    // The calls and their arguments first, then the device's replies.
    const std::uint32_t calls = in.below(4) + 1;
    std::vector<std::uint8_t> picks = in.take_bytes(in.below(1024));
    board.device->script(in.take_bytes(in.remaining()));
    qax_fuzz::Bytes choice(picks.data(), picks.size());
    for (std::uint32_t i = 0; i < calls; ++i) call(choice, board);
    return 0;
}
