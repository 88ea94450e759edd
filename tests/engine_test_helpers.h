// Helpers of the engine tests: reference decoding with djpeg, painting a
// stamp into a pixel buffer, comparing coefficient arrays block by block.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "jpeg_maker.h"
#include "test_support.h"

namespace mk::test {

// A picture rectangle with rows counted from the top, all edges included.
struct TopRect {
    int left, top, right, bottom;
};

// What djpeg makes of a file: width, height, channels (1 or 3) and samples
// top row first, or empty samples when it failed.
struct ReferenceImage {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> samples;
};

inline ReferenceImage DecodeWithDjpeg(const std::string &path, const std::string &folder) {
    ReferenceImage image;
    const std::string out = folder + "/reference.pnm";
    const std::string command = "djpeg -pnm -outfile '" + out + "' '" + path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return image;
    const Bytes data = ReadFile(out);
    std::remove(out.c_str());
    // Header: P5 or P6, width, height, maxval, one whitespace byte.
    size_t p = 2;
    int fields[3] = {0, 0, 0};
    for (int &field : fields) {
        while (p < data.size() && std::isspace(data[p])) ++p;
        while (p < data.size() && std::isdigit(data[p])) field = field * 10 + (data[p++] - '0');
    }
    ++p;
    image.width = fields[0];
    image.height = fields[1];
    image.channels = data.size() > 1 && data[1] == '5' ? 1 : 3;
    image.samples.assign(data.begin() + static_cast<ptrdiff_t>(p), data.end());
    return image;
}

// Paints an opaque two-colour box: what a stamp does to the pixels.
inline void PaintBox(std::vector<uint8_t> *pixels, int width, int height, const TopRect &rect) {
    for (int y = rect.top; y <= rect.bottom; ++y)
        for (int x = rect.left; x <= rect.right; ++x) {
            uint8_t *p = pixels->data() + ((static_cast<size_t>(height) - 1 - y) * width + x) * 4;
            const bool light = ((x / 3) + (y / 5)) % 2 == 0;
            p[0] = light ? 250 : 10;
            p[1] = light ? 240 : 30;
            p[2] = light ? 255 : 200;
        }
}

// Block ranges (both ends included) that a stamp rectangle touches in one
// component: block row of picture row y is (y / fv) / 8.
struct BlockRange {
    unsigned firstRow, lastRow, firstColumn, lastColumn;
    bool Contains(unsigned row, unsigned column) const {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
};

inline BlockRange TouchedRange(const CoefficientImage &image, size_t component,
                               const TopRect &rect) {
    int maxH = 1, maxV = 1;
    for (const auto &c : image.components) {
        maxH = std::max(maxH, c.h);
        maxV = std::max(maxV, c.v);
    }
    const auto &c = image.components[component];
    const int fh = maxH / c.h;
    const int fv = maxV / c.v;
    return BlockRange{
        static_cast<unsigned>(rect.top / fv / 8), static_cast<unsigned>(rect.bottom / fv / 8),
        static_cast<unsigned>(rect.left / fh / 8), static_cast<unsigned>(rect.right / fh / 8)};
}

// Number of blocks (over all components) that differ between a and b;
// blocks for which `skip` is true are not compared.
template <typename Skip>
int DifferingBlocks(const CoefficientImage &a, const CoefficientImage &b, Skip skip) {
    int differing = 0;
    for (size_t c = 0; c < a.components.size(); ++c) {
        const auto &ca = a.components[c];
        const auto &cb = b.components[c];
        for (unsigned row = 0; row < ca.heightInBlocks; ++row)
            for (unsigned column = 0; column < ca.widthInBlocks; ++column) {
                if (skip(c, row, column)) continue;
                if (std::memcmp(ca.Block(row, column), cb.Block(row, column), 128) != 0)
                    ++differing;
            }
    }
    return differing;
}

inline void ExpectSameLayout(const CoefficientImage &a, const CoefficientImage &b) {
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_TRUE(b.ok) << b.error;
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    ASSERT_EQ(a.components.size(), b.components.size());
    for (size_t c = 0; c < a.components.size(); ++c) {
        ASSERT_EQ(a.components[c].h, b.components[c].h);
        ASSERT_EQ(a.components[c].v, b.components[c].v);
        ASSERT_EQ(a.components[c].widthInBlocks, b.components[c].widthInBlocks);
        ASSERT_EQ(a.components[c].heightInBlocks, b.components[c].heightInBlocks);
        EXPECT_EQ(a.components[c].quantTable, b.components[c].quantTable) << "component " << c;
    }
}

// The APPn and COM segments that a rewrite must keep, in order: all but a
// JFIF APP0 or Adobe APP14 (replaced by the library's own) and the reverse
// marker's APP7 segments.
inline std::vector<Segment> CarriedSegments(const Bytes &jpeg) {
    std::vector<Segment> kept;
    for (Segment &s : ReadHeaderSegments(jpeg)) {
        const bool app = s.marker >= 0xE0 && s.marker <= 0xEF;
        if (!app && s.marker != 0xFE) continue;
        const auto startsWith = [&s](const char *text, size_t n) {
            return s.data.size() >= n && std::memcmp(s.data.data(), text, n) == 0;
        };
        if (s.marker == 0xE0 && startsWith("JFIF", 5)) continue;
        if (s.marker == 0xEE && startsWith("Adobe", 5)) continue;
        if (s.marker == 0xE7 && startsWith("TovuMirelkanzoar", 16)) continue;
        kept.push_back(std::move(s));
    }
    return kept;
}

// Decodes a file with the engine; fails the test when that fails.
inline std::vector<uint8_t> DecodeFile(const std::string &path, int *width, int *height) {
    int32_t w = 0, h = 0;
    char error[engine::kErrorTextSize];
    EXPECT_EQ(engine::ReadJpegFile(path.c_str(), nullptr, &w, &h, error), 0) << error;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    EXPECT_EQ(engine::ReadJpegFile(path.c_str(), pixels.data(), &w, &h, error), 0) << error;
    *width = w;
    *height = h;
    return pixels;
}

// Stamps `source` into `destination` with a painted box at `rect`.
inline int32_t StampBox(const std::string &source, const std::string &destination,
                        const TopRect &rect, bool keepUndo, std::string *message = nullptr) {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels = DecodeFile(source, &width, &height);
    PaintBox(&pixels, width, height, rect);
    char error[engine::kErrorTextSize] = "";
    const int32_t result = engine::WriteStampedJpeg(
        source.c_str(), destination.c_str(), pixels.data(), rect.left, height - 1 - rect.bottom,
        rect.right, height - 1 - rect.top, keepUndo ? 1 : 0, error);
    if (message != nullptr) *message = error;
    return result;
}

}  // namespace mk::test

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace mk::test {

// Runs `work` in a child process whose files may not grow beyond `limit`
// bytes (a full disk that always works, also without privileges). Returns
// the engine code the child got, or 1000 when the child crashed.
inline int32_t RunWithFileSizeLimit(rlim_t limit, const std::function<int32_t()> &work) {
    const pid_t pid = fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        const int32_t result = work();
        ::_exit(result <= 0 ? -result : 100 + result);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 1000;
    const int code = WEXITSTATUS(status);
    return code >= 100 ? code - 100 : -code;
}

// The names of the files in a folder, sorted.
inline std::vector<std::string> FolderContents(const std::filesystem::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace mk::test
