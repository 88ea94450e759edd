// The run state of one mkquill run: everything the options set while the
// arguments are read, used once they have all been read.
#pragma once

#include <cstdint>
#include <string>

#include "MK_Core.h"

namespace mk::cli {

struct RunState {
    int32_t verbosity = 4;
    int32_t operation = OP_STAMP;
    std::string prefix = "stamp_";
    bool showSettings = false;
    bool overwrite = false;
    bool defaultSettings = false;
    bool recursive = false;
    // Empty: no settings file named.
    std::string settingsFile;
    // Files the batch reported as failed.
    uint32_t failures = 0;
};

}  // namespace mk::cli
