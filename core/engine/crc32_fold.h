// CRC-32 (ISO-HDLC / zlib / PNG) by folding with carry-less multiplication:
// several times faster than a table, which matters for the CRC over every
// coefficient of a picture that each stamp and undo computes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mk::engine {

// True when the processor can fold (carry-less multiplication and SSE4.1).
bool CanFoldCrc32();

// Continues a CRC-32 (as Crc32Update takes and returns it) over `length`
// bytes; length must be a multiple of 16 and at least 64. Only when
// CanFoldCrc32().
uint32_t FoldCrc32(uint32_t crc, const uint8_t *data, size_t length);

}  // namespace mk::engine
