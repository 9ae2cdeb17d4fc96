// Encoding of one command-list node into the one request that the board's
// list queue takes (command list n on link channel n + 7). Nothing is
// planned on the host: the node is checked, taken into the list (its axes
// get the list as their owner), converted to board units and built.
#pragma once

#include <cstdint>

#include "../core/transport.h"

namespace ct {

inline constexpr int kListCount = 4;
inline constexpr std::uint32_t kOwnerBase = 10;  // list n owns its axes as channel 10 + n
inline constexpr std::uint32_t kLinkOffset = 7;  // list n sends on link channel n + 7
inline constexpr std::uint32_t kFifoOffset = 5;  // list n's board queue is FIFO n + 5
inline constexpr std::uint32_t kHeadBytes = 12;  // command word, card word, first parameter

// Node types and the size of each node record.
inline constexpr int kTypeEnd = 1;
inline constexpr int kTypeAxesLine = 2;
inline constexpr int kTypeAxesPosition = 4;
inline constexpr int kTypeGroupLine = 5;
inline constexpr int kTypeMarkedValue = 8;
inline constexpr int kTypeCompareStart = 9;
inline constexpr int kTypeCompareStop = 10;
inline constexpr int kTypePositionValue = 11;
inline constexpr int kTypeDigitalOutput = 12;
inline constexpr int kTypeAnalogOutput = 13;
inline constexpr int kTypeInputWait = 14;
inline constexpr int kTypeAxisTwoSegment = 15;
inline constexpr int kTypeGroupTwoSegment = 16;
inline constexpr int kTypeInputsWait = 17;
inline constexpr int kTypeAxesCondition = 18;
inline constexpr int kTypeGroupCondition = 19;
inline constexpr int kTypeAxisCondition = 20;
inline constexpr int kTypeValue21 = 21;
inline constexpr int kTypePositionSave = 22;
inline constexpr int kFirstType = 1;
inline constexpr int kLastType = 22;

// Command words of the nodes.
inline constexpr std::uint32_t kCmdEnd = 0x60120001;
inline constexpr std::uint32_t kCmdAxesLineAbsolute = 0x60220001;  // mode 1
inline constexpr std::uint32_t kCmdAxesLineRelative = 0x60290001;  // mode 0
inline constexpr std::uint32_t kCmdAxesPosition = 0x60260001;
inline constexpr std::uint32_t kCmdGroupLineAbsolute = 0x60130001;  // mode 1
inline constexpr std::uint32_t kCmdGroupLineRelative = 0x602a0001;  // mode 0
inline constexpr std::uint32_t kCmdMarkedValue = 0x60160001;
inline constexpr std::uint32_t kCmdCompareStart = 0x60170001;
inline constexpr std::uint32_t kCmdCompareStop = 0x60180001;
inline constexpr std::uint32_t kCmdPositionValue = 0x60230001;
inline constexpr std::uint32_t kCmdTimedOutput = 0x60110001;
inline constexpr std::uint32_t kCmdDigitalOutput = 0x60150001;
inline constexpr std::uint32_t kCmdAnalogOutput = 0x601b0001;
inline constexpr std::uint32_t kCmdInputWait = 0x600c0001;
inline constexpr std::uint32_t kCmdAxisTwoSegment = 0x600a0001;
inline constexpr std::uint32_t kCmdGroupTwoSegment = 0x600b0001;
inline constexpr std::uint32_t kCmdInputsWait = 0x60250001;
inline constexpr std::uint32_t kCmdAxesCondition = 0x600d0001;
inline constexpr std::uint32_t kCmdGroupCondition = 0x600e0001;
inline constexpr std::uint32_t kCmdAxisCondition = 0x600f0001;
inline constexpr std::uint32_t kCmdValue21 = 0x60100001;
inline constexpr std::uint32_t kCmdPositionSave = 0x60240001;
// The permission line of the encoder's last step carries this word for
// every node type.
inline constexpr std::uint32_t kCmdEncoderPermission = 0x60170001;

inline constexpr std::uint32_t kFunEncode = 0x10040048;

inline constexpr char kMsgTypeNoSupport[] = "NodeType=0x%x, FUN=0x%x, CTNodeType no support";
inline constexpr char kMsgSizeError[] = "NodeType=%d, FUN=0x%x, Input Parameter error";

}  // namespace ct

// What a node does to the host's state once the board has its request, and
// what must be undone when it never gets there.
struct McCtNodeEffects {
    // Bits of register 5516 (the line mask) that the encoder set for this
    // node; cleared again when the request is not sent.
    std::uint32_t lineBits = 0;
    // An end node: the list's axes are released and its started flag
    // cleared once the request is sent.
    bool endsList = false;
    // A compare stop node: this axis's compare type is cleared once sent
    // (all ones: none).
    std::uint32_t compareResetIndex = 0xFFFFFFFFu;
};

// Checks node `nodeType` of `nodeSize` bytes for list ct (0..3), takes its
// axes into the list and builds its request into `block` (zero-filled
// first; command word and request length set). 0 when the caller may send
// it; else the result the caller returns (1, -1, -2, -3, -5 or -6), the
// reason logged. `effects` (optional) receives what to apply after the
// send; on a nonzero result the encoder has already undone its line bits.
int McEncodeCtNode(int ct, int nodeType, const void *node, int nodeSize, McImmCmdBlock &block,
                   McCtNodeEffects *effects = nullptr);

// Clears the given bits of register 5516 again: 0, or -5.
int McClearCtLineBits(std::uint32_t bits);
