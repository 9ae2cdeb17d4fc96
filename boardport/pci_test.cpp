// A register bus exercise: writes a pattern to the immediate doorbell and
// reads it back, printing every value that is neither the pattern nor the
// firmware's own marker.
#include <cstdio>

#include "boardport.h"
#include "driver.h"
#include "mailbox_constants.h"

using namespace boardport;

void QAX_CALL TEST_PciBus(void) {
    if (!device_open()) {
        return;
    }
    for (int round = 0; round < kPciBusRounds; ++round) {
        (void)unlocked_write(kImmediateDoorbell, kPciBusPattern);
        std::uint32_t value = 0;
        if (unlocked_read(kImmediateDoorbell, &value) != 0) {
            value = 0;
        }
        if (value != kPciBusPattern && value != kPciBusAlternative) {
            std::printf(kTextPciBusError, static_cast<unsigned>(value));
        }
    }
}
