// The store of the stored preferences: one file per value under the user's
// ($XDG_CONFIG_HOME, default ~/.config) or the system's (first folder of
// $XDG_CONFIG_DIRS, default /etc/xdg) configuration folder, then
// Tarvelin/Mirelkanzoar/2.7/. Writes are atomic and flushed to disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mk::platform {

enum class ConfigRoot { User, System };

// The folder that holds the values of the key under that root.
std::string ConfigKeyFolder(ConfigRoot root);

// The value's bytes; nullopt when it is missing, unreadable or longer than
// maxSize bytes.
std::optional<std::vector<uint8_t>> ReadConfigValue(ConfigRoot root, const std::string &name,
                                                    size_t maxSize);

// Creates the key's folder when needed and replaces the value atomically.
bool WriteConfigValue(ConfigRoot root, const std::string &name, const void *data, size_t size);

}  // namespace mk::platform
