// The engine's own coefficient arrays: memory handed from one picture to
// the next must decode exactly as fresh memory does, and every access keeps
// the library's rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/block_arrays.h"
#include "engine/jpeg_support.h"
#include "jpeg_maker.h"
#include "platform/pages.h"

namespace {

using mk::engine::ArrayStore;
using mk::engine::CoefficientMemory;
using mk::engine::Compressor;
using mk::engine::Decompressor;
using mk::platform::Pages;
using mk::test::Bytes;
using mk::test::CoefficientImage;

// A buffer of garbage, as a picture of the batch leaves it.
void GiveDirtyBuffer(CoefficientMemory *memory, size_t bytes) {
    Pages pages = Pages::Zeroed(bytes);
    ASSERT_TRUE(pages);
    std::memset(pages.data(), 0x5A, pages.size());
    memory->Give(std::move(pages));
}

struct StoreRead {
    Decompressor decoder;
    mk::engine::MemorySource input;
    char errorText[256] = "";
    jvirt_barray_ptr *arrays = nullptr;
};

// Reads the coefficients through an engine decoder; no destructible locals
// here, library errors jump back.
bool ReadThroughStore(StoreRead *read, const Bytes &jpeg, CoefficientMemory *memory) {
    if (setjmp(read->decoder.error.recovery)) return false;
    read->decoder.Create(read->errorText);
    read->decoder.arrays.UseMemory(memory);
    j_decompress_ptr info = read->decoder.get();
    mk::engine::AttachMemorySource(info, &read->input, jpeg.data(), jpeg.size());
    jpeg_read_header(info, TRUE);
    read->arrays = jpeg_read_coefficients(info);
    return true;
}

// Compares every block the engine decoder holds with the library's own read.
void ExpectSameBlocks(StoreRead *read, const CoefficientImage &expected) {
    j_decompress_ptr info = read->decoder.get();
    ASSERT_EQ(static_cast<size_t>(info->num_components), expected.components.size());
    for (int c = 0; c < info->num_components; ++c) {
        const auto &want = expected.components[static_cast<size_t>(c)];
        for (unsigned row = 0; row < want.heightInBlocks; ++row) {
            JBLOCKARRAY blocks = (*info->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(info), read->arrays[c], row, 1, FALSE);
            ASSERT_EQ(
                std::memcmp(blocks[0], want.Block(row, 0), want.widthInBlocks * sizeof(JBLOCK)), 0)
                << "component " << c << ", block row " << row;
        }
    }
}

TEST(BlockArrays, MemoryLeftByAnotherPictureDecodesAsFreshMemory) {
    struct Case {
        const char *name;
        mk::test::JpegSpec spec;
    };
    const Case cases[] = {
        {"4:2:0", mk::test::Layout(1200, 900, 2, 2)},
        {"4:2:2 with restarts", mk::test::Layout(1000, 700, 2, 1, false, false, 7)},
        {"4:4:4", mk::test::Layout(900, 640, 1, 1)},
        {"gray", mk::test::Layout(1500, 1100, 1, 1, true)},
        // Later scans add to the blocks of the first: nothing may be left
        // over from the memory's last picture.
        {"progressive 4:2:0", mk::test::Layout(1200, 900, 2, 2, false, true)},
        {"progressive gray", mk::test::Layout(1500, 1100, 1, 1, true, true)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes jpeg = mk::test::MakeJpeg(c.spec);
        const CoefficientImage expected = mk::test::ReadCoefficients(jpeg);
        ASSERT_TRUE(expected.ok) << expected.error;

        CoefficientMemory memory(2);
        GiveDirtyBuffer(&memory, size_t{32} << 20);
        StoreRead read;
        ASSERT_TRUE(ReadThroughStore(&read, jpeg, &memory)) << read.errorText;
        // The dirty buffer is in use: what is left to take is new memory.
        bool zeroed = false;
        (void)memory.Take(1 << 20, &zeroed);
        EXPECT_TRUE(zeroed);
        ExpectSameBlocks(&read, expected);

        // And the same picture in memory new from the system.
        StoreRead fresh;
        ASSERT_TRUE(ReadThroughStore(&fresh, jpeg, nullptr)) << fresh.errorText;
        ExpectSameBlocks(&fresh, expected);
    }
}

struct Access {
    JDIMENSION startRow;
    JDIMENSION rows;
    bool writable;
};

struct AccessRun {
    Compressor encoder;
    char errorText[256] = "";
    jvirt_barray_ptr array = nullptr;
    int failedAt = -1;
    bool allZero = true;
};

// Each access in turn on a fresh 6-row array (3 at a time at most); a
// writable access stamps the first coefficient of its rows with 7. Stops at
// the first failure. In a pre-zeroed array every row read must hold zeroes
// but for that stamp.
void RunAccesses(AccessRun *run, bool preZero, const Access *accesses, int count,
                 CoefficientMemory *memory) {
    volatile int at = 0;
    if (setjmp(run->encoder.error.recovery)) {
        run->failedAt = at;
        return;
    }
    run->encoder.Create(run->errorText);
    run->encoder.arrays.UseMemory(memory);
    auto *info = reinterpret_cast<j_common_ptr>(run->encoder.get());
    // Wide enough for the memory's buffers to be kept and handed out.
    run->array = run->encoder.arrays.Request(info, preZero, 4096, 6, 3);
    run->encoder.arrays.Realize(info);
    while (at < count) {
        const Access &a = accesses[at];
        JBLOCKARRAY rows =
            (*info->mem->access_virt_barray)(info, run->array, a.startRow, a.rows, a.writable);
        for (JDIMENSION r = 0; r < a.rows; ++r) {
            if (a.writable) rows[r][0][0] = 7;
            if (preZero && (rows[r][4095][63] != 0 || rows[r][0][1] != 0)) run->allZero = false;
        }
        at = at + 1;
    }
}

TEST(BlockArrays, AccessKeepsTheLibraryRules) {
    struct Case {
        const char *name;
        bool preZero;
        std::vector<Access> accesses;
        int failsAt;  // -1: none fails
    };
    const Case cases[] = {
        {"rows written in order, then read",
         false,
         {{0, 3, true}, {3, 3, true}, {0, 3, false}},
         -1},
        {"a pre-zeroed array reads zeroes ahead of the writer",
         true,
         {{0, 1, true}, {3, 3, false}, {1, 3, true}, {0, 3, false}},
         -1},
        {"reading rows never written", false, {{0, 1, true}, {1, 1, false}}, 1},
        {"a writer skipping rows", true, {{0, 1, true}, {2, 1, true}}, 1},
        {"past the last row", true, {{5, 2, false}}, 0},
        {"more rows than asked for at once", true, {{0, 4, true}}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Over memory that held other rows before.
        CoefficientMemory memory(1);
        GiveDirtyBuffer(&memory, size_t{4} << 20);
        AccessRun run;
        RunAccesses(&run, c.preZero, c.accesses.data(), static_cast<int>(c.accesses.size()),
                    &memory);
        EXPECT_EQ(run.failedAt, c.failsAt) << run.errorText;
        if (c.failsAt >= 0) {
            EXPECT_STREQ(run.errorText, "Bogus virtual array access");
        }
        EXPECT_TRUE(run.allZero);
    }
}

TEST(CoefficientMemory, HandsOutTheSmallestBufferThatFitsAndKeepsTheLargest) {
    CoefficientMemory memory(2);
    for (size_t mib : {2, 8, 4}) {
        Pages pages = Pages::Zeroed(mib << 20);
        ASSERT_TRUE(pages);
        memory.Give(std::move(pages));
    }
    // Buffers too small to be worth keeping go back to the system.
    memory.Give(Pages::Zeroed(512 << 10));
    bool zeroed = true;
    Pages taken = memory.Take(3 << 20, &zeroed);
    EXPECT_EQ(taken.size(), size_t{4} << 20);
    EXPECT_FALSE(zeroed);
    taken = memory.Take(1 << 20, &zeroed);
    EXPECT_EQ(taken.size(), size_t{8} << 20);
    EXPECT_FALSE(zeroed);
    // The 2 MiB one went when the third was given; nothing is left now.
    taken = memory.Take(1 << 20, &zeroed);
    EXPECT_TRUE(zeroed);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken.size(), size_t{1} << 20);
}

// A batch of mixed sizes keeps no buffer for every size it met: memory for
// a picture larger than all kept takes the place of the largest.
TEST(CoefficientMemory, APictureLargerThanAllKeptTakesThePlaceOfTheLargest) {
    CoefficientMemory memory(3);
    for (size_t mib : {2, 8, 4}) memory.Give(Pages::Zeroed(mib << 20));
    bool zeroed = false;
    Pages large = memory.Take(16 << 20, &zeroed);
    ASSERT_TRUE(large);
    EXPECT_TRUE(zeroed);
    EXPECT_GE(large.size(), size_t{16} << 20);
    // Only the 8 MiB one went.
    Pages middle = memory.Take(3 << 20, &zeroed);
    EXPECT_FALSE(zeroed);
    EXPECT_EQ(middle.size(), size_t{4} << 20);
    Pages small = memory.Take(1 << 20, &zeroed);
    EXPECT_FALSE(zeroed);
    EXPECT_EQ(small.size(), size_t{2} << 20);
    // Given back, the 16 MiB one serves the next picture of 8 MiB.
    memory.Give(std::move(large));
    Pages again = memory.Take(8 << 20, &zeroed);
    EXPECT_FALSE(zeroed);
    EXPECT_GE(again.size(), size_t{16} << 20);
}

TEST(Pages, AreZeroedAndAligned) {
    for (size_t bytes : {size_t{100}, size_t{64} << 10, size_t{3} << 20, (size_t{5} << 20) + 3}) {
        SCOPED_TRACE(bytes);
        Pages pages = Pages::Zeroed(bytes);
        ASSERT_TRUE(pages);
        EXPECT_GE(pages.size(), bytes);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pages.data()) % 64, 0u);
        const auto *p = static_cast<const uint8_t *>(pages.data());
        size_t nonzero = 0;
        for (size_t i = 0; i < bytes; ++i) nonzero += p[i] != 0;
        EXPECT_EQ(nonzero, 0u);
        std::memset(pages.data(), 1, bytes);  // all of it may be written
    }
    EXPECT_FALSE(Pages::Zeroed(0));
}

}  // namespace
