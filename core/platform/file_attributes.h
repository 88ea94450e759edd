// The identity of a file beyond its content: owner, group, permission bits
// and extended attributes (POSIX ACLs are kept in two of them), read from
// one file and given to another.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

namespace mk::platform {

struct Attribute {
    std::string name;
    std::vector<char> value;
};

// Every extended attribute of the file open as `fd`, or when `fd` is
// negative of the file at `path` (a link itself is not followed). Empty
// when the file system keeps none; nullopt (errno set) when they cannot be
// read.
std::optional<std::vector<Attribute>> ReadAttributes(int fd, const std::string &path);

// Gives the file open as `fd` exactly the owner, group and permission bits
// of `st` and exactly `attributes` (it loses any others, such as an ACL
// taken from its folder). False (errno set) when any of it cannot be given.
bool GiveIdentity(int fd, const struct stat &st, const std::vector<Attribute> &attributes);

// Puts back, as far as the caller may, what writing into the file open as
// `fd` took from the identity it had (`st`, `attributes`): the kernel drops
// setuid and setgid bits and file capabilities on a write.
void MendIdentity(int fd, const struct stat &st, const std::vector<Attribute> &attributes);

}  // namespace mk::platform
