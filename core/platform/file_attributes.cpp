// Owner, group, permission bits and extended attributes, copied by hand.
#include "platform/file_attributes.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace mk::platform {
namespace {

// The value may change between asking its size and reading it: a few tries.
constexpr int kTries = 8;

bool Unsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

std::optional<std::vector<std::string>> AttributeNames(int fd, const std::string &path) {
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const ssize_t size =
            fd >= 0 ? ::flistxattr(fd, nullptr, 0) : ::llistxattr(path.c_str(), nullptr, 0);
        if (size < 0) {
            if (Unsupported(errno)) return std::vector<std::string>{};
            return std::nullopt;
        }
        std::vector<char> list(static_cast<size_t>(size) + 1);
        const ssize_t got = fd >= 0 ? ::flistxattr(fd, list.data(), list.size())
                                    : ::llistxattr(path.c_str(), list.data(), list.size());
        if (got < 0) {
            if (errno == ERANGE) continue;
            return std::nullopt;
        }
        // The names, each ended by a NUL.
        std::vector<std::string> names;
        for (size_t at = 0; at < static_cast<size_t>(got);) {
            const std::string name(list.data() + at);
            at += name.size() + 1;
            if (!name.empty()) names.push_back(name);
        }
        return names;
    }
    errno = ERANGE;
    return std::nullopt;
}

// nullopt with ENODATA when the file has no such attribute.
std::optional<std::vector<char>> AttributeValue(int fd, const std::string &path,
                                                const std::string &name) {
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const ssize_t size = fd >= 0 ? ::fgetxattr(fd, name.c_str(), nullptr, 0)
                                     : ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) return std::nullopt;
        std::vector<char> value(static_cast<size_t>(size));
        const ssize_t got =
            fd >= 0 ? ::fgetxattr(fd, name.c_str(), value.data(), value.size())
                    : ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0) {
            if (errno == ERANGE) continue;
            return std::nullopt;
        }
        value.resize(static_cast<size_t>(got));
        return value;
    }
    errno = ERANGE;
    return std::nullopt;
}

bool SetAttribute(int fd, const Attribute &attribute) {
    return ::fsetxattr(fd, attribute.name.c_str(), attribute.value.data(), attribute.value.size(),
                       0) == 0;
}

}  // namespace

std::optional<std::vector<Attribute>> ReadAttributes(int fd, const std::string &path) {
    const auto names = AttributeNames(fd, path);
    if (!names) return std::nullopt;
    std::vector<Attribute> attributes;
    for (const std::string &name : *names) {
        auto value = AttributeValue(fd, path, name);
        if (!value) {
            // Removed since it was listed.
            if (errno == ENODATA) continue;
            return std::nullopt;
        }
        attributes.push_back({name, std::move(*value)});
    }
    return attributes;
}

bool GiveIdentity(int fd, const struct stat &st, const std::vector<Attribute> &attributes) {
    const auto own = AttributeNames(fd, {});
    if (!own) return false;
    for (const std::string &name : *own) {
        const bool wanted = std::any_of(attributes.begin(), attributes.end(),
                                        [&](const Attribute &a) { return a.name == name; });
        if (!wanted && ::fremovexattr(fd, name.c_str()) != 0 && errno != ENODATA) return false;
    }
    struct stat now {};
    if (::fstat(fd, &now) != 0) return false;
    if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
        ::fchown(fd, st.st_uid, st.st_gid) != 0)
        return false;
    for (const Attribute &attribute : attributes)
        if (!SetAttribute(fd, attribute)) return false;
    // Last: a change of owner drops setuid and setgid, and an access ACL
    // sets the group bits from its mask.
    if (::fchmod(fd, st.st_mode & 07777) != 0 || ::fstat(fd, &now) != 0) return false;
    if (now.st_uid != st.st_uid || now.st_gid != st.st_gid ||
        (now.st_mode & 07777) != (st.st_mode & 07777)) {
        errno = EPERM;
        return false;
    }
    return true;
}

void MendIdentity(int fd, const struct stat &st, const std::vector<Attribute> &attributes) {
    for (const Attribute &attribute : attributes)
        if (!AttributeValue(fd, {}, attribute.name) && errno == ENODATA)
            SetAttribute(fd, attribute);
    struct stat now {};
    if (::fstat(fd, &now) == 0 && (now.st_mode & 07777) != (st.st_mode & 07777))
        ::fchmod(fd, st.st_mode & 07777);
}

}  // namespace mk::platform
