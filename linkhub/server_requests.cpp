#include "server_requests.h"

#include <cstdint>

#include "layer_state.h"
#include "messages.h"

namespace linkhub {

int request(const Exchange &exchange) {
    int status = kRequestFailed;
    try {
        ExchangeResult result;
        if (g_ServerPipe && g_ServerPipe->Transact(exchange, result) == kExchangeOk) status = result.status;
    } catch (...) {
        status = kRequestFailed;
    }
    if (status == 0) return 0;
    message(kCodeResponseState, kTextResponseState, status);
    return status;
}

int request_value(int command, const char *parameters, const void *data, int dataSize) {
    std::int32_t value = -1;
    Exchange exchange;
    exchange.command = command;
    exchange.parameters = parameters;
    exchange.data = data;
    exchange.dataSize = dataSize;
    exchange.reply = &value;
    exchange.replyCapacity = static_cast<int>(sizeof value);
    const int status = request(exchange);
    return status != 0 ? status : value;
}

int request_record(int command, const char *parameters, void *reply, int capacity) {
    // The call is there to hand back the reply: without a place for it,
    // nothing is asked.
    if (reply == nullptr) return kRequestFailed;
    Exchange exchange;
    exchange.command = command;
    exchange.parameters = parameters;
    exchange.reply = reply;
    exchange.replyCapacity = capacity;
    return request(exchange);
}

}  // namespace linkhub
