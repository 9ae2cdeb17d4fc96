// Registers, packet words, limits, results and texts of the mailbox protocols
// (asynchronous immediate commands and file transfer).
#pragma once

#include <cstddef>
#include <cstdint>

#include "constants.h"

namespace boardport {

// ---------------------------------------------------------------- mailboxes

inline constexpr std::size_t kMailboxWords = 256;
inline constexpr std::size_t kMailboxBytes = kMailboxWords * sizeof(std::uint32_t);

inline constexpr std::uint32_t kImmediateDoorbell = 0x78;
inline constexpr std::uint32_t kTransferMailboxFirst = 0x9D0;
inline constexpr std::uint32_t kTransferDoorbell = 0x7C;
inline constexpr std::uint32_t kTransferStatusRegister = 0xD0;
inline constexpr std::uint32_t kTransferBusy = 1;

// The host rings with bit 31; the firmware clears it and leaves its result
// in the low 16 bits.
inline constexpr std::uint32_t kDoorbellRing = 0x80000000;
inline constexpr std::uint32_t kDoorbellBusyBit = 0x80000000;
inline constexpr std::uint32_t kDoorbellResultMask = 0xFFFF;

inline constexpr std::uint32_t kImmediateWaitReads = 100000;
inline constexpr std::uint32_t kTransferWaitReads = 1000000;

// ---------------------------------------------------------------- packet frame

inline constexpr std::uint32_t kPacketHead = 0x55555555;
inline constexpr std::uint32_t kPacketTail = 0xAAAAAAAA;
// Head, total and type words before the body; the tail word after it.
inline constexpr std::size_t kPacketHeaderBytes = 12;
inline constexpr std::size_t kPacketTailBytes = 4;

inline constexpr std::uint32_t kPacketImmediateRequest = 3;
inline constexpr std::uint32_t kPacketImmediateQuery = 5;
inline constexpr std::uint32_t kPacketImmediateReply = 6;

// Command and query bytes of one immediate packet.
inline constexpr std::uint32_t kMaxImmediateBytes = 528;
// The reply's payload length word and where its payload starts.
inline constexpr std::size_t kReplyLengthOffset = 12;
inline constexpr std::size_t kReplyPayloadOffset = 16;

// ---------------------------------------------------------------- transfer

inline constexpr std::uint32_t kFtpBlockData = 1;
inline constexpr std::uint32_t kFtpBeginSend = 7;
inline constexpr std::uint32_t kFtpAbortSend = 8;
inline constexpr std::uint32_t kFtpDelete = 9;
inline constexpr std::uint32_t kFtpChangeDirectory = 10;
inline constexpr std::uint32_t kFtpBeginReceive = 11;
inline constexpr std::uint32_t kFtpNextBlock = 13;
inline constexpr std::uint32_t kFtpEndReceive = 15;
inline constexpr std::uint32_t kFtpFinishSend = 17;
inline constexpr std::uint32_t kFtpMakeDirectory = 18;

inline constexpr std::size_t kFtpNameBytes = 64;
inline constexpr std::size_t kFtpBlockBytes = 512;
inline constexpr std::size_t kFtpLocalPathBytes = 512;
inline constexpr char kFtpTempSuffix[] = "_tmp";
inline constexpr char kFtpTempPathFormat[] = "%s_tmp";
inline constexpr char kFtpFinalPathFormat[] = "%s";

// Reply words read after begin/end receive and after a next-block request.
inline constexpr int kFtpShortReplyWords = 5;
inline constexpr std::size_t kFtpShortReplyValueWord = 3;
inline constexpr int kFtpBlockReplyWords = 136;

// Timing records: ten kept, 0..5 printed, 1..4 filled by a send.
inline constexpr std::size_t kTimingRecords = 10;
inline constexpr std::size_t kTimingRecordsPrinted = 6;
inline constexpr std::size_t kTimingBeginAcknowledged = 1;
inline constexpr std::size_t kTimingBlockPosted = 2;
inline constexpr std::size_t kTimingBlockAcknowledged = 3;
inline constexpr std::size_t kTimingSendFinished = 4;
inline constexpr std::uint64_t kMicrosecondsPerSecond = 1000000;

// Bus exercise.
inline constexpr int kPciBusRounds = 100000;
inline constexpr std::uint32_t kPciBusPattern = 0xAAAA5555;
inline constexpr std::uint32_t kPciBusAlternative = 0x12345678;

// ---------------------------------------------------------------- results

inline constexpr int kMbOk = 0;
inline constexpr int kMbAgain = 1;
inline constexpr int kMbMailboxFailed = 2;
inline constexpr int kMbDoorbellFailed = 4;
inline constexpr int kMbWaitRanOut = 5;
inline constexpr int kMbLocalFileEmpty = 6;  // also short read or short write
inline constexpr int kMbTooLong = 7;         // immediate packet too long; a null name (input errors)
inline constexpr int kMbTransferBusy = 7;    // CAM_FtpOpen: a transfer runs on the board
inline constexpr int kMbStepAgain = 8;       // a step's own "call again"
inline constexpr int kMbBoardAgainMasked = 9;
inline constexpr int kMbCheckDiffers = 15;
inline constexpr int kMbLocalFileFailed = 20;
inline constexpr int kMbMalformedReply = 35;
inline constexpr int kMbBlockTooLarge = -7;

// Firmware results of the immediate mailbox that mean "post again" / "no result yet".
inline constexpr int kBoardBusyA = 28;
inline constexpr int kBoardBusyB = 40;
inline constexpr int kBoardNoResult = 34;
// Firmware results of the transfer mailbox masked so that no board result looks like "call again".
inline constexpr int kBoardTransferAgainA = 1;
inline constexpr int kBoardTransferAgainB = 8;

// ---------------------------------------------------------------- logs and texts

inline constexpr int kLogCodeRequest = 1;
inline constexpr int kLogCodeResult = 2;
inline constexpr char kTextResult[] = "nRet = %d";
inline constexpr char kTextQueryWriteError[] = "AsynGetResult-WDF_WriteMultiRegister32 Error:%d\n";
inline constexpr char kTextQueryWaitError[] = "AsynGetResult-DRV_WaitArmResponse Error:%d\n";
inline constexpr char kTextQueryReadError[] = "AsynGetResult-WDF_ReadMultiRegister32 Error:%d\n";
inline constexpr char kTextTransferStatus[] = "status:%d\n";
inline constexpr char kTextMkdirId[] = "Id:%d\n";
inline constexpr char kTextTimingLabel[] = "t%d";
inline constexpr char kTextTimingTitle[] = "%s:\n";
inline constexpr char kTextTimingMax[] = "Max Time = %lld us\n";
inline constexpr char kTextTimingMin[] = "Min Time = %lld us\n";
inline constexpr char kTextTimingAve[] = "Ave Time = %lld us\n";
inline constexpr char kTextPciBusError[] = "Error:nStatus:0x%08X\n";

}  // namespace boardport
