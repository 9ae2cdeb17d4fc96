// The immediate-command block and the two ways of sending it to the board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mc_constants.h"

struct McImmCmdBlock {
    std::uint32_t command;
    std::uint32_t cardWord;
    std::uint32_t reserved0;
    std::uint32_t reserved1;
    std::uint32_t requestLength;
    std::uint8_t request[mc::kCmdBufferSize];
    std::uint32_t replyCapacity;
    std::uint8_t reply[mc::kCmdBufferSize];
};
static_assert(sizeof(McImmCmdBlock) == 1048);
static_assert(offsetof(McImmCmdBlock, requestLength) == 16);
static_assert(offsetof(McImmCmdBlock, request) == 20);
static_assert(offsetof(McImmCmdBlock, replyCapacity) == 532);
static_assert(offsetof(McImmCmdBlock, reply) == 536);

// Fills a zeroed block: words 0-3 (command, 0, 0, card word) and, unless
// the command has no target, word 4; parameters follow with the put calls.
// Writes past the 512-byte request are dropped (never happens for the
// library's fixed commands).
class McCommandBuilder {
public:
    McCommandBuilder(McImmCmdBlock &block, std::uint32_t command, std::uint32_t target);
    // A request of words 0-3 only.
    static McCommandBuilder Untargeted(McImmCmdBlock &block, std::uint32_t command);

    McCommandBuilder &U32(std::uint32_t value);
    McCommandBuilder &I32(std::int32_t value) { return U32(static_cast<std::uint32_t>(value)); }
    McCommandBuilder &I64(std::int64_t value);
    McCommandBuilder &F64(double value);

private:
    McCommandBuilder(McImmCmdBlock &block, std::uint32_t command);
    void Put(const void *data, std::uint32_t size);
    McImmCmdBlock &block_;
};

// Word k of the reply (0 for a word beyond the reply area).
std::uint32_t McReplyWord(const McImmCmdBlock &block, std::uint32_t k);
// The double at reply word k and k + 1.
double McReplyF64(const McImmCmdBlock &block, std::uint32_t k);
std::int64_t McReplyI64(const McImmCmdBlock &block, std::uint32_t k);

// Synchronous exchange under the command mutex: 0, -7 after a transport
// failure, -6 after a board error (logged under the board's result).
int McSendSyncImmCmd(McImmCmdBlock &block, std::uint32_t fun);
// The same with the transport failure message of the command-sequence query.
int McSendSyncImmCmd(McImmCmdBlock &block, std::uint32_t fun, const char *transportMessage);
// The same with printedCommand in the failure lines in place of the
// request's command word (a family whose lines name one word for all forms).
int McSendSyncImmCmdAs(McImmCmdBlock &block, std::uint32_t fun, std::uint32_t printedCommand);

// Asynchronous send on link channel 6: 0, -3 queue full, -7 send failed.
int McSendAsynImmCmd(McImmCmdBlock &block);
// The worker's second line after a failed asynchronous send; returns code.
int McLogWorkerAsynFailure(std::uint32_t command, std::uint32_t fun, int code);

// 1 when fewer than 512 of the queue's 4096 entries are free, 0 otherwise,
// -1 when its level cannot be read. q = 10 is the asynchronous queue.
int McIsFifoFull(std::uint32_t queue);

int McQueryAxisCmdSeq(std::uint32_t index, std::uint32_t *seq);
void McSendSysCmd802D();
std::uint32_t McReadBoardTick();
