// Test pictures made in memory with the JPEG library (size, sampling,
// progressive, restart interval, grayscale, extra segments), and readers
// that give a file's coefficient arrays, quantisation tables and header
// segments for comparisons.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace mk::test {

// An APPn (0xE0..0xEF) or COM (0xFE) segment: its marker and payload.
struct Segment {
    int marker = 0;
    Bytes data;
    bool operator==(const Segment &) const = default;
};

// The colour space of a made picture's data (gray is JpegSpec::gray). CMYK
// and YCCK take the four bytes of each pixel as they are; kTwoComponents
// takes the first two bytes of each pixel as an unnamed colour space.
enum class Colour { kYCbCr, kRgb, kCmyk, kYcck, kTwoComponents };

// One scan of a scan script: the components by index, spectral selection
// and successive approximation.
struct Scan {
    std::vector<int> components;
    int ss = 0, se = 63, ah = 0, al = 0;
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
    Colour colour = Colour::kYCbCr;
    // Sampling factors (h, v) of every component, in place of lumaH and
    // lumaV and the others' 1x1.
    std::vector<std::pair<int, int>> sampling;
    bool arithmetic = false;
    // A scan script of the caller's, in place of the library's.
    std::vector<Scan> scans;
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

// A picture written from made-up coefficients, so that samplings the
// library's own subsampling refuses and any number of components can be
// had: one component per entry of spec.sampling (gray for one, YCbCr for
// three, an unnamed colour space otherwise), spec.scans when given, the
// tables of spec.quality. Fails the calling test and returns nothing when
// the library fails.
Bytes MakeFromCoefficients(const JpegSpec &spec);

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

// Where a marker stands in a file (its FF byte) and its code.
struct MarkerAt {
    size_t offset = 0;
    int code = 0;
};
// Every marker of a file in order, RSTn included, found by walking the
// segment lengths and the entropy-coded data behind each SOS. The walk
// stops at EOI or at the end of the data.
std::vector<MarkerAt> ListMarkers(const Bytes &jpeg);

// Sets entry `index` (zigzag order) of quantisation table `table` in every
// DQT segment that defines it. False when none does or the value does not
// fit the table's precision (8 or 16 bits).
bool SetQuantValue(Bytes *jpeg, int table, int index, unsigned value);

// The file cut before its last scan and ended there with EOI.
Bytes WithoutLastScan(const Bytes &jpeg);

// The stream of former blocks in a stamped picture's reverse marker (of a
// single segment), and the picture with another stream there: the
// segment's length, the marker's total length and its CRC made to fit, as
// a forger would. Fail the calling test when there is no such marker.
Bytes ReverseMarkerStream(const Bytes &stamped);
Bytes WithReverseMarkerStream(const Bytes &stamped, const Bytes &stream);

// Damage that a decoder gets over with a warning, recovering coefficients
// that are not the file's.
enum class Damage {
    kBytesBeforeEoi,  // garbage between the last scan's data and EOI
    kEndOfSegment,    // the last scan's data cut short, EOI behind it
    kBadHuffmanCode,  // a run of one bits in the middle of the first scan
    kHuffmanTable,    // a symbol of the first Huffman table changed
    kMissingRestart,  // the second restart marker gone (needs an interval)
    kLastScan,        // a run of one bits in the middle of the last scan
};
struct Damaged {
    Bytes file;
    size_t at = 0;  // where the damage starts
};
Damaged WithDamage(const Bytes &jpeg, Damage damage);

// One coefficient of one block: component, block row and column, and the
// coefficient's index in natural (row-major) order.
struct CoefficientAt {
    int component = 0;
    unsigned row = 0;
    unsigned column = 0;
    int index = 0;
};
// The picture written again from its coefficients, with `value` at `at`,
// arithmetic coded (which codes any 16-bit value). Fails the calling test
// and returns nothing when the library fails.
Bytes WithCoefficient(const Bytes &jpeg, const CoefficientAt &at, int value);

}  // namespace mk::test
