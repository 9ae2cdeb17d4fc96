// CServerPipe: the connection to the server's pipe and the record exchange.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace linkhub {

// One exchange: what is sent and where the reply goes.
struct Exchange {
    int command = 0;
    const char *parameters = nullptr;  // nullptr: none
    const void *data = nullptr;
    int dataSize = 0;
    void *reply = nullptr;             // nullptr or capacity <= 0: nothing copied
    int replyCapacity = 0;
};

// What came back.
struct ExchangeResult {
    int status = 0;
    int dataSize = 0;
};

class CServerPipe {
public:
    explicit CServerPipe(std::string name);
    CServerPipe(const CServerPipe &) = delete;
    CServerPipe &operator=(const CServerPipe &) = delete;

    // Waits at most timeoutMs for the pipe and opens it: 0, or 4609 after
    // the connect messages.
    int Connect(std::uint32_t timeoutMs);

    // One request record written, one response record read, under the pipe
    // mutex: 1 done (result filled); -1 write failed; -2 read failed; -3 the
    // response id differs; -4 request data out of range (nothing sent).
    int Transact(const Exchange &exchange, ExchangeResult &result);

private:
    std::string m_name;
    std::unique_ptr<platform::Stream> m_stream;  // empty until connected
    std::mutex m_mutex;                          // one exchange at a time
};

}  // namespace linkhub
