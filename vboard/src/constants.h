// Register numbers, request codes, error numbers, limits and texts of the
// virtual board, named once.
#pragma once

#include <cstdint>

#include "vboard/vboard.h"

namespace vboard::constants {

// ---------------------------------------------------------------- requests

inline constexpr std::uint32_t kReqChannelFirst = kReqChannel5;  // 5..10 in steps of 4
inline constexpr std::uint32_t kChannelCodeStep = 4;
inline constexpr int kFirstLinkChannel = 2;
inline constexpr int kLastLinkChannel = 10;
inline constexpr int kLinkChannelCount = kLastLinkChannel - kFirstLinkChannel + 1;

// The largest input a request may carry: a register block record.
inline constexpr std::uint32_t kMaxRequestInput = 0x1800C;
// Bytes an over-reporting reply claims beyond those that follow.
inline constexpr std::uint32_t kOverReportBytes = 4;
// The board's reply frame to a synchronous immediate command.
inline constexpr std::uint32_t kImmediateReplyBytes = 512;

// ---------------------------------------------------------------- error numbers

inline constexpr std::uint32_t kErrorInvalidFunction = 1;   // unknown request code
inline constexpr std::uint32_t kErrorGenFailure = 31;       // injected failures, failed reads
inline constexpr std::uint32_t kErrorInvalidParameter = 87; // bad record, index or length

// ---------------------------------------------------------------- records

inline constexpr std::uint32_t kRegRecordBytes = 16;
inline constexpr std::uint32_t kParameterBytes = 16;
inline constexpr std::uint32_t kMultiRecordBytes = 0x1800C;
inline constexpr std::uint32_t kMultiValuesOffset = 0xC000;
inline constexpr std::uint32_t kMultiCountOffset = 0x18000;
inline constexpr std::int32_t kMaxBlock32 = 12288;
inline constexpr std::int32_t kMaxBlock64 = 6144;
inline constexpr std::uint32_t kDriverVersionBytes = 140;

// Immediate command and reply words.
inline constexpr std::uint32_t kCommandHeaderWords = 4;  // copied back into the reply
inline constexpr std::uint32_t kReplyResultWord = 4;
inline constexpr std::uint32_t kReplyDataWord = 5;

// ---------------------------------------------------------------- driver identity

inline constexpr std::uint16_t kDriverVersion[4] = {1, 4, 0, 12};
inline constexpr char kDriverName[] = "Virtual motion board driver";
inline constexpr char kDriverText[] = "virtual board, socket transport";

// ---------------------------------------------------------------- registers

// Channel idle status registers of link channels 1..10 (bit 0 = idle).
inline constexpr std::uint32_t kIdleStatusRegisters[] = {0x34, 0x3C, 0x94, 0x9C, 0xA4,
                                                         0xAC, 0xB4, 0xBC, 0xC4, 0xCC};
inline constexpr std::uint32_t kIdleBit = 1;

inline constexpr std::uint32_t kLastRegister = kRegisterCount - 1;

// Mailboxes: 256 registers each, a doorbell, and the transfer-busy flag.
inline constexpr std::uint32_t kImmediateMailboxFirst = 0x8D0;
inline constexpr std::uint32_t kTransferMailboxFirst = 0x9D0;
inline constexpr std::uint32_t kMailboxRegisters = 256;
inline constexpr std::uint32_t kMailboxBytes = kMailboxRegisters * 4;
inline constexpr std::uint32_t kImmediateDoorbell = 0x78;
inline constexpr std::uint32_t kTransferDoorbell = 0x7C;
inline constexpr std::uint32_t kDoorbellRing = 0x80000000u;
inline constexpr std::uint32_t kDoorbellResultMask = 0xFFFFu;
inline constexpr std::uint32_t kTransferBusyRegister = 0xD0;

// ArmPacket frame.
inline constexpr std::uint32_t kPacketHead = 0x55555555u;
inline constexpr std::uint32_t kPacketTail = 0xAAAAAAAAu;
inline constexpr std::uint32_t kPacketHeaderBytes = 12;  // head, total, type
inline constexpr std::uint32_t kReplyFrameBytes = 20;    // header, payload length, tail
inline constexpr std::uint32_t kMaxReplyPayload = kMailboxBytes - kReplyFrameBytes;

// Firmware-owned registers restored after a full reset.
inline constexpr std::uint32_t kEcatStateRegister = 497;
inline constexpr std::uint32_t kCyclePeriodRegister = 1000;
inline constexpr std::uint32_t kAxisBlockFirst = 8736;
inline constexpr std::uint32_t kAxisBlockRegisters = 15;
inline constexpr std::uint32_t kAxisAssignmentOffset = 5;  // 8741 + 15a
inline constexpr std::uint32_t kAxisCount = 32;

// Mailbox packet types and transfer commands.
inline constexpr std::uint32_t kPacketRequest = 3;
inline constexpr std::uint32_t kPacketResultQuery = 5;
inline constexpr std::uint32_t kPacketReply = 6;

inline constexpr std::uint32_t kFtpDataBlock = 1;
inline constexpr std::uint32_t kFtpBeginSend = 7;
inline constexpr std::uint32_t kFtpAbortSend = 8;
inline constexpr std::uint32_t kFtpDelete = 9;
inline constexpr std::uint32_t kFtpChangeDirectory = 10;
inline constexpr std::uint32_t kFtpBeginReceive = 11;
inline constexpr std::uint32_t kFtpNextBlock = 13;
inline constexpr std::uint32_t kFtpEndReceive = 15;
inline constexpr std::uint32_t kFtpFinishSend = 17;
inline constexpr std::uint32_t kFtpMakeDirectory = 18;

// Totals of the transfer packets, and the block data size.
inline constexpr std::uint32_t kFtpNamedTotal = 84;   // name length at 12, name at 16
inline constexpr std::uint32_t kFtpFinishTotal = 92;  // size 12, name length 16, name 20, check 84
inline constexpr std::uint32_t kFtpNameOnlyTotal = 80;  // name at 12
inline constexpr std::uint32_t kFtpBareTotal = 20;
inline constexpr std::uint32_t kFtpBlockTotal = 544;
inline constexpr std::uint32_t kFtpBlockData = 512;
inline constexpr std::uint32_t kFtpNameBytes = 64;

// ---------------------------------------------------------------- commands

inline constexpr std::uint32_t kCmdExit = 0x40130001;
inline constexpr std::uint32_t kCmdAxisSequence = 0x80630001;
inline constexpr std::uint32_t kCmdBoardTick = 0x803c0001;

}  // namespace vboard::constants
