// The device seam: installed devices get every device call of the layer,
// also those of another copy of it in a shared library; removed, the OS's
// devices answer again.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "temp_run_dir.h"

extern "C" bool seam_probe_device_request(const char *path, std::uint32_t code, std::uint32_t *out);

namespace {

constexpr char kPath[] = "in-process/board0";
constexpr std::uint32_t kRefusedCode = 0xBAD;
constexpr std::uint32_t kRefusedError = 31;

// One interface at kPath; a request answers its code plus one, except
// kRefusedCode, which fails with kRefusedError.
class FakeDevices final : public platform::Devices {
public:
    class Set final : public platform::DeviceInfoSet {
    public:
        Enum enumerate(std::uint32_t index) override { return index == 0 ? Enum::ok : Enum::no_more_items; }
        bool interface_path(std::uint32_t index, std::string &path) override {
            path = kPath;
            return index == 0;
        }
        bool device_description(std::uint32_t index, std::string &text) override {
            text = "fake";
            return index == 0;
        }
    };

    std::unique_ptr<platform::DeviceInfoSet> list(const char *) override {
        calls.push_back("list");
        return std::make_unique<Set>();
    }
    platform::DeviceHandle open(const std::string &path) override {
        calls.push_back("open " + path);
        return path == kPath ? 7 : platform::kInvalidDevice;
    }
    bool io_control(platform::DeviceHandle device, std::uint32_t code, const void *, std::uint32_t, void *out,
                    std::uint32_t out_len, std::uint32_t *returned) override {
        calls.push_back("request " + std::to_string(device) + " " + std::to_string(code));
        if (code == kRefusedCode) {
            platform::set_last_error(kRefusedError);
            return false;
        }
        if (out_len >= 4) *static_cast<std::uint32_t *>(out) = code + 1;
        *returned = 4;
        return true;
    }
    void close(platform::DeviceHandle device) override { calls.push_back("close " + std::to_string(device)); }

    std::vector<std::string> calls;
};

// Installs the devices for the test's life.
class DeviceSeamTest : public ::testing::Test {
protected:
    void SetUp() override { platform::set_devices(&devices_); }
    void TearDown() override { platform::set_devices(nullptr); }
    FakeDevices devices_;
};

TEST_F(DeviceSeamTest, EveryDeviceCallReachesTheInstalledDevices) {
    auto set = platform::list_device_interfaces(platform::kBoardInterfaceClass);
    ASSERT_NE(set, nullptr);
    std::string path;
    ASSERT_TRUE(set->interface_path(0, path));
    const platform::DeviceHandle device = platform::open_device(path);
    std::uint32_t out = 0;
    std::uint32_t returned = 0;
    EXPECT_TRUE(platform::device_io_control(device, 41, &out, sizeof out, &out, sizeof out, &returned));
    EXPECT_EQ(out, 42u);
    EXPECT_EQ(returned, 4u);
    EXPECT_FALSE(platform::device_io_control(device, kRefusedCode, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(platform::last_error(), kRefusedError);
    platform::close_device(device);
    EXPECT_EQ(devices_.calls, (std::vector<std::string>{"list", "open in-process/board0", "request 7 41",
                                                        "request 7 " + std::to_string(kRefusedCode), "close 7"}));
}

TEST_F(DeviceSeamTest, ReachesTheCopyOfTheLayerInASharedLibrary) {
    std::uint32_t out = 0;
    EXPECT_TRUE(seam_probe_device_request(kPath, 9, &out));
    EXPECT_EQ(out, 10u);
    EXPECT_EQ(devices_.calls, (std::vector<std::string>{"open in-process/board0", "request 7 9", "close 7"}));
}

TEST(DeviceSeam, RemovedTheOsDevicesAnswerAgain) {
    qax_test::TempRunDir run;
    FakeDevices devices;
    platform::set_devices(&devices);
    platform::set_devices(nullptr);
    // No such socket: the OS's open fails, and the removed devices saw nothing.
    EXPECT_EQ(platform::open_device(run.path() + "/devices/none"), platform::kInvalidDevice);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    std::uint32_t out = 0;
    EXPECT_FALSE(seam_probe_device_request(kPath, 9, &out));
    EXPECT_TRUE(devices.calls.empty());
}

}  // namespace
