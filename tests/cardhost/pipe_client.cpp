#include "pipe_client.h"

#include "cardhost/constants.h"

namespace cardhost_test {

Record make_request(std::int32_t id, std::int32_t command, const std::string &params,
                    const std::vector<std::uint8_t> &data, std::int32_t data_size) {
    Record record{};
    put_i32(record.data(), 0, id);
    put_i32(record.data(), 4, command);
    if (!params.empty()) std::memcpy(record.data() + 8, params.data(), std::min<std::size_t>(params.size(), 128));
    put_i32(record.data(), 136, data_size == -1000 ? static_cast<std::int32_t>(data.size()) : data_size);
    if (!data.empty()) std::memcpy(record.data() + 140, data.data(), std::min<std::size_t>(data.size(), 372));
    return record;
}

PipeClient::PipeClient() {
    if (platform::wait_named_pipe(cardhost::kPipeName, 1000)) stream_ = platform::open_named_pipe(cardhost::kPipeName);
}

bool PipeClient::send(const Record &request) {
    std::uint32_t done = 0;
    return stream_ && stream_->write(request.data(), static_cast<std::uint32_t>(request.size()), &done);
}

Reply PipeClient::receive() {
    Reply reply;
    Record raw{};
    std::uint32_t done = 0;
    if (!stream_ || !stream_->read(raw.data(), static_cast<std::uint32_t>(raw.size()), &done)) return reply;
    reply.received = true;
    reply.raw = raw;
    reply.id = get_i32(raw.data(), 0);
    reply.status = get_i32(raw.data(), 8);
    reply.dataSize = get_i32(raw.data(), 12);
    reply.data.assign(raw.begin() + 16, raw.end());
    return reply;
}

Reply PipeClient::call(std::int32_t command, const std::string &params, const std::vector<std::uint8_t> &data) {
    return exchange(make_request(next_id_++, command, params, data));
}

}  // namespace cardhost_test
