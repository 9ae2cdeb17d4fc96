// A fresh temporary run directory, set as QAX_RUN_DIR while the object
// lives. On the way out it stops the services started in it (Windows: stops
// and deletes the services of its scoped names) and removes the directory,
// and restores QAX_RUN_DIR. (Named mutexes go with their last handle, so
// nothing of them is left to clean up.)
#pragma once

#include <optional>
#include <string>

namespace qax_test {

class TempRunDir {
public:
    TempRunDir();
    ~TempRunDir();
    TempRunDir(const TempRunDir &) = delete;
    TempRunDir &operator=(const TempRunDir &) = delete;

    const std::string &path() const { return path_; }

private:
    std::string path_;
    std::optional<std::string> previous_;
};

}  // namespace qax_test
