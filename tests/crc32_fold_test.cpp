// Tests of the folded CRC-32 against zlib's table-driven one: every length
// it takes from 64 to 4 KiB, unaligned starts, chained CRCs.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "engine/crc32_fold.h"
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

TEST(FoldCrc32, EqualsTheTableCrcForEveryLengthAndStart) {
    if (!CanFoldCrc32()) GTEST_SKIP() << "no carry-less multiplication";
    const std::vector<uint8_t> data = Noise(8192);
    int compared = 0;
    for (size_t length = 64; length <= 4096; length += 16)
        for (size_t start = 0; start < 16; start += 3)
            for (const uint32_t before : {0u, 0xFFFFFFFFu, 0x1234ABCDu}) {
                ASSERT_EQ(FoldCrc32(before, data.data() + start, length),
                          ZlibCrc(before, data.data() + start, length))
                    << "length " << length << ", start " << start << ", crc " << before;
                ++compared;
            }
    EXPECT_GT(compared, 4000);
}

TEST(FoldCrc32, ZerosAndOnes) {
    if (!CanFoldCrc32()) GTEST_SKIP() << "no carry-less multiplication";
    for (const uint8_t fill : {uint8_t{0}, uint8_t{0xFF}}) {
        const std::vector<uint8_t> data(1 << 16, fill);
        EXPECT_EQ(FoldCrc32(0, data.data(), data.size()), ZlibCrc(0, data.data(), data.size()));
    }
}

TEST(Crc32, LongAndOddLengthsAgreeWithTheTable) {
    const std::vector<uint8_t> data = Noise(100003);
    for (const size_t length : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65},
                                size_t{127}, size_t{1000}, size_t{100003}})
        EXPECT_EQ(Crc32(data.data(), length), ZlibCrc(0, data.data(), length)) << length;
    // The check value of the nine digits.
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
}

}  // namespace
}  // namespace mk::engine
