// Opens the controller, copies a host file into the board's storage with a
// download job and back with an upload job, printing the progress of both
// as the background thread moves the blocks, then checks that the copy is
// identical and closes the controller.
//
//   file_jobs [FILE]
//
// Without FILE a 200 KB sample file is made in the temporary folder (and
// removed again). The copy is written beside the file as FILE.back. Exits 0
// when the copy is byte-identical.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "motionapi.h"

namespace {

constexpr char kBoardName[] = "jobs.bin";
constexpr std::size_t kSampleBytes = 200 * 1024;
constexpr int kFileType = 1;
constexpr int kBusy = -3;
constexpr int kDone = 100;
constexpr auto kPollInterval = std::chrono::milliseconds(5);
// A job whose progress stands still this long has failed (see the host log).
constexpr auto kStallLimit = std::chrono::seconds(5);
constexpr int kQueueAttempts = 200;

std::vector<char> read_all(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::filesystem::path make_sample() {
    const auto path = std::filesystem::temp_directory_path() / "file_jobs.bin";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::uint32_t state = 777;
    for (std::size_t i = 0; i < kSampleBytes; ++i) {
        state = state * 1664525U + 1013904223U;
        file.put(static_cast<char>(state >> 24));
    }
    return path;
}

// Queues a job; while the previous one is still closing the controller
// answers "busy", so the call is repeated a few times.
template <typename Queue>
int queue(Queue call) {
    int result = kBusy;
    for (int attempt = 0; attempt < kQueueAttempts && result == kBusy; ++attempt) {
        result = call();
        if (result == kBusy) std::this_thread::sleep_for(kPollInterval);
    }
    return result;
}

// Prints the progress whenever another tenth is done; true once it reaches
// 100.
bool follow(const char *what) {
    int last = -1;
    int printed_tenth = -1;
    auto last_change = std::chrono::steady_clock::now();
    for (;;) {
        int percent = 0;
        if (QAX_GetFileLoadProcess(&percent) != 0) return false;
        if (percent != last) {
            last = percent;
            last_change = std::chrono::steady_clock::now();
        }
        if (percent / 10 != printed_tenth) {
            std::printf("  %s %3d %%\n", what, percent);
            printed_tenth = percent / 10;
        }
        if (percent == kDone) return true;
        if (std::chrono::steady_clock::now() - last_change > kStallLimit) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace

int main(int argc, char **argv) {
    const std::filesystem::path local = argc > 1 ? std::filesystem::path(argv[1]) : make_sample();
    const std::string local_text = local.string();
    const std::string back_text = local_text + ".back";

    const int opened = QAX_Init();
    std::printf("open controller   %d\n", opened);
    if (opened != 0) return 1;

    const int down = queue([&] {
        return QAX_DownloadFile(kFileType, 0, 0, local_text.c_str(), static_cast<int>(local_text.size()), kBoardName,
                                static_cast<int>(sizeof kBoardName - 1));
    });
    std::printf("download %s as %s   %d\n", local_text.c_str(), kBoardName, down);
    bool ok = down == 0 && follow("downloaded");

    if (ok) {
        const int up = queue([&] {
            return QAX_UploadFile(kFileType, 0, 0, kBoardName, static_cast<int>(sizeof kBoardName - 1),
                                  back_text.c_str(), static_cast<int>(back_text.size()));
        });
        std::printf("upload %s into %s   %d\n", kBoardName, back_text.c_str(), up);
        ok = up == 0 && follow("uploaded");
    }
    // At 100 % the copy is in place: the last block's step renames it.
    const bool same = ok && read_all(local) == read_all(back_text);
    std::printf("%s\n", same ? "the copy is identical" : "the copy is missing or differs");
    std::printf("close controller  %d\n", QAX_Exit());
    if (argc <= 1) {
        std::error_code ignored;
        std::filesystem::remove(local, ignored);
        std::filesystem::remove(back_text, ignored);
    }
    return same ? 0 : 1;
}
