// The card server's handling of request records: each input is a run of
// 512-byte records (the last one zero-filled) answered in order by one
// fresh server state, so that a record can build on an earlier one (a
// variable set, then read). Parameter texts go through the key=value parser.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "cardhost/constants.h"
#include "cardhost/params.h"
#include "cardhost/server.h"
#include "cardhost/wire.h"
#include "fuzz_env.h"
#include "request_handler.h"

namespace {

constexpr char kConfig[] = R"(card name="Fuzz Card" model=7412 serial=F-1 firmware=1.2.3.4
module name=FPGA version=1.4.0.12
axis number=1 index=0 vendor=1511 product=0x4021001
axis number=2 index=1 vendor=1511 product=0x1000
group number=1 axes=1,2
io slave=3 di=16 ai=2 do=8 ao=1
compare output=1 axis=2
log level=1 code=7 text="from the start"
)";

constexpr std::size_t kMaxRecords = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::string files = qax_fuzz::run_dir() + "/files";
    cardhost::ServerOptions options;
    options.config_text = kConfig;
    options.files_dir = files;
    options.process_alive = [](std::uint32_t pid) { return pid % 2 == 1; };
    cardhost::RequestHandler handler(options);
    if (!handler.load(nullptr)) std::abort();

    bool touched_files = false;
    for (std::size_t at = 0, records = 0; at < size && records < kMaxRecords; at += cardhost::kRecordSize, ++records) {
        cardhost::ServerRequest request{};
        std::memcpy(&request, data + at, std::min(cardhost::kRecordSize, size - at));
        cardhost::ServerResponse response;
        std::memset(&response, 0xA5, sizeof response);
        handler.handle(request, response, records % 3);
        if (response.responseId != request.requestId || response.dataSize < 0 ||
            static_cast<std::size_t>(response.dataSize) > cardhost::kResponseDataSize) {
            std::abort();
        }
        touched_files = touched_files || (request.command >= cardhost::kCmdFileSend && request.command <= cardhost::kCmdFileMkdir);
        if (records % 4 == 3) handler.connection_closed(records % 3);
        // The parser on its own, with a text that need not end inside its field.
        (void)cardhost::Parameters::parse(request.parameters, sizeof request.parameters);
    }
    if (touched_files) {
        std::error_code error;
        std::filesystem::remove_all(files, error);
    }
    return 0;
}
