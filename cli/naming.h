// Destination naming: where each source entry is written.
#pragma once

#include <string>
#include <string_view>

#include "path_list.h"
#include "run_state.h"

namespace mk::cli {

// The prefixed copy of a source: the folder part kept, the prefix put in
// front of the file name ("photos/img_1.jpg" -> "photos/stamp_img_1.jpg").
std::string PrefixedName(std::string_view source, std::string_view prefix);

// True when results are written over their sources: always when undoing,
// and when stamping with -O.
bool WritesInPlace(const RunState &state);

// The destination list for the sources, entry for entry.
paths::PathListBuffer BuildDestinations(const paths::PathListBuffer &sources,
                                        const RunState &state);

}  // namespace mk::cli
