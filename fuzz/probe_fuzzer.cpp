// Fuzz target: the reverse-marker probe, which walks a file's segments with
// plain byte reads.
#include <cstring>

#include "engine/engine.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const mk::fuzz::ScratchFolder folder;
    folder.WriteInput(data, size);
    char error[mk::engine::kErrorTextSize];
    const int32_t result = mk::engine::ProbeReverseMarker(folder.input().c_str(), error);
    if (result > 0 || std::strlen(error) >= sizeof error) __builtin_trap();
    return 0;
}
