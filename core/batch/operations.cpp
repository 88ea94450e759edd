// The per-file stamp and undo operations.
#include "batch/operations.h"

namespace mk::batch {

// Not built yet: every file fails with -1 until stamping and undo are wired
// to the engine, metadata and overlay.
int32_t StampFile(const char *, const char *, const Setts *) { return -1; }
int32_t UndoStampFile(const char *, const char *, const Setts *) { return -1; }

}  // namespace mk::batch
