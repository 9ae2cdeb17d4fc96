#include "bench_machine.h"

namespace qax_bench {

const char kBenchMachineConfig[] = R"(# the benchmarks' machine
card name="Bench Card 7422" model=7422 serial=B-1 firmware=2.3.1.0
module name=FPGA version=1.4.0.12
module name=Firmware version=2.3.1.0
axis number=1 index=0 vendor=1511 product=0x4021001
axis number=2 index=1 vendor=1511 product=0x4021001
axis number=3 index=2 vendor=1511 product=0x4021001
axis number=4 index=3 vendor=1511 product=0x4021001
axis number=5 index=4 vendor=1511 product=0x4021001
axis number=6 index=5 vendor=1511 product=0x4021001
axis number=7 index=6 vendor=1511 product=0x401c001
group number=1 axes=1,2
group number=2 axes=1,2,3,4,5,6
io slave=1 di=127 ai=0 do=64 ao=0 vendor=1511 product=0x2001
compare output=1 axis=1
)";

std::vector<vboard::MachineIoSlave> BenchIoSlaves() {
    vboard::MachineIoSlave slave;
    slave.slave = kIoSlave;
    slave.digital_inputs = kDigitalInputs;
    slave.digital_outputs = kDigitalOutputs;
    slave.vendor_id = 1511;
    slave.product_code = 0x2001;
    return {slave};
}

}  // namespace qax_bench
