// The server-side file functions: not gated, the reply text is the result.
#include <cstring>

#include "layer_state.h"
#include "linkhub.h"
#include "messages.h"
#include "server_records.h"

using namespace linkhub;

namespace {

const char *text_or_empty(const char *text) { return text != nullptr ? text : ""; }

// Sends the argument text as the request data; 0 when the server answers
// "Success", else its text is shown and -9.
int file_request(int command, const char *data, int dataSize) {
    char reply[kRequestDataMax] = {};  // keeps a NUL behind at most 371 characters
    if (g_ServerPipe) {
        Exchange exchange;
        exchange.command = command;
        exchange.data = data;
        exchange.dataSize = dataSize;
        exchange.reply = reply;
        exchange.replyCapacity = kRequestDataMax - 1;
        ExchangeResult ignored;
        try {
            g_ServerPipe->Transact(exchange, ignored);
        } catch (...) {
            reply[0] = '\0';
        }
    }
    if (std::strcmp(reply, kFileReplySuccess) == 0) return 0;
    message_text(kCodeFileReply, reply);
    return kFileReplyNotSuccess;
}

int file_request_four(int command, const char *text1, const char *text2, const char *text3, int number) {
    char data[kRequestDataMax];
    const int length = format_into(data, sizeof data, kFileTextFour, text_or_empty(text1), text_or_empty(text2),
                                   text_or_empty(text3), number);
    return file_request(command, data, length);
}

int file_request_two(int command, const char *text1, const char *text2) {
    char data[kRequestDataMax];
    const int length = format_into(data, sizeof data, kFileTextTwo, text_or_empty(text1), text_or_empty(text2));
    return file_request(command, data, length);
}

}  // namespace

extern "C" {

LINKHUB_API int QAX_CALL FtpSend(const char *text1, const char *text2, const char *text3, int number) {
    return file_request_four(kCmdFileSend, text1, text2, text3, number);
}

LINKHUB_API int QAX_CALL FtpRecv(const char *text1, const char *text2, const char *text3, int number) {
    return file_request_four(kCmdFileRecv, text1, text2, text3, number);
}

LINKHUB_API int QAX_CALL FtpDelete(const char *text1, const char *text2) {
    return file_request_two(kCmdFileDelete, text1, text2);
}

LINKHUB_API int QAX_CALL FtpMkdir(const char *text1, const char *text2) {
    return file_request_two(kCmdFileMkdir, text1, text2);
}

}  // extern "C"
