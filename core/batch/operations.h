// The per-file operations that the batch driver runs.
#pragma once

#include <cstdint>

#include "MK_Core.h"

namespace mk::batch {

// Stamps source into destination (which may be the same path).
int32_t StampFile(const char *source, const char *destination, const Setts *settings);
// Takes the stamp off source into destination.
int32_t UndoStampFile(const char *source, const char *destination, const Setts *settings);

}  // namespace mk::batch
