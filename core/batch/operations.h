// The per-file operations that the batch driver runs, and the seam through
// which tests replace them.
#pragma once

#include <cstdint>

#include "MK_Core.h"

namespace mk::batch {

// Stamps source into destination (which may be the same path).
int32_t StampFile(const char *source, const char *destination, const Setts *settings);
// Takes the stamp off source into destination.
int32_t UndoStampFile(const char *source, const char *destination, const Setts *settings);

struct FileOperations {
    int32_t (*stamp)(const char *source, const char *destination, const Setts *settings);
    int32_t (*undo)(const char *source, const char *destination, const Setts *settings);
};

// The operations the driver uses: StampFile and UndoStampFile.
FileOperations DefaultOperations();

}  // namespace mk::batch
