#include "server_pipe.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "linkhub_constants.h"
#include "messages.h"
#include "request_id.h"
#include "server_records.h"

namespace linkhub {
namespace {

int last_error() { return static_cast<int>(platform::last_error()); }

}  // namespace

CServerPipe::CServerPipe(std::string name) : m_name(std::move(name)) {}

int CServerPipe::Connect(std::uint32_t timeoutMs) {
    if (!platform::wait_named_pipe(m_name.c_str(), timeoutMs)) {
        const int error = last_error();
        message(error, kTextWaitPipeFail, m_name.c_str(), static_cast<int>(timeoutMs), error);
    } else {
        m_stream = platform::open_named_pipe(m_name.c_str());
        if (m_stream) return kReady;
    }
    message(kPipeNotConnected, kTextConnectTimeout, last_error());
    return kPipeNotConnected;
}

int CServerPipe::Transact(const Exchange &exchange, ExchangeResult &result) {
    if (exchange.dataSize < 0 || exchange.dataSize > kRequestDataMax ||
        (exchange.dataSize > 0 && exchange.data == nullptr)) {
        message(kCodeRequestData, kTextRequestDataFail, exchange.dataSize);
        return kExchangeBadData;
    }

    // Zeroed first so that no stale memory leaves the process.
    ServerRequest request{};
    request.requestId = next_request_id();
    request.command = exchange.command;
    if (exchange.parameters != nullptr) {
        format_into(request.parameters, sizeof request.parameters, "%s", exchange.parameters);
    }
    request.dataSize = exchange.dataSize;
    if (exchange.dataSize > 0) {
        std::memcpy(request.data, exchange.data, static_cast<std::size_t>(exchange.dataSize));
    }

    ServerResponse response{};
    {
        std::unique_lock lock(m_mutex);
        std::uint32_t done = 0;
        if (!m_stream) platform::set_last_error(platform::kErrorInvalidHandle);
        if (!m_stream || !m_stream->write(&request, sizeof request, &done) || done != sizeof request) {
            const int error = last_error();
            lock.unlock();
            message(kCodeWriteRequest, kTextWriteRequestFail, error);
            return kExchangeWriteFailed;
        }
        done = 0;
        if (!m_stream->read(&response, sizeof response, &done) || done != sizeof response) {
            const int error = last_error();
            lock.unlock();
            message(kCodeReadResponse, kTextReadResponseFail, error);
            return kExchangeReadFailed;
        }
    }

    if (response.responseId != request.requestId) {
        message(kCodeRequestId, kTextRequestIdMismatch, request.requestId, response.responseId);
        return kExchangeIdMismatch;
    }
    result.status = response.status;
    result.dataSize = response.dataSize;
    if (exchange.reply != nullptr && exchange.replyCapacity > 0) {
        // The size comes from another process: a negative one counts as 0.
        const int copied = std::min({exchange.replyCapacity, std::max(response.dataSize, 0), kResponseDataMax});
        std::memcpy(exchange.reply, response.data, static_cast<std::size_t>(copied));
    }
    return kExchangeOk;
}

}  // namespace linkhub
