// A scratch file for fuzz targets whose entry points take paths: one per
// process, rewritten for every input and removed at exit.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace mk::fuzz {

class ScratchFolder {
  public:
    ScratchFolder() {
        char pattern[] = "/tmp/mkfuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        folder_ = pattern;
    }
    ~ScratchFolder() {
        for (const char *name : {"in.jpg", "out.jpg", "undone.jpg", "reference.jpg"})
            std::remove(file(name).c_str());
        ::rmdir(folder_.c_str());
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    std::string input() const { return file("in.jpg"); }
    std::string output() const { return file("out.jpg"); }
    // Another file of the folder: undone.jpg or reference.jpg.
    std::string file(const char *name) const { return folder_ + "/" + name; }

    // Writes the fuzz input as the whole content of input().
    void WriteInput(const uint8_t *data, size_t size) const {
        FILE *file = std::fopen(input().c_str(), "wb");
        if (file == nullptr) std::abort();
        if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
        std::fclose(file);
    }

  private:
    std::string folder_;
};

}  // namespace mk::fuzz
