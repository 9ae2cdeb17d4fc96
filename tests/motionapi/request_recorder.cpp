#include "request_recorder.h"

#include <cstring>

namespace motion_test {
namespace {
RequestRecorder *g_recorder = nullptr;
}  // namespace

RequestRecorder::RequestRecorder() : previous_(&McComm()) {
    fake_ = *previous_;
    mine_ = fake_;
    mine_.ChannelCmd = RecordChannel;
    mine_.SyncImmediateCmd = RecordSync;
    g_recorder = this;
    McSetCommCalls(&mine_);
}

RequestRecorder::~RequestRecorder() {
    McSetCommCalls(previous_);
    g_recorder = nullptr;
}

int RequestRecorder::RecordChannel(int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                   std::uint32_t *returned) {
    {
        std::lock_guard guard(g_recorder->lock_);
        const auto *bytes = static_cast<const std::uint8_t *>(in);
        g_recorder->async_.emplace_back(bytes, bytes + inLen);
    }
    return g_recorder->fake_.ChannelCmd(channel, in, inLen, out, outLen, returned);
}

int RequestRecorder::RecordSync(const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                std::uint32_t *returned) {
    std::vector<std::uint32_t> reply;
    std::int32_t board = 0;
    {
        std::lock_guard guard(g_recorder->lock_);
        const auto *bytes = static_cast<const std::uint8_t *>(in);
        g_recorder->sync_.emplace_back(bytes, bytes + inLen);
        reply = g_recorder->reply_words_;
        std::uint32_t command = 0;
        if (inLen >= 4) std::memcpy(&command, in, 4);
        if (auto it = g_recorder->board_results_.find(command); it != g_recorder->board_results_.end()) {
            board = it->second;
        }
    }
    int r = g_recorder->fake_.SyncImmediateCmd(in, inLen, out, outLen, returned);
    if (r != 0 || out == nullptr) return r;
    auto *reply_bytes = static_cast<std::uint8_t *>(out);
    if (!reply.empty() && outLen >= 20 + 4 * reply.size()) {
        std::memcpy(reply_bytes + 20, reply.data(), 4 * reply.size());
    }
    if (board != 0 && outLen >= 20) std::memcpy(reply_bytes + 16, &board, sizeof board);
    return r;
}

std::vector<RequestBytes> RequestRecorder::async() {
    std::lock_guard guard(lock_);
    return async_;
}

std::vector<RequestBytes> RequestRecorder::sync() {
    std::lock_guard guard(lock_);
    return sync_;
}

void RequestRecorder::clear() {
    std::lock_guard guard(lock_);
    async_.clear();
    sync_.clear();
}

void RequestRecorder::set_reply(std::vector<std::uint32_t> words) {
    std::lock_guard guard(lock_);
    reply_words_ = std::move(words);
}

void RequestRecorder::set_board_result(std::uint32_t command, std::int32_t result) {
    std::lock_guard guard(lock_);
    if (result == 0) {
        board_results_.erase(command);
    } else {
        board_results_[command] = result;
    }
}

std::string only_text(const JournalMark &mark) {
    auto lines = mark.lines();
    return lines.size() == 1 ? lines[0].text : "lines: " + std::to_string(lines.size());
}

std::uint32_t Word(const RequestBytes &request, std::size_t k) {
    std::uint32_t w = 0;
    if (request.size() >= 4 * (k + 1)) std::memcpy(&w, request.data() + 4 * k, 4);
    return w;
}

void ExpectFields(const RequestBytes &request, const std::vector<Field> &fields) {
    std::size_t offset = 20;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        SCOPED_TRACE(testing::Message() << "field " << f);
        const Field &field = fields[f];
        const std::size_t size = field.kind == Field::i64 || field.kind == Field::f64 ? 8 : 4;
        ASSERT_LE(offset + size, request.size());
        switch (field.kind) {
        case Field::u32: {
            std::uint32_t v = 0;
            std::memcpy(&v, request.data() + offset, 4);
            EXPECT_EQ(v, static_cast<std::uint32_t>(field.value));
            break;
        }
        case Field::i32: {
            std::int32_t v = 0;
            std::memcpy(&v, request.data() + offset, 4);
            EXPECT_EQ(v, static_cast<std::int32_t>(field.value));
            break;
        }
        case Field::i64: {
            std::int64_t v = 0;
            std::memcpy(&v, request.data() + offset, 8);
            EXPECT_EQ(v, static_cast<std::int64_t>(field.value));
            break;
        }
        case Field::f64: {
            double v = 0;
            std::memcpy(&v, request.data() + offset, 8);
            EXPECT_DOUBLE_EQ(v, field.value);
            break;
        }
        }
        offset += size;
    }
    EXPECT_EQ(offset, request.size()) << "request length";
}

}  // namespace motion_test
