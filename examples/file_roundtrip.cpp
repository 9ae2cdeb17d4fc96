// Sends a host file to the board's file store and fetches it back, printing
// the progress of both directions, then checks that the copy is identical.
//
//   file_roundtrip [FILE]
//
// Without FILE a 300 KB sample file is made in the temporary folder (and
// removed again). The copy is written beside the file as FILE.back. Exits 0
// when the copy is byte-identical.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boardport.h"

namespace {

constexpr int kCallAgain = 1;
constexpr char kBoardName[] = "roundtrip.bin";
constexpr std::size_t kSampleBytes = 300 * 1024;
constexpr int kMaxSteps = 1 << 24;

std::vector<char> read_all(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::filesystem::path make_sample() {
    const auto path = std::filesystem::temp_directory_path() / "file_roundtrip.bin";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < kSampleBytes; ++i) {
        state = state * 1664525U + 1013904223U;
        file.put(static_cast<char>(state >> 24));
    }
    return path;
}

// Prints a line whenever another tenth of the file has moved.
void progress(const char *what, std::uint32_t done, std::uint32_t total, std::uint32_t &printed_tenth) {
    const std::uint32_t tenth = total == 0 ? 10 : static_cast<std::uint32_t>(std::uint64_t{done} * 10 / total);
    if (tenth != printed_tenth) {
        printed_tenth = tenth;
        std::printf("  %s %u / %u bytes\n", what, done, total);
    }
}

template <typename Step>
int run_steps(const char *what, Step step) {
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    std::uint32_t printed_tenth = 11;
    int result = kCallAgain;
    for (int calls = 0; calls < kMaxSteps && result == kCallAgain; ++calls) {
        result = step(&done, &total);
        progress(what, done, total, printed_tenth);
    }
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    const std::filesystem::path local = argc > 1 ? std::filesystem::path(argv[1]) : make_sample();
    const std::filesystem::path back = local.string() + ".back";
    const std::string local_text = local.string();
    const std::string back_text = back.string();

    int result = WDF_Init();
    std::printf("open board: %d\n", result);
    if (result != 0) {
        return 1;
    }
    result = CAM_FtpOpen();
    std::printf("open transfer: %d\n", result);
    if (result == 0) {
        std::printf("sending %s as %s\n", local_text.c_str(), kBoardName);
        result = run_steps("sent", [&](std::uint32_t *done, std::uint32_t *total) {
            return CAM_FtpSend(local_text.c_str(), kBoardName, done, total);
        });
        std::printf("send: %d\n", result);
    }
    if (result == 0) {
        std::printf("fetching %s into %s\n", kBoardName, back_text.c_str());
        result = run_steps("received", [&](std::uint32_t *done, std::uint32_t *total) {
            return CAM_FtpRecv(kBoardName, back_text.c_str(), done, total);
        });
        std::printf("receive: %d\n", result);
    }
    CAM_FtpClose();
    WDF_Exit();
    if (result != 0) {
        return 1;
    }
    const bool same = read_all(local) == read_all(back);
    std::printf("%s\n", same ? "the copy is identical" : "the copy differs");
    if (argc <= 1) {
        std::error_code ignored;
        std::filesystem::remove(local, ignored);
        std::filesystem::remove(back, ignored);
    }
    return same ? 0 : 1;
}
