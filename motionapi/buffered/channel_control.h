// The command workers behind the exported control functions of the four
// buffered path channels. Each checks the channel (-1 "Input Parameter
// error") and the controller model (channels 1..3 on model 7412: 1,
// LIMITFUN 1), then exchanges one synchronous command with the board
// (20-byte request {command, 0, 0, card word, channel}); a transport
// failure, or the command mutex not obtained, is -7.
#pragma once

#include <cstdint>

// Stop at the next node boundary (command word 2), or at once (6) when the
// board has reached the last marked node: 0; -6 for a negative board result.
int McChStopCmd(int ch);
// Stop and reset (command word 1, set before the command goes): 0 when the
// board answers 0, else -6.
int McChStopAltCmd(int ch);
// Pause (command word 3) unless the board has reached the last marked
// node: 0; -6 for a negative board result.
int McChPauseCmd(int ch);
// Resume (command word 4) when the board has not reached the last marked
// node or the channel is paused: 0; -6 for a negative board result.
int McChResumeCmd(int ch);
// Empties the channel's input ring and pool and sets its reset flag, then
// tells the board: 0 whatever the board answers; -4 "Wait time out" when
// the ring's mutex is not obtained (nothing changed, nothing sent); -7.
int McChResetCmd(int ch);
// 2 running (a channel accepting nodes counts without asking the board),
// 0 not running; -6 board error, -7.
int McChGetStatusCmd(int ch);

// The value McChGetStatusCmd returns for a running channel.
inline constexpr int kChannelRunning = 2;

// Channel command words and log functions that the exports and their
// workers share.
namespace mc::channel_control {
inline constexpr std::uint32_t kWordStop = 0x50020001;
inline constexpr std::uint32_t kWordPause = 0x50040001;
inline constexpr std::uint32_t kWordResume = 0x50050001;
inline constexpr std::uint32_t kWordReset = 0x50060001;
inline constexpr std::uint32_t kWordStatus = 0x50170001;
inline constexpr std::uint32_t kFunStop = 0x10050048;
inline constexpr std::uint32_t kFunStatus = 0x10050056;
inline constexpr char kMsgWaitTimeout[] = "CMD=0x%x, FUN=0x%x, Wait time out";
}  // namespace mc::channel_control
