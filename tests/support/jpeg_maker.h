// Test pictures made in memory with the JPEG library (size, sampling,
// progressive, restart interval, grayscale, extra segments), and readers
// that give a file's coefficient arrays, quantisation tables and header
// segments for comparisons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace mk::test {

// An APPn (0xE0..0xEF) or COM (0xFE) segment: its marker and payload.
struct Segment {
    int marker = 0;
    Bytes data;
    bool operator==(const Segment &) const = default;
};

struct JpegSpec {
    int width = 64;
    int height = 48;
    // Sampling factors of the first component; the others are 1x1.
    int lumaH = 2;
    int lumaV = 2;
    bool gray = false;
    bool progressive = false;
    int restartInterval = 0;  // in MCUs; 0: none
    int quality = 85;
    // False lets low qualities take quantisation steps above 255 (tables
    // of 16-bit values).
    bool baseline = true;
    bool jfif = true;               // the library's own JFIF APP0 segment
    std::vector<Segment> segments;  // written in order after SOI (and JFIF)
};

// A spec of that size and luma sampling, with the other fields as given.
JpegSpec Layout(int width, int height, int lumaH, int lumaV, bool gray = false,
                bool progressive = false, int restartInterval = 0);

// Pixels are 4 bytes (blue, green, red, unused), bottom row first.
using Pixels = std::vector<uint8_t>;

// A deterministic textured picture of width x height.
Pixels PatternPixels(int width, int height);

// Encodes pixels (PatternPixels when empty) with the parameters given.
// Fails the calling test and returns nothing when the library fails.
Bytes MakeJpeg(const JpegSpec &spec, const Pixels &pixels = {});

// A few hundred bytes of a gray picture whose frame header declares
// 57207 x 26008 pixels.
Bytes TinyFileOfAHugePicture();

// Encodes a whole picture of the source's size with the source's
// quantisation tables, sampling and colour space (the reference for blocks
// re-encoded under a stamp).
Bytes EncodeWithParametersOf(const Bytes &source, const Pixels &pixels);

// Quantised DCT coefficients of a picture as the library reads them.
struct CoefficientImage {
    struct Component {
        int id = 0;
        int h = 0;
        int v = 0;
        unsigned widthInBlocks = 0;
        unsigned heightInBlocks = 0;
        std::vector<uint16_t> quantTable;   // 64 values, natural order
        std::vector<int16_t> coefficients;  // 64 per block, block rows top first
        const int16_t *Block(unsigned row, unsigned column) const {
            return coefficients.data() + (static_cast<size_t>(row) * widthInBlocks + column) * 64;
        }
    };
    bool ok = false;
    std::string error;
    unsigned width = 0;
    unsigned height = 0;
    bool progressive = false;
    std::vector<Component> components;
};
CoefficientImage ReadCoefficients(const Bytes &jpeg);

// The segments between SOI and the first SOS, every marker included (APPn,
// COM, DQT, SOF, DHT, DRI ...), by a plain walk of the segment lengths.
std::vector<Segment> ReadHeaderSegments(const Bytes &jpeg);

// The identifier-carrying APP7 segments among them.
int CountReverseMarkerSegments(const Bytes &jpeg);

}  // namespace mk::test
