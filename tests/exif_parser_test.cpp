// Tests of the EXIF parser: byte orders, tag precedence, limits of the walk
// and segments with offsets that point outside their data.
#include "metadata/exif_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "metadata_test_builders.h"

namespace mk::metadata {
namespace {

using test::Bytes;
using test::DatedTiff;
using test::DateEntry;
using test::ExifSegment;
using test::kAscii;
using test::kLong;
using test::kShort;
using test::Tiff;

std::string Parse(const Bytes &segment, ExifWalkStats *stats = nullptr) {
    DateTimeText text = {};
    const ExifWalkStats s = ParseExifSegment(segment, text);
    if (stats) *stats = s;
    EXPECT_EQ(text[19], '\0');
    return text;
}

std::string ParseTiff(const Bytes &tiff, ExifWalkStats *stats = nullptr) {
    return Parse(ExifSegment(tiff), stats);
}

TEST(ByteView, ContainsNeverWraps) {
    const uint8_t bytes[10] = {};
    const ByteView view(bytes, false);
    struct Case {
        uint64_t offset, length;
        bool inside;
    };
    const Case cases[] = {{0, 0, true},           {0, 10, true},         {9, 1, true},
                          {10, 0, true},          {10, 1, false},        {0, 11, false},
                          {11, 0, false},         {5, 6, false},         {UINT64_MAX, 2, false},
                          {2, UINT64_MAX, false}, {0xFFFFFFFF, 4, false}};
    for (const Case &c : cases)
        EXPECT_EQ(view.Contains(c.offset, c.length), c.inside) << c.offset << "+" << c.length;
}

TEST(ByteView, ReadsBothByteOrders) {
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ByteView(bytes, true).U16(0), 0x1234);
    EXPECT_EQ(ByteView(bytes, false).U16(0), 0x3412);
    EXPECT_EQ(ByteView(bytes, true).U32(0), 0x12345678u);
    EXPECT_EQ(ByteView(bytes, false).U32(0), 0x78563412u);
    EXPECT_EQ(ByteView(bytes, true).U16(2), 0x5678);
    EXPECT_FALSE(ByteView(bytes, true).U16(3));
    EXPECT_FALSE(ByteView(bytes, true).U32(1));
}

TEST(ExifParser, BigAndLittleEndianDateTimeOriginal) {
    EXPECT_EQ(ParseTiff(DatedTiff(true, "", "2011:07:04 18:30:05", "")), "2011:07:04 18:30:05");
    EXPECT_EQ(ParseTiff(DatedTiff(false, "", "2011:07:04 18:30:05", "")), "2011:07:04 18:30:05");
}

TEST(ExifParser, Precedence) {
    struct Case {
        const char *dateTime, *original, *digitized, *expected;
    };
    const Case cases[] = {
        // DateTimeOriginal wins although DateTime comes first in the walk.
        {"2010:01:01 00:00:00", "2011:07:04 18:30:05", "", "2011:07:04 18:30:05"},
        // A DateTime of spaces and colons gives way to DateTimeDigitized.
        {"    :  :     :  :  ", "", "2009:12:24 20:00:00", "2009:12:24 20:00:00"},
        // The first digit-led DateTime or DateTimeDigitized stays.
        {"2010:01:01 00:00:00", "", "2009:12:24 20:00:00", "2010:01:01 00:00:00"},
        // A zero DateTimeOriginal still replaces a valid DateTime.
        {"2023:04:05 09:06:56", "0000:00:00 00:00:00", "0000:00:00 00:00:00",
         "0000:00:00 00:00:00"},
        // A blank DateTimeOriginal replaces too, and is itself replaced by
        // the DateTimeDigitized that follows it.
        {"2010:01:01 00:00:00", "    :  :     :  :  ", "2009:12:24 20:00:00",
         "2009:12:24 20:00:00"},
        {"2010:01:01 00:00:00", "", "", "2010:01:01 00:00:00"},
        {"", "", "", ""},
    };
    for (const Case &c : cases) {
        for (bool big : {false, true}) {
            EXPECT_EQ(ParseTiff(DatedTiff(big, c.dateTime, c.original, c.digitized)), c.expected)
                << c.dateTime << " | " << c.original << " | " << c.digitized;
        }
    }
}

TEST(ExifParser, DateTextIsCutTo19Characters) {
    Tiff t(false);
    t.Directory(8, {{0x0132, kAscii, 26, 100}});
    t.Text(100, "2015-06-29T18:19:12+01:00");
    EXPECT_EQ(ParseTiff(t.bytes()), "2015-06-29T18:19:12");
}

TEST(ExifParser, DateCopyStopsAtEndOfData) {
    // A count of 4 keeps the value inline; the copy runs on to the NUL or the
    // end of the data, whichever comes first.
    Tiff t(true);
    t.Directory(8, {{0x9003, kAscii, 4, 0}});
    t.Put32(18, 0x32303131);  // "2011" inline
    t.Truncate(26);           // entry table + next link end at 26
    EXPECT_EQ(ParseTiff(t.bytes()), "2011");
    Tiff u(true);
    u.Directory(8, {{0x9003, kAscii, 12, 26}});
    for (size_t i = 0; i < 12; ++i) u.Put8(26 + i, uint8_t('0' + i % 10));
    u.Truncate(38);  // no NUL after the value
    EXPECT_EQ(ParseTiff(u.bytes()), "012345678901");
}

TEST(ExifParser, SelfLinkedDirectoryIsWalkedFiveTimes) {
    for (bool big : {false, true}) {
        Tiff t(big);
        t.Directory(8, {DateEntry(0x0132, 100)}, 8);
        t.Text(100, "2010:01:01 00:00:00");
        ExifWalkStats stats;
        EXPECT_EQ(ParseTiff(t.bytes(), &stats), "2010:01:01 00:00:00");
        EXPECT_EQ(stats.directoriesWalked, 5u);
    }
}

TEST(ExifParser, DepthLimit) {
    // A chain IFD0 -> 1 -> 2 -> ...; the DateTimeOriginal sits in directory
    // `depth`: found up to four levels below IFD0, not at five.
    for (int depth = 0; depth <= 6; ++depth) {
        Tiff t(false);
        for (int d = 0; d <= 6; ++d) {
            const uint32_t at = 8 + 40 * d;
            const uint32_t next = d < 6 ? at + 40 : 0;
            if (d == depth)
                t.Directory(at, {DateEntry(0x9003, 400)}, next);
            else
                t.Directory(at, {{0x0112, kShort, 1, 1}}, next);
        }
        t.Text(400, "2011:07:04 18:30:05");
        EXPECT_EQ(ParseTiff(t.bytes()), depth <= 4 ? "2011:07:04 18:30:05" : "") << depth;
    }
}

TEST(ExifParser, SubDirectoryIsWalkedBeforeTheRestOfItsParent) {
    // IFD0: pointer to a directory holding DateTime A, then DateTime B
    // itself. The sub-directory is walked at once, so A is met first.
    Tiff t(true);
    t.Directory(8, {{0xA005, kLong, 1, 100}, DateEntry(0x0132, 220)});
    t.Directory(100, {DateEntry(0x0132, 200)});
    t.Text(200, "2001:01:01 01:01:01");
    t.Text(220, "2002:02:02 02:02:02");
    EXPECT_EQ(ParseTiff(t.bytes()), "2001:01:01 01:01:01");
}

TEST(ExifParser, ValueOffsetPastTheEndSkipsOnlyThatEntry) {
    const uint32_t offsets[] = {300, 0xFFFFFFF0u, 0xFFFFFFFFu, 290};
    for (uint32_t offset : offsets) {
        Tiff t(false);
        t.Directory(8, {{0x9003, kAscii, 20, offset}, DateEntry(0x0132, 100)});
        t.Text(100, "2010:01:01 00:00:00");
        t.Truncate(300);
        // DateTimeOriginal would win; its value does not fit, so DateTime stays.
        EXPECT_EQ(ParseTiff(t.bytes()), "2010:01:01 00:00:00") << offset;
    }
}

TEST(ExifParser, HugeComponentCountIsSkipped) {
    Tiff t(true);
    // 0xFFFFFFFF doubles: the size needs 35 bits.
    t.Directory(8, {{0x9003, 12, 0xFFFFFFFFu, 100}, DateEntry(0x0132, 100)});
    t.Text(100, "2010:01:01 00:00:00");
    EXPECT_EQ(ParseTiff(t.bytes()), "2010:01:01 00:00:00");
}

TEST(ExifParser, InvalidFormatSkipsTheEntry) {
    Tiff t(false);
    t.Directory(8, {{0x9003, 13, 20, 100}, {0x9003, 0, 20, 0}});
    t.Text(100, "2011:07:04 18:30:05");
    // Format 0 has size 0: its value is the four inline bytes, here zero.
    EXPECT_EQ(ParseTiff(t.bytes()), "");
    Tiff u(false);
    u.Directory(8, {DateEntry(0x0132, 100), {0x9003, 13, 20, 120}});
    u.Text(100, "2010:01:01 00:00:00");
    u.Text(120, "2011:07:04 18:30:05");
    EXPECT_EQ(ParseTiff(u.bytes()), "2010:01:01 00:00:00");
}

TEST(ExifParser, DirectoriesThatDoNotFitAreIgnored) {
    {
        // Entry count says 3, the data holds one entry; with the right
        // count the same bytes give the date.
        for (uint16_t count : {1, 3}) {
            Tiff t(false, 28);
            t.Text(8, "2010:01:01 00:00:00");
            t.Directory(28, {DateEntry(0x0132, 8)});
            t.Put16(28, count);
            t.Truncate(28 + 2 + 12 + 4);
            EXPECT_EQ(ParseTiff(t.bytes()), count == 1 ? "2010:01:01 00:00:00" : "") << count;
        }
    }
    {
        // IFD0 offset past the end, and one whose count is cut.
        Tiff t(false, 0xFFFFFFFFu);
        EXPECT_EQ(ParseTiff(t.bytes()), "");
        Tiff u(false, 8);
        u.Put8(8, 1);
        EXPECT_EQ(ParseTiff(u.bytes()), "");
    }
    {
        // Sub-directory pointer and next link outside the data are skipped.
        Tiff t(true);
        t.Directory(8, {{0x8769, kLong, 1, 5000}, DateEntry(0x0132, 100)}, 0xFFFFFF00u);
        t.Text(100, "2010:01:01 00:00:00");
        EXPECT_EQ(ParseTiff(t.bytes()), "2010:01:01 00:00:00");
    }
    {
        // An entry table ending exactly at the end of the data, without the
        // next link, is still walked.
        Tiff t(true, 28);
        t.Text(8, "2010:01:01 00:00:00");
        t.Directory(28, {DateEntry(0x0132, 8)});
        t.Truncate(28 + 2 + 12);
        EXPECT_EQ(ParseTiff(t.bytes()), "2010:01:01 00:00:00");
    }
}

TEST(ExifParser, PointerWithAnotherFormatIsFollowedThroughItsValue) {
    // An Exif IFD pointer stored as ASCII of 8 bytes: its value lies at the
    // offset, and the first four bytes of that value are the directory offset.
    Tiff t(false);
    t.Directory(8, {{0x8769, kAscii, 8, 100}});
    t.Put32(100, 120);
    t.Directory(120, {DateEntry(0x9003, 200)});
    t.Text(200, "2013:07:05 03:18:27");
    EXPECT_EQ(ParseTiff(t.bytes()), "2013:07:05 03:18:27");
}

TEST(ExifParser, BadHeadersLeaveTheTextAlone) {
    const Bytes good = DatedTiff(true, "", "2011:07:04 18:30:05", "");
    Bytes badOrder = good;
    badOrder[0] = badOrder[1] = 'X';
    Bytes mixedOrder = good;
    mixedOrder[1] = 'I';
    Bytes badMagic = good;
    badMagic[3] = 43;
    EXPECT_EQ(ParseTiff(badOrder), "");
    EXPECT_EQ(ParseTiff(mixedOrder), "");
    EXPECT_EQ(ParseTiff(badMagic), "");
    EXPECT_EQ(Parse(ExifSegment(good, std::string("Exif\0\1", 6))), "");
    EXPECT_EQ(Parse(ExifSegment(good, std::string("Exig\0\0", 6))), "");
    EXPECT_EQ(Parse(ExifSegment(good)), "2011:07:04 18:30:05");

    // Text found earlier is kept when a later segment is malformed.
    DateTimeText text = "2001:01:01 00:00:00";
    ParseExifSegment(ExifSegment(badOrder), text);
    EXPECT_STREQ(text, "2001:01:01 00:00:00");
}

TEST(ExifParser, EveryTruncationIsSafe) {
    const Bytes full = ExifSegment(
        DatedTiff(false, "2010:01:01 00:00:00", "2011:07:04 18:30:05", "2009:12:24 20:00:00"));
    for (size_t n = 0; n <= full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + long(n));
        const std::string text = Parse(cut);
        EXPECT_TRUE(text.empty() || text.size() <= 19) << n;
    }
    EXPECT_EQ(Parse(full), "2011:07:04 18:30:05");
}

TEST(ExifParser, SelfPointingEntriesAreCapped) {
    // Every entry of IFD0 points back at IFD0: without a cap the walk would
    // grow as the entry count to the fifth power.
    Tiff t(true);
    std::vector<test::TiffEntry> entries(400, {0x8769, kLong, 1, 8});
    t.Directory(8, entries, 8);
    ExifWalkStats stats;
    EXPECT_EQ(ParseTiff(t.bytes(), &stats), "");
    EXPECT_EQ(stats.directoriesWalked, kMaxExifDirectories);
}

TEST(ExifParser, SecondSegmentFollowsTheSameRules) {
    DateTimeText text = {};
    ParseExifSegment(ExifSegment(DatedTiff(false, "2010:01:01 00:00:00", "", "")), text);
    ParseExifSegment(ExifSegment(DatedTiff(true, "2012:02:02 00:00:00", "", "")), text);
    EXPECT_STREQ(text, "2010:01:01 00:00:00");
    ParseExifSegment(ExifSegment(DatedTiff(true, "", "2013:03:03 00:00:00", "")), text);
    EXPECT_STREQ(text, "2013:03:03 00:00:00");
}

}  // namespace
}  // namespace mk::metadata
