// Destination naming.
#include "naming.h"

namespace mk::cli {

std::string PrefixedName(std::string_view source, std::string_view prefix) {
    // Splitting into folder, base name and extension and joining them again
    // with the prefix before the base name comes down to this: the folder
    // part stays, the prefix goes in front of the rest. Nothing is cut; a
    // result too long for the batch is refused by it, file by file.
    const size_t slash = source.rfind('/');
    const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::string name(source.substr(0, nameStart));
    name += prefix;
    name += source.substr(nameStart);
    return name;
}

bool WritesInPlace(const RunState &state) {
    return state.operation == OP_UNDO || (state.operation == OP_STAMP && state.overwrite);
}

paths::PathListBuffer BuildDestinations(const paths::PathListBuffer &sources,
                                        const RunState &state) {
    // MK_MAX_PATH bytes per entry fit every destination the batch accepts;
    // longer ones grow the buffer like the source list.
    paths::PathListBuffer destinations(sources.count() * MK_MAX_PATH);
    const bool inPlace = WritesInPlace(state);
    for (const std::string &source : sources.Entries())
        destinations.Add(inPlace ? source : PrefixedName(source, state.prefix));
    return destinations;
}

}  // namespace mk::cli
