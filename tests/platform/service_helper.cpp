// Stands in for a service: records that it started and with which run
// directory, then runs until it is killed (at most 30 s).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main() {
    const char *run_dir = std::getenv("QAX_RUN_DIR");
    if (run_dir == nullptr) return 1;
    {
        std::ofstream marker(std::string(run_dir) + "/service-helper-started.tmp");
        marker << getpid() << "\n";
    }
    std::rename((std::string(run_dir) + "/service-helper-started.tmp").c_str(),
                (std::string(run_dir) + "/service-helper-started").c_str());
    std::this_thread::sleep_for(std::chrono::seconds(30));
    return 0;
}
