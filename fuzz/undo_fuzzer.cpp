// Fuzz target: undo, with the reverse-marker loader, its checks and the
// reading of the embedded stream, on arbitrary files.
#include <cstdio>
#include <cstring>

#include "engine/engine.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const mk::fuzz::ScratchFolder folder;
    folder.WriteInput(data, size);
    char error[mk::engine::kErrorTextSize];
    const int32_t result =
        mk::engine::UndoStampedJpeg(folder.input().c_str(), folder.output().c_str(), error);
    if (result > 0 || std::strlen(error) >= sizeof error) __builtin_trap();
    std::remove(folder.output().c_str());
    return 0;
}
