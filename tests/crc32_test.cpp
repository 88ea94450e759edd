// Tests of the CRC-32 against zlib's: every length from 0 to 4 KiB, unaligned
// starts, chained pieces, long runs and the check value.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "engine/engine.h"

namespace mk::engine {
namespace {

std::vector<uint8_t> Noise(size_t size) {
    std::vector<uint8_t> data(size);
    uint32_t state = 1;
    for (uint8_t &b : data) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return data;
}

uint32_t ZlibCrc(uint32_t crc, const uint8_t *data, size_t length) {
    return static_cast<uint32_t>(::crc32(crc, data, static_cast<uInt>(length)));
}

TEST(Crc32, EqualsZlibForEveryLengthStartAndPreviousCrc) {
    const std::vector<uint8_t> data = Noise(8192);
    int compared = 0;
    for (size_t length = 0; length <= 4096; length += 7)
        for (size_t start = 0; start < 16; start += 5)
            for (const uint32_t before : {0u, 0xFFFFFFFFu, 0x1234ABCDu}) {
                ASSERT_EQ(Crc32Update(before, data.data() + start, length),
                          ZlibCrc(before, data.data() + start, length))
                    << "length " << length << ", start " << start << ", crc " << before;
                ++compared;
            }
    EXPECT_GT(compared, 2000);
}

TEST(Crc32, ChainedPiecesEqualTheWhole) {
    const std::vector<uint8_t> data = Noise(100003);
    uint32_t crc = 0;
    for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 + 1)
        crc = Crc32Update(crc, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(crc, ZlibCrc(0, data.data(), data.size()));
    EXPECT_EQ(Crc32(data.data(), data.size()), crc);
}

TEST(Crc32, ZerosOnesAndTheCheckValue) {
    for (const uint8_t fill : {uint8_t{0}, uint8_t{0xFF}}) {
        const std::vector<uint8_t> data(1 << 16, fill);
        EXPECT_EQ(Crc32(data.data(), data.size()), ZlibCrc(0, data.data(), data.size()));
    }
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(Crc32, CombineEqualsTheCrcOfTheConcatenation) {
    const std::vector<uint8_t> data = Noise(5000);
    for (const size_t cut : {size_t{0}, size_t{1}, size_t{127}, size_t{4096}, size_t{5000}}) {
        const uint32_t a = Crc32(data.data(), cut);
        const uint32_t b = Crc32(data.data() + cut, data.size() - cut);
        EXPECT_EQ(Crc32Combine(a, b, data.size() - cut), Crc32(data.data(), data.size()))
            << "cut at " << cut;
    }
    // Lengths past the 1 GiB steps, against zlib's 64-bit offsets.
    static_assert(sizeof(z_off_t) == 8, "the reference needs 64-bit offsets");
    for (const uint64_t length :
         {uint64_t{1} << 30, (uint64_t{1} << 30) + 1, (uint64_t{3} << 30) + 77, uint64_t{1} << 33})
        EXPECT_EQ(Crc32Combine(0x1234ABCDu, 0x0F0F0F0Fu, length),
                  ::crc32_combine(0x1234ABCDu, 0x0F0F0F0Fu, static_cast<z_off_t>(length)))
            << length;
}

}  // namespace
}  // namespace mk::engine
