// The per-file operations that the batch driver runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "MK_Core.h"
#include "engine/engine.h"

namespace mk::batch {

class BatchResources;

// Stamps source into destination (which may be the same path), with the
// resources of its batch when given. `diskWait` is told when only the
// flush of the destination to disk is left.
// Writes `text` into the report's text, cut to fit its buffer.
void SetReportText(MK_FileReport &report, std::string_view text);

// A failure's reason goes into `report` when given.
int32_t StampFile(const char *source, const char *destination, const Setts *settings,
                  BatchResources *batch = nullptr, const engine::DiskWaitNotice &diskWait = {},
                  MK_FileReport *report = nullptr);
// Takes the stamp off source into destination, with the memory of its
// batch when given.
int32_t UndoStampFile(const char *source, const char *destination, const Setts *settings,
                      BatchResources *batch = nullptr, const engine::DiskWaitNotice &diskWait = {},
                      MK_FileReport *report = nullptr);

// Builds the overlay layer of a stamp of `source` from the settings, with
// the geometry in pixels for a picture of that size.
void FillStampLayer(OverlayLayer &layer, const char *source, const Setts &settings, int32_t width,
                    int32_t height);

}  // namespace mk::batch
