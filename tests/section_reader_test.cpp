// Tests of the JPEG section reader: the marker walk, its limits and abort
// reasons, the section table, and the APP12 time-stamp handler.
#include "metadata/section_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "metadata_test_builders.h"

namespace mk::metadata {
namespace {

using test::App12WithTimeDate;
using test::Bytes;
using test::Concat;
using test::DatedTiff;
using test::ExifApp1;
using test::FrameAndScan;
using test::Jpeg;
using test::Segment;

const Bytes kSoi{0xFF, 0xD8};

Bytes DatedExif(const char *original) { return ExifApp1(DatedTiff(true, "", original, "")); }

std::vector<int> Markers(const SectionRead &read) {
    std::vector<int> markers;
    for (const SectionEntry &e : read.sections) markers.push_back(e.marker);
    return markers;
}

TEST(SectionReader, AbortReasons) {
    const std::pair<ReadStatus, const char *> cases[] = {
        {ReadStatus::kOk, ""},
        {ReadStatus::kCannotOpen, "can't open file\n"},
        {ReadStatus::kNotJpeg, "Not JPEG\n"},
        {ReadStatus::kTooManySections, "Too many sections in jpg file"},
        {ReadStatus::kTooManyPaddingBytes, "too many padding bytes\n"},
        {ReadStatus::kInvalidMarker, "invalid marker"},
        {ReadStatus::kOutOfMemory, "Could not allocate memory"},
        {ReadStatus::kPrematureEnd, "Premature end of file?"},
        {ReadStatus::kNoImage, "No image in jpeg!\n"},
    };
    for (const auto &[status, text] : cases) EXPECT_STREQ(AbortReason(status), text);
}

TEST(SectionReader, ReadsDateAndKeepsTheTable) {
    const Bytes file =
        Jpeg({Segment(0xE0, "JFIF\0\1\1"), DatedExif("2011:07:04 18:30:05"), Segment(0xFE, "first"),
              Segment(0xFE, "second"), Segment(0xE2, "ICC_PROFILE")});
    const SectionRead read = ReadSections(file);
    ASSERT_EQ(read.status, ReadStatus::kOk);
    EXPECT_STREQ(read.info.dateTimeText, "2011:07:04 18:30:05");
    EXPECT_TRUE(read.info.exifSeen);
    EXPECT_FALSE(read.info.app12TimePresent);
    // APP0 and the second comment are dropped; the walk ends at SOS.
    EXPECT_EQ(Markers(read), (std::vector<int>{0xE1, 0xFE, 0xE2, 0xDB, 0xC0, 0xDA}));
    EXPECT_EQ(read.sections[1].size, 7u);
}

TEST(SectionReader, NotJpeg) {
    const Bytes cases[] = {{}, {0xFF}, {0xFF, 0x00}, {0xD8, 0xFF}, {0x89, 'P', 'N', 'G'}};
    for (const Bytes &file : cases) EXPECT_EQ(ReadSections(file).status, ReadStatus::kNotJpeg);
    Bytes shifted = Jpeg({DatedExif("2011:07:04 18:30:05")});
    shifted.insert(shifted.begin(), 0x00);
    EXPECT_EQ(ReadSections(shifted).status, ReadStatus::kNotJpeg);
}

TEST(SectionReader, FillBytesBeforeTheMarkerCode) {
    // n 0xFF bytes (prefix included) before 0xE1: up to six are one marker.
    for (int n = 0; n <= 8; ++n) {
        Bytes app1 = DatedExif("2011:07:04 18:30:05");
        app1.erase(app1.begin());  // drop the prefix, add n of them back
        app1.insert(app1.begin(), size_t(n), 0xFF);
        const SectionRead read = ReadSections(Jpeg({app1}));
        if (n <= 6) {
            EXPECT_EQ(read.status, ReadStatus::kOk) << n;
            EXPECT_STREQ(read.info.dateTimeText, "2011:07:04 18:30:05") << n;
        } else {
            EXPECT_EQ(read.status, ReadStatus::kTooManyPaddingBytes) << n;
        }
    }
}

TEST(SectionReader, MissingPrefixTakesTheByteAsCode) {
    // "E1 len Exif..." right after SOI: read as an APP1 all the same.
    Bytes app1 = DatedExif("2011:07:04 18:30:05");
    app1.erase(app1.begin());
    const SectionRead read = ReadSections(Jpeg({app1}));
    EXPECT_EQ(read.status, ReadStatus::kOk);
    EXPECT_STREQ(read.info.dateTimeText, "2011:07:04 18:30:05");
}

TEST(SectionReader, LengthBelowTwo) {
    for (uint8_t length : {0, 1}) {
        const Bytes file = Concat({kSoi, Bytes{0xFF, 0xE2, 0x00, length}, FrameAndScan()});
        EXPECT_EQ(ReadSections(file).status, ReadStatus::kInvalidMarker);
    }
    // Length 2: an empty segment is fine.
    EXPECT_EQ(ReadSections(Concat({kSoi, Bytes{0xFF, 0xE2, 0x00, 0x02}, FrameAndScan()})).status,
              ReadStatus::kOk);
}

TEST(SectionReader, EndOfImageBeforeScan) {
    const Bytes file =
        Concat({kSoi, DatedExif("2011:07:04 18:30:05"), Bytes{0xFF, 0xD9, 0, 2}, FrameAndScan()});
    const SectionRead read = ReadSections(file);
    EXPECT_EQ(read.status, ReadStatus::kNoImage);
    // Bare EOI at the end of the file: the length bytes are missing.
    EXPECT_EQ(ReadSections(Concat({kSoi, Bytes{0xFF, 0xD9}})).status, ReadStatus::kPrematureEnd);
}

TEST(SectionReader, SectionLimit) {
    struct Case {
        int segments;
        uint8_t marker;
        ReadStatus status;
    };
    const Case cases[] = {
        // 999 kept segments and SOS make 1000 entries.
        {999, 0xE2, ReadStatus::kOk},
        // 1000 kept segments: the next marker is refused.
        {1000, 0xE2, ReadStatus::kTooManySections},
        // Dropped segments do not take a place in the table.
        {1000, 0xE0, ReadStatus::kOk},
        {1500, 0xFE, ReadStatus::kOk},
    };
    for (const Case &c : cases) {
        Bytes file = kSoi;
        for (int i = 0; i < c.segments; ++i) {
            const Bytes s = Segment(c.marker, "x");
            file.insert(file.end(), s.begin(), s.end());
        }
        const Bytes scan = Segment(0xDA, Bytes{1, 1, 0, 0, 63, 0});
        file.insert(file.end(), scan.begin(), scan.end());
        const SectionRead read = ReadSections(file);
        EXPECT_EQ(read.status, c.status) << c.segments << " " << int(c.marker);
        if (c.status == ReadStatus::kOk) {
            EXPECT_LE(read.sections.size(), kMaxSections);
        }
    }
}

TEST(SectionReader, PrematureEnd) {
    const Bytes exif = DatedExif("2011:07:04 18:30:05");
    const Bytes file = Jpeg({exif, Segment(0xE2, Bytes(300, 7))});
    const size_t app2End = 2 + exif.size() + 304;
    for (size_t cut : {app2End - 1, app2End - 300, app2End - 302, app2End - 303}) {
        const Bytes head(file.begin(), file.begin() + long(cut));
        const SectionRead read = ReadSections(head);
        EXPECT_EQ(read.status, ReadStatus::kPrematureEnd) << cut;
        // The EXIF segment was complete and parsed; the abort still stands.
        EXPECT_STREQ(read.info.dateTimeText, "2011:07:04 18:30:05");
    }
    // Every shorter head of a good file aborts, none crashes.
    for (size_t cut = 0; cut < file.size(); ++cut) {
        const Bytes head(file.begin(), file.begin() + long(cut));
        const SectionRead read = ReadSections(head);
        // The last four bytes are scan data and EOI, which are never read.
        if (cut < file.size() - 4) {
            EXPECT_NE(read.status, ReadStatus::kOk) << cut;
        }
    }
}

TEST(SectionReader, App12BeforeAndAfterExif) {
    const Bytes app12 = App12WithTimeDate("86400");
    const Bytes exif = DatedExif("2011:07:04 18:30:05");

    const SectionRead before = ReadSections(Jpeg({app12, exif}));
    ASSERT_EQ(before.status, ReadStatus::kOk);
    ASSERT_TRUE(before.info.app12TimePresent);
    const tm &t = before.info.app12Time;
    EXPECT_EQ(t.tm_year, 70);
    EXPECT_EQ(t.tm_mon, 0);
    EXPECT_EQ(t.tm_mday, 2);
    EXPECT_EQ(t.tm_hour, 0);
    EXPECT_EQ(t.tm_min, 0);
    EXPECT_EQ(t.tm_sec, 0);
    EXPECT_EQ(t.tm_wday, 5);
    EXPECT_EQ(t.tm_yday, 1);

    const SectionRead after = ReadSections(Jpeg({exif, app12}));
    ASSERT_EQ(after.status, ReadStatus::kOk);
    EXPECT_FALSE(after.info.app12TimePresent);
    // The segment is kept in the table either way.
    EXPECT_EQ(Markers(after)[1], 0xEC);

    // An APP1 that is not EXIF does not count as the EXIF segment.
    const SectionRead xmp =
        ReadSections(Jpeg({Segment(0xE1, "http://ns.adobe.com/xap/1.0/"), app12}));
    EXPECT_TRUE(xmp.info.app12TimePresent);
}

TEST(SectionReader, NonExifApp1IsDroppedUnparsed) {
    // The same TIFF data behind another signature, and APP1 segments too
    // short to hold one.
    Bytes payload{'E', 'x', 'i', 'x', 0, 0};
    const Bytes tiff = DatedTiff(true, "", "2011:07:04 18:30:05", "");
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    const SectionRead read =
        ReadSections(Jpeg({Segment(0xE1, payload), Segment(0xE1, "Exi"), Segment(0xE1, Bytes{})}));
    ASSERT_EQ(read.status, ReadStatus::kOk);
    EXPECT_STREQ(read.info.dateTimeText, "");
    EXPECT_FALSE(read.info.exifSeen);
    EXPECT_EQ(Markers(read), (std::vector<int>{0xDB, 0xC0, 0xDA}));

    // "Exif" without the two zero bytes is taken to the parser, which
    // refuses it.
    const SectionRead bare = ReadSections(Jpeg({Segment(0xE1, "Exif")}));
    EXPECT_TRUE(bare.info.exifSeen);
    EXPECT_STREQ(bare.info.dateTimeText, "");
}

TEST(SectionReader, TwoExifSegments) {
    const SectionRead read =
        ReadSections(Jpeg({ExifApp1(DatedTiff(false, "2010:01:01 00:00:00", "", "")),
                           DatedExif("2011:07:04 18:30:05")}));
    EXPECT_STREQ(read.info.dateTimeText, "2011:07:04 18:30:05");
}

TEST(SectionReader, FromPath) {
    test::TempDir dir;
    EXPECT_EQ(ReadSections(dir.file("missing.jpg").c_str()).status, ReadStatus::kCannotOpen);
    EXPECT_EQ(ReadSections(static_cast<const char *>(nullptr)).status, ReadStatus::kCannotOpen);
    // A folder is not opened as a picture.
    EXPECT_EQ(ReadSections(dir.path().c_str()).status, ReadStatus::kCannotOpen);

    const Bytes file = Jpeg({App12WithTimeDate("86400"), DatedExif("2011:07:04 18:30:05")});
    test::WriteFile(dir.file("a.jpg"), file);
    const SectionRead read = ReadSections(dir.file("a.jpg").c_str());
    EXPECT_EQ(read.status, ReadStatus::kOk);
    EXPECT_STREQ(read.info.dateTimeText, "2011:07:04 18:30:05");
    EXPECT_TRUE(read.info.app12TimePresent);
    EXPECT_EQ(Markers(read), Markers(ReadSections(file)));
}

TEST(App12TimeDate, Items) {
    struct Case {
        std::string payload;
        bool present;
        int64_t seconds;
    };
    const Case cases[] = {
        {"TimeDate=86400", true, 86400},
        {"[picture info]\r\nTimeDate=915117440\r\n", true, 915117440},
        {"xxTimeDate=  \t-86400yy", true, -86400},
        {"TimeDate=+5", true, 5},
        {std::string("TimeDate=1\0TimeDate=2", 21), true, 1},
        // No digits.
        {"TimeDate=abcdef", false, 0},
        {"TimeDate=  -  ", false, 0},
        {"TimeDate=", false, 0},
        // The key must leave one byte after it inside the segment.
        {"abTimeDate=7", true, 7},
        // Too short to hold a time stamp at all (size 11 or less).
        {"TimeDate=", false, 0},
        {"Time Date=12345", false, 0},
        // A count that does not fit in 32 bits saturates.
        {"TimeDate=99999999999999999999", true, INT32_MAX},
        {"TimeDate=-99999999999", true, INT32_MIN},
    };
    for (const Case &c : cases) {
        const Bytes seg =
            Concat({Bytes{uint8_t((c.payload.size() + 2) >> 8), uint8_t(c.payload.size() + 2)},
                    Bytes(c.payload.begin(), c.payload.end())});
        const auto time = App12TimeDate(seg);
        ASSERT_EQ(time.has_value(), c.present) << c.payload;
        if (!time) continue;
        const time_t t = time_t(c.seconds);
        tm expected{};
        gmtime_r(&t, &expected);
        EXPECT_EQ(timegm(&expected), t);
        tm got = *time;
        EXPECT_EQ(timegm(&got), t) << c.payload;
    }
}

TEST(App12TimeDate, NumberEndsWithTheSegment) {
    // The digits run to the very last byte of the segment: the number must
    // not be read on into whatever follows in memory.
    Bytes memory = Concat({Bytes{0, 15},
                           Bytes{'T', 'i', 'm', 'e', 'D', 'a', 't', 'e', '=', '1', '2', '3', '4'},
                           Bytes{'5', '6', '7'}});
    const auto time = App12TimeDate(std::span<const uint8_t>(memory).first(15));
    ASSERT_TRUE(time);
    tm got = *time;
    EXPECT_EQ(timegm(&got), 1234);
}

TEST(App12TimeDate, ShortSegments) {
    for (size_t n = 0; n <= 11; ++n) {
        Bytes seg(n, '=');
        EXPECT_FALSE(App12TimeDate(seg)) << n;
    }
}

}  // namespace
}  // namespace mk::metadata
