// Fuzz target: decoding from memory, the size query and the pixels.
#include <cstring>
#include <vector>

#include "engine/engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int32_t width = 0, height = 0;
    char error[mk::engine::kErrorTextSize];
    if (mk::engine::DecodeJpegMemory(data, size, nullptr, &width, &height, error) != 0) return 0;
    // Pictures too big for a fuzzing run are only measured.
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > (1 << 22)) return 0;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    mk::engine::DecodeJpegMemory(data, size, pixels.data(), &width, &height, error);
    if (std::strlen(error) >= sizeof error) __builtin_trap();
    return 0;
}
