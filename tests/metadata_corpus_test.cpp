// The metadata reader against the shared corpus of real camera pictures:
// for every file, the EXIF date text and APP12 time the reader finds, and
// the date it selects, must match what the peer tools recorded in the
// corpus index once the reader's precedence rules are applied to their
// columns. Every file where the columns alone would mislead is listed with
// the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/section_reader.h"
#include "metadata/stamp_date.h"
#include "platform/files.h"
#include "test_support.h"

namespace mk::metadata {
namespace {

bool StartsWithDigit(const std::string &s) { return !s.empty() && s[0] >= '0' && s[0] <= '9'; }

std::string RightTrimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The text the reader should leave, from the peer tools' columns: the
// DateTimeOriginal wherever it stands, else the first digit-led DateTime or
// DateTimeDigitized (DateTime in IFD0 is met before the Exif IFD), else
// whatever non-date text there is; cut to 19 characters.
std::string PrecedenceText(const test::CorpusRow &row) {
    const std::string &original = row.at("DateTimeOriginal");
    const std::string &dateTime = row.at("DateTime");
    const std::string &digitized = row.at("DateTimeDigitized");
    std::string text;
    if (!original.empty())
        text = original;
    else if (StartsWithDigit(dateTime))
        text = dateTime;
    else if (StartsWithDigit(digitized))
        text = digitized;
    else
        text = !digitized.empty() ? digitized : dateTime;
    return text.substr(0, 19);
}

// Files that agree although one might expect otherwise:
//  - fujifilm_dx5_blankdto.jpg: the DateTimeOriginal is 19 bytes of spaces
//    and colons; exiftool prints it without the trailing spaces, jhead and
//    this reader keep all 19.
//  - exifoffset_wrong_format.jpg: its Exif IFD pointer is stored as ASCII of
//    154 bytes, so the entry's four bytes are the offset of that "value"
//    (the Exif IFD itself) and the pointer is read from the value's first
//    four bytes, 0x90000009, which lies outside the data. The Exif IFD and
//    its DateTimeOriginal are thus not reached, as for both peers, and the
//    IFD0 DateTime stays.
//  - photoshop_isodate_app12ducky.jpg: the 25-character ISO text is cut to
//    19, as jhead shows it; it does not parse as a date, so the file time
//    is stamped. Its APP12 "Ducky" block has no TimeDate item.
//  - zero dates (nikon_e900, sanyo_s1, olympus_zerodto_dt): the zero
//    DateTimeOriginal wins over a valid DateTime, is not usable, and the
//    file time is stamped.
//
// Files where the reader differs from what the columns say, and why.
struct Exception {
    std::string text;  // the text the reader leaves
    std::string why;
};
const std::map<std::string, Exception> kExceptions = {
    {"broken_gray_progressive_badtiffmagic.jpg",
     {"",
      "the TIFF magic number is not 42, so the segment is not parsed; exiftool still reports "
      "the IFD0 DateTime, jhead (like this reader) reports nothing"}},
    {"truncated_header_year2216.jpg",
     {"2216:11:15 11:46:51",
      "the EXIF segment is complete and parsed, but the file ends inside the next segment, so "
      "the read aborts and the picture has no date; the peers give no date either"}},
};

// The files whose header the strict walk of the index could not finish
// (junk where a marker is due, end of file inside a segment, no SOI) abort
// the read. Their reasons:
//  - broken_not_jpeg.jpg: no SOI.
//  - broken_junk_header.jpg: the junk byte is taken as a marker code and
//    the length read after it runs past the end of the file.
//  - broken_olympus_missing_ff_app12.jpg: 0x00 is taken as the code of a
//    segment whose length runs past the end; its APP12 after EOI is never
//    reached, as for the peers.
//  - truncated_header_year2216.jpg: see above.
bool WalkAborts(const test::CorpusRow &row) {
    const std::string &markers = row.at("header_markers");
    return markers.empty() || markers.find('?') != std::string::npos;
}

// The APP12 time stamp counts only in an APP12 segment met before the EXIF
// segment. exiftool_testfile_app12_after_exif.jpg has one after it, which
// the reader therefore never searches.
bool App12BeforeExif(const test::CorpusRow &row) {
    std::vector<std::string> segments;
    std::stringstream list(row.at("app_segments"));
    for (std::string s; std::getline(list, s, ',');) segments.push_back(s);
    const auto app12 = std::find(segments.begin(), segments.end(), "APP12");
    const auto app1 = std::find(segments.begin(), segments.end(), "APP1");
    return app12 != segments.end() && app12 < app1;
}

// "YYYY:MM:DD HH:MM:SS" with every field in range, as a SYSTEMTIME.
bool ValidExifDate(const std::string &text, MK_SystemTime *out) {
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
        6)
        return false;
    using namespace std::chrono;
    const year_month_day date{year(y), month(unsigned(mo)), day(unsigned(d))};
    if (y < 1900 || !date.ok() || h > 23 || mi > 59 || s > 59) return false;
    *out = MK_SystemTime{};
    out->wYear = uint16_t(y);
    out->wMonth = uint16_t(mo);
    out->wDayOfWeek = uint16_t(weekday(sys_days(date)).c_encoding());
    out->wDay = uint16_t(d);
    out->wHour = uint16_t(h);
    out->wMinute = uint16_t(mi);
    out->wSecond = uint16_t(s);
    return true;
}

std::string Utc(const tm &t) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
    return text;
}

std::string Show(const MK_SystemTime &t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d dow %d", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek);
    return text;
}

TEST(MetadataCorpus, ReaderMatchesThePeerTools) {
    const auto rows = test::CorpusIndex();
    ASSERT_EQ(rows.size(), 51u);

    test::TempDir dir;
    // 2020-05-17 12:34:56 UTC for every copy; git keeps no file times.
    const timespec mtime{1589718896, 0};
    tm local{};
    localtime_r(&mtime.tv_sec, &local);
    MK_SystemTime fileTime{};
    fileTime.wYear = uint16_t(local.tm_year + 1900);
    fileTime.wMonth = uint16_t(local.tm_mon + 1);
    fileTime.wDayOfWeek = uint16_t(local.tm_wday);
    fileTime.wDay = uint16_t(local.tm_mday);
    fileTime.wHour = uint16_t(local.tm_hour);
    fileTime.wMinute = uint16_t(local.tm_min);
    fileTime.wSecond = uint16_t(local.tm_sec);

    int pictureDates = 0, fileTimes = 0, aborts = 0;
    for (const test::CorpusRow &row : rows) {
        const std::string name = row.at("file");
        SCOPED_TRACE(name);
        const std::filesystem::path source = test::CorpusDir() / name;
        const SectionRead read = ReadSections(source.c_str());

        const bool aborts_ = WalkAborts(row);
        EXPECT_EQ(read.status != ReadStatus::kOk, aborts_) << AbortReason(read.status);
        if (aborts_) ++aborts;

        // The date text against the columns.
        const auto exception = kExceptions.find(name);
        if (exception != kExceptions.end()) {
            EXPECT_STREQ(read.info.dateTimeText, exception->second.text.c_str())
                << exception->second.why;
        } else if (!aborts_) {
            // exiftool drops trailing spaces; jhead shows all 19 characters.
            EXPECT_EQ(RightTrimmed(read.info.dateTimeText), PrecedenceText(row));
            if (!row.at("jhead_datetime").empty()) {
                EXPECT_EQ(std::string(read.info.dateTimeText), row.at("jhead_datetime"));
            }
        }
        if (!aborts_) {
            EXPECT_EQ(read.info.exifSeen, row.at("byte_order") != "none");
        }

        // The APP12 time stamp.
        const bool app12 = !row.at("app12_timedate_utc").empty() && App12BeforeExif(row);
        EXPECT_EQ(read.info.app12TimePresent, app12);
        if (app12 && read.info.app12TimePresent) {
            EXPECT_EQ(Utc(read.info.app12Time), row.at("app12_timedate_utc"));
        }

        // The date selected for a copy with a known modification time.
        const std::string copy = dir.file(name);
        std::filesystem::copy_file(source, copy);
        ASSERT_TRUE(platform::SetModificationTime(copy.c_str(), mtime));
        MK_SystemTime expected = fileTime;
        if (!aborts_ && ValidExifDate(read.info.dateTimeText, &expected)) {
            ++pictureDates;
        } else {
            expected = fileTime;
            ++fileTimes;
        }
        const MK_SystemTime selected = SelectStampDate(copy.c_str(), FLAG_DATE_FROM_EXIF);
        EXPECT_EQ(Show(selected), Show(expected));
        EXPECT_EQ(Show(SelectStampDate(copy.c_str(), 0)), Show(fileTime));
        std::filesystem::remove(copy);
    }
    // 37 files carry a usable date. 14 fall back to the file time: three
    // zero dates, one blank, one ISO-8601 text, two EXIF segments without
    // dates, two files without EXIF, the refused TIFF header and the four
    // aborted reads.
    EXPECT_EQ(pictureDates, 37);
    EXPECT_EQ(fileTimes, 14);
    EXPECT_EQ(aborts, 4);
}

}  // namespace
}  // namespace mk::metadata
