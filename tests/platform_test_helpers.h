// Helpers of the platform tests: a scratch folder on the build folder's disk
// (which keeps extended attributes and ACLs, unlike some temporary folders),
// the names a folder holds, a file's status, and running a piece of a test
// in a child process (as another user, or one that may be killed).
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace mk::test {

// A fresh folder under the build folder, removed with its contents.
class DiskFolder {
  public:
    DiskFolder() {
        const std::filesystem::path root = std::filesystem::path(MK_BUILD_DIR) / "platform-scratch";
        std::filesystem::create_directories(root);
        std::string templ = (root / "run-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = templ;
        // Other users (the tests' second uid) must be able to reach it.
        ::chmod(path_.c_str(), 0755);
    }
    ~DiskFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    DiskFolder(const DiskFolder &) = delete;
    DiskFolder &operator=(const DiskFolder &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// The names in a folder, sorted.
inline std::vector<std::string> Entries(const std::filesystem::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline struct stat StatOf(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) ADD_FAILURE() << "cannot stat " << path;
    return st;
}

// Runs `body` in a child process and returns its exit status (the value it
// returns) or -signal when it was killed; -1000 when it ran over `seconds`.
inline int RunInChild(const std::function<int()> &body, int seconds = 20) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    if (child < 0) return -2000;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (std::chrono::steady_clock::now() > end) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1000;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace mk::test
