// File-per-value configuration store.
#include "platform/config_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/atomic_file.h"

namespace mk::platform {
namespace {

constexpr const char *kKeyPath = "Tarvelin/Mirelkanzoar/2.7";

std::string UserConfigHome() {
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        if (const passwd *pw = ::getpwuid(::getuid()); pw != nullptr) home = pw->pw_dir;
    }
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::string SystemConfigDir() {
    if (const char *dirs = std::getenv("XDG_CONFIG_DIRS"); dirs != nullptr && dirs[0] == '/') {
        std::string all(dirs);
        return all.substr(0, all.find(':'));
    }
    return "/etc/xdg";
}

bool MakeFolders(const std::string &path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::string ConfigKeyFolder(ConfigRoot root) {
    return (root == ConfigRoot::User ? UserConfigHome() : SystemConfigDir()) + "/" + kKeyPath;
}

std::optional<std::vector<uint8_t>> ReadConfigValue(ConfigRoot root, const std::string &name,
                                                    size_t maxSize) {
    const std::string path = ConfigKeyFolder(root) + "/" + name;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::vector<uint8_t> data(maxSize + 1);
    const size_t got = std::fread(data.data(), 1, data.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || got > maxSize) return std::nullopt;
    data.resize(got);
    return data;
}

bool WriteConfigValue(ConfigRoot root, const std::string &name, const void *data, size_t size) {
    const std::string folder = ConfigKeyFolder(root);
    if (!MakeFolders(folder)) return false;
    return WriteFileAtomically(folder + "/" + name, data, size);
}

}  // namespace mk::platform
