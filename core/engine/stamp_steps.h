// The steps of writing a stamped picture that every way of stamping shares:
// planning the touched blocks and the MCU-aligned crop around them, saving
// the former blocks for the reverse marker, encoding the painted crop with
// the picture's own tables, and writing the destination with the new blocks
// swapped in. The steps run inside a function that has armed the recovery
// points of the objects they use; they hold no objects with destructors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/crc_while_writing.h"
#include "engine/crop_blocks.h"
#include "engine/jpeg_support.h"
#include "engine/reverse_marker.h"
#include "platform/atomic_file.h"

namespace mk::engine {

// Touched blocks of one component, both ends included, and where they lie
// in the encoded crop.
struct TouchedBlocks {
    JDIMENSION firstRow, lastRow, firstColumn, lastColumn;
    JDIMENSION cropRow, cropColumn;
};

// A rectangle of picture pixels, x to the right and y down from the top.
struct PixelBox {
    JDIMENSION x, y, width, height;
};

// Painted pixels of a picture area: 4-byte pixels (blue, green, red, x),
// rows without padding, bottom row first; the area's top-left pixel is
// picture pixel (box.x, box.y).
struct PixelArea {
    const uint8_t *pixels;
    PixelBox box;
};

// Everything one stamp owns. It lives outside the function that arms the
// recovery points, so a library failure never jumps over a destructor.
struct StampWork {
    const char *destinationPath = nullptr;
    StampRect rect{};
    bool keepUndo = false;
    char *errorText = nullptr;

    ByteBuffer sourceData;
    ByteBuffer marker;
    ByteBuffer encoded;
    MemorySource sourceInput{};
    MemorySource encodedInput{};
    MemoryDestination markerOutput{};
    MemoryDestination encodedOutput{};
    TouchedBlocks touched[MAX_COMPONENTS]{};
    BlockRect blocks{};
    // The touched blocks as whole MCUs (both ends included) and the pixels
    // they cover, cut at the picture's right and bottom edges.
    JDIMENSION firstMcuRow = 0, lastMcuRow = 0, firstMcuColumn = 0, lastMcuColumn = 0;
    PixelBox crop{};
    size_t markerLength = 0;
    // Where the marker starts in the output and the CRC of its bytes behind
    // the image CRC field, for mending both CRCs after the scan.
    uint64_t markerOffset = 0;
    uint32_t markerTailCrc = 0;
    // With captureCrop the crop's blocks are taken from its encoder
    // (PlaceCropBlocks) instead of coded and read back (ReadNewBlocks).
    bool captureCrop = false;
    // The source's reverse marker was taken off in memory: its segments
    // are not copied to the destination.
    bool dropEarlierMarker = false;
    CropBlocks cropBlocks;
    CrcWhileWriting imageCrc;
    platform::AtomicFile output;
    StreamDestination outputStream{};

    Decompressor source;
    Compressor encoder;
    Decompressor reread;
    Compressor destination;
    Compressor saver;
};

// Writes the message and returns the code.
int32_t Refuse(char *errorText, int32_t code, const char *message);

// Creates the source object over work->sourceData, asks for every
// application and comment segment and reads the header.
void ReadSourceHeader(StampWork *work);

// After the source's header: checks the sampling and the rectangle and
// plans the touched blocks and the crop. 0 or a refusal code.
int32_t PlanStamp(StampWork *work);

// After the source's coefficients are read (and an earlier stamp's
// blocks put back): kUnsupported when the stamp's encoders cannot take
// the picture (engine/picture_checks.h), or when it keeps undo data and
// the picture holds a reverse marker that is not being taken off. Nothing
// has been written then.
int32_t CheckSource(StampWork *work, jvirt_barray_ptr *sourceCoefficients);

// With keepUndo, encodes the former blocks of the saved rectangle into
// work->marker behind the header gap (before any block is replaced).
// 0 or a negative code.
int32_t SaveFormerBlocks(StampWork *work, jvirt_barray_ptr *sourceCoefficients);

// Encodes the crop's painted pixels, which `area` must hold, with the
// source's tables and sampling into work->encoded.
int32_t EncodeCrop(StampWork *work, const PixelArea &area);

// The same in steps, for pixels that arrive row by row: start, then the
// crop's rows top to bottom (crop.width 4-byte pixels each), then finish.
int32_t StartCropEncoder(StampWork *work);
void WriteCropRow(StampWork *work, const uint8_t *row);
void FinishCropEncoder(StampWork *work);

// Reads the encoded crop back and puts its touched blocks into the source's
// coefficients. 0 or a negative code.
int32_t ReadNewBlocks(StampWork *work, jvirt_barray_ptr *sourceCoefficients);
// With captureCrop, after FinishCropEncoder: puts the touched blocks taken
// from the crop's encoder into the source's coefficients and lets the
// encoder go. 0 or a negative code.
int32_t PlaceCropBlocks(StampWork *work, jvirt_barray_ptr *sourceCoefficients);

// Opens the destination and starts writing the source's coefficients, its
// segments and (with keepUndo) the reverse marker; the blocks are read when
// the destination finishes. `gate`, when given, is called before the encoder
// reads rows of a component, so the new blocks may still be on their way.
// Messages go to `errorText`. 0 or a negative code.
int32_t StartDestination(StampWork *work, jvirt_barray_ptr *sourceCoefficients, char *errorText,
                         CrcWhileWriting::Gate gate);
// Writes the scan and mends the marker's CRCs. 0 or a negative code.
int32_t FinishDestination(StampWork *work, char *errorText);

// All of it in turn: the new blocks, the destination, then the source is
// finished. 0 or a negative code.
int32_t WriteDestination(StampWork *work, jvirt_barray_ptr *sourceCoefficients);

// Renames the finished output over the destination.
int32_t CommitDestination(StampWork *work);

}  // namespace mk::engine
