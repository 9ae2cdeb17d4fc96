#include "mailbox_packet.h"

#include "boardport.h"
#include "driver.h"

namespace boardport {
namespace {

constexpr std::array<std::uint32_t, kMailboxWords> make_table(std::uint32_t first) {
    std::array<std::uint32_t, kMailboxWords> table{};
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        table[i] = first + i;
    }
    return table;
}

// Constant, so it is there before any transfer call (CAM_FtpOpen included).
constexpr auto kTransferMailboxTable = make_table(kTransferMailboxFirst);

}  // namespace

Mailbox immediate_mailbox() {
    static_assert(std::tuple_size_v<decltype(g_ImmediateMailboxTable)> == kMailboxWords);
    return Mailbox{g_ImmediateMailboxTable.data(), kImmediateDoorbell, kImmediateWaitReads};
}

Mailbox transfer_mailbox() {
    return Mailbox{kTransferMailboxTable.data(), kTransferDoorbell, kTransferWaitReads};
}

int post_packet(const Mailbox &mailbox, const std::uint32_t *words, int count) {
    const int written = WDF_WriteMultiRegister32(mailbox.table, words, count);
    if (written != 0) {
        return written;
    }
    (void)unlocked_write(mailbox.doorbell, kDoorbellRing);
    return 0;
}

int wait_answer(const Mailbox &mailbox) {
    for (std::uint32_t read = 0; read < mailbox.wait_reads; ++read) {
        std::uint32_t value = 0;
        if (unlocked_read(mailbox.doorbell, &value) != 0) {
            return kMbDoorbellFailed;
        }
        if ((value & kDoorbellBusyBit) == 0) {
            return static_cast<int>(value & kDoorbellResultMask);
        }
    }
    return kMbWaitRanOut;
}

int read_mailbox(const Mailbox &mailbox, MailboxWords &words, int count) {
    return WDF_ReadMultiRegister32(mailbox.table, words.data(), count);
}

}  // namespace boardport
