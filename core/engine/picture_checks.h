// What the engine refuses before it writes anything: pictures that the
// decoder reads but that an encoder of a stamp or an undo cannot take.
// The crop encoder divides by the quantisation steps and subsamples with
// the picture's factors; every destination codes the coefficients again
// with the standard Huffman tables of 8-bit data, whose codes end at
// eleven bits, and the library's vector coder writes a longer value
// without a word, leaving a file that no longer holds the coefficients.
// Each check returns 0 or kUnsupported, with the reason in errorText.
#pragma once

#include <cstdint>

#include "engine/jpeg_support.h"

namespace mk::engine {

// After the source's coefficients are read: a colour space other than
// grayscale, YCbCr or RGB; sampling factors whose ratios are not whole or
// that need more than 10 blocks in an MCU of one interleaved scan; and a
// quantisation table of a component that is missing, holds a zero or a
// step above 8191 (the encoder divides by eight times the step in 16
// bits) or changes between scans (the library encodes with the table left
// at the end, the blocks were quantised with the one of their scan); and
// a component that no scan holds.
int32_t CheckStampable(j_decompress_ptr picture, char *errorText);

// The quantisation tables of the crop's encoder, on their own: the last
// guard before its divisors are worked out.
int32_t CheckEncoderTables(j_compress_ptr encoder, char *errorText);

// After the coefficients a destination will be written from are in place:
// more than 4 components or 10 blocks per MCU (the destination writes one
// interleaved scan), or a coefficient that 8-bit Huffman coding cannot
// take. DC values are held to -1024..1023, so that every difference
// between neighbours fits eleven bits in whatever order they are coded;
// AC values to -1023..1023. Pictures of 8-bit samples never go beyond.
// May raise a library error through `picture`.
int32_t CheckTranscodable(j_decompress_ptr picture, jvirt_barray_ptr *coefficients,
                          char *errorText);

}  // namespace mk::engine
