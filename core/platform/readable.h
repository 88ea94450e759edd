// Why a path cannot be read as a picture, asked before any file is opened,
// so that a refusal can say so in words.
#pragma once

#include <string>

namespace mk::platform {

struct ReadProblem {
    enum Kind { kNone, kMissing, kFolder, kNotRegular, kDenied };
    Kind kind = kNone;
    int error = 0;  // errno of the failed check, for kDenied
};

// kNone when `path` names a regular file (through any links) that the caller
// may read.
ReadProblem WhyNotReadable(const char *path);

// The system's words for an errno value.
std::string ErrorName(int error);

}  // namespace mk::platform
