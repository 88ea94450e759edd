// Tests of the stamp date selection: parsing and normalising EXIF date text,
// the usability check, and the fallback to the file's modification time.
#include "metadata/stamp_date.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "metadata_test_builders.h"
#include "platform/files.h"

namespace mk::metadata {
namespace {

using test::App12WithTimeDate;
using test::Bytes;
using test::DatedTiff;
using test::ExifApp1;
using test::Jpeg;

// Central European time: +1 in winter, +2 in summer, with no zone files
// needed, so the local-time results are the same on every machine.
constexpr const char *kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

class StampDate : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *old = std::getenv("TZ");
        hadZone_ = old != nullptr;
        if (old) oldZone_ = old;
        setenv("TZ", kZone, 1);
        tzset();
    }
    void TearDown() override {
        if (hadZone_)
            setenv("TZ", oldZone_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    // A picture in the temporary folder with the given modification time.
    std::string Picture(const std::string &name, const Bytes &bytes, time_t mtime,
                        long nanoseconds = 0) {
        const std::string path = dir_.file(name);
        test::WriteFile(path, bytes);
        EXPECT_TRUE(platform::SetModificationTime(path.c_str(), timespec{mtime, nanoseconds}));
        return path;
    }

    test::TempDir dir_;

  private:
    bool hadZone_ = false;
    std::string oldZone_;
};

struct Expected {
    int year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

void ExpectTime(const MK_SystemTime &t, const Expected &e) {
    EXPECT_EQ(t.wYear, e.year);
    EXPECT_EQ(t.wMonth, e.month);
    EXPECT_EQ(t.wDayOfWeek, e.dayOfWeek);
    EXPECT_EQ(t.wDay, e.day);
    EXPECT_EQ(t.wHour, e.hour);
    EXPECT_EQ(t.wMinute, e.minute);
    EXPECT_EQ(t.wSecond, e.second);
    EXPECT_EQ(t.wMilliseconds, e.milliseconds);
}

Bytes DatedJpeg(const std::string &original) {
    return Jpeg({ExifApp1(DatedTiff(true, "", original, ""))});
}

// 2020-05-17 12:34:56 UTC, a Sunday: 14:34:56 in summer time.
constexpr time_t kMtime = 1589718896;
constexpr Expected kMtimeLocal{2020, 5, 0, 17, 14, 34, 56, 0};

TEST_F(StampDate, ParseExifDateText) {
    struct Case {
        const char *text;
        bool parsed;
        int year = 0, mon = 0, mday = 0, hour = 0, min = 0, sec = 0, wday = 0, yday = 0;
    };
    const Case cases[] = {
        {"2011:07:04 18:30:05", true, 111, 6, 4, 18, 30, 5, 1, 184},
        // Carried into the next unit as mktime does.
        {"2011:02:30 10:00:00", true, 111, 2, 2, 10, 0, 0, 3, 60},
        {"2011:07:04 24:00:00", true, 111, 6, 5, 0, 0, 0, 2, 185},
        {"2011:12:31 23:59:60", true, 112, 0, 1, 0, 0, 0, 0, 0},
        {"2011:13:01 00:00:00", true, 112, 0, 1, 0, 0, 0, 0, 0},
        // Any one character between date and time.
        {"2011:07:04T18:30:05", true, 111, 6, 4, 18, 30, 5, 1, 184},
        {"2011:07:04-18:30:05", true, 111, 6, 4, 18, 30, 5, 1, 184},
        {"2038:05:05 01:29:24", true, 138, 4, 5, 1, 29, 24, 3, 124},
        {"3000:12:31 23:59:59", true, 1100, 11, 31, 23, 59, 59, 3, 364},
        // Outside 1970 to 3000 the parsed fields stay, without day of week.
        {"0000:00:00 00:00:00", true, -1900, -1, 0, 0, 0, 0, -1, 0},
        {"1950:02:30 10:00:00", true, 50, 1, 30, 10, 0, 0, -1, 0},
        {"3001:01:01 00:00:00", true, 1101, 0, 1, 0, 0, 0, -1, 0},
        // Normalised out of the range: kept as parsed.
        {"1970:01:00 00:00:00", true, 70, 0, 0, 0, 0, 0, -1, 0},
        {"3000:12:32 00:00:00", true, 1100, 11, 32, 0, 0, 0, -1, 0},
        // Not all six numbers.
        {"    :  :     :  :  ", false},
        {"2015-06-29T18:19:12", false},
        {"2011:07:04", false},
        {"2011:07:04 18:30", false},
        {"2011:07:0418:30:05", false},
        {"letters", false},
        {"", false},
    };
    for (const Case &c : cases) {
        tm t{};
        ASSERT_EQ(ParseExifDateText(c.text, &t), c.parsed) << c.text;
        if (!c.parsed) continue;
        EXPECT_EQ(t.tm_year, c.year) << c.text;
        EXPECT_EQ(t.tm_mon, c.mon) << c.text;
        EXPECT_EQ(t.tm_mday, c.mday) << c.text;
        EXPECT_EQ(t.tm_hour, c.hour) << c.text;
        EXPECT_EQ(t.tm_min, c.min) << c.text;
        EXPECT_EQ(t.tm_sec, c.sec) << c.text;
        EXPECT_EQ(t.tm_wday, c.wday) << c.text;
        EXPECT_EQ(t.tm_yday, c.yday) << c.text;
    }
}

TEST_F(StampDate, ParseRefusesNumbersThatCannotBeOffset) {
    tm t{};
    EXPECT_FALSE(ParseExifDateText("-2147483648:1:1 0:0:0", &t));
    EXPECT_FALSE(ParseExifDateText("2011:-2147483648:1 0:", &t));
    EXPECT_FALSE(ParseExifDateText(nullptr, &t));
    // Only the first 19 characters count: the seconds lie beyond them.
    EXPECT_FALSE(ParseExifDateText("2011:07:04 18:30:   5", &t));
    EXPECT_TRUE(ParseExifDateText("2011:07:04 18:30: 5", &t));
    EXPECT_EQ(t.tm_sec, 5);
}

TEST_F(StampDate, UsabilityCheck) {
    auto make = [](int year, int mon, int mday, int hour, int min, int sec) {
        tm t{};
        t.tm_year = year;
        t.tm_mon = mon;
        t.tm_mday = mday;
        t.tm_hour = hour;
        t.tm_min = min;
        t.tm_sec = sec;
        t.tm_wday = -1;
        return t;
    };
    struct Case {
        tm time;
        bool usable;
    };
    const Case cases[] = {
        {make(111, 6, 4, 18, 30, 5), true},        {make(0, 0, 1, 0, 0, 0), true},
        {make(-1, 0, 1, 0, 0, 0), false},          {make(111, -1, 1, 0, 0, 0), false},
        {make(111, 12, 1, 0, 0, 0), false},        {make(111, 0, 0, 0, 0, 0), false},
        {make(111, 0, 32, 0, 0, 0), false},        {make(111, 0, 31, 24, 0, 0), false},
        {make(111, 0, 31, -1, 0, 0), false},       {make(111, 0, 31, 0, 60, 0), false},
        {make(111, 0, 31, 0, -1, 0), false},       {make(111, 0, 31, 0, 0, 60), false},
        {make(111, 0, 31, 0, 0, -1), false},       {make(111, 1, 31, 23, 59, 59), true},
        {make(30827 - 1900, 0, 1, 0, 0, 0), true}, {make(30828 - 1900, 0, 1, 0, 0, 0), false},
    };
    for (const Case &c : cases) {
        MK_SystemTime st{};
        EXPECT_EQ(ToSystemTime(c.time, &st), c.usable)
            << c.time.tm_year << "-" << c.time.tm_mon << "-" << c.time.tm_mday << " "
            << c.time.tm_hour << ":" << c.time.tm_min << ":" << c.time.tm_sec;
    }
}

TEST_F(StampDate, DayOfWeekOfDatesThatWereNotNormalised) {
    struct Case {
        const char *text;
        int dayOfWeek;
    };
    const Case cases[] = {{"1950:01:01 00:00:00", 0}, {"1900:03:01 00:00:00", 4},
                          {"1969:12:31 12:00:00", 3}, {"3001:01:01 00:00:00", 4},
                          {"9999:12:31 00:00:00", 5}, {"1950:02:31 00:00:00", 5}};
    for (const Case &c : cases) {
        tm t{};
        ASSERT_TRUE(ParseExifDateText(c.text, &t));
        EXPECT_EQ(t.tm_wday, -1);
        MK_SystemTime st{};
        ASSERT_TRUE(ToSystemTime(t, &st)) << c.text;
        EXPECT_EQ(st.wDayOfWeek, c.dayOfWeek) << c.text;
    }
}

TEST_F(StampDate, ExifDateIsUsed) {
    const std::string path = Picture("a.jpg", DatedJpeg("2011:07:04 18:30:05"), kMtime);
    ExpectTime(SelectStampDate(path.c_str(), FLAG_DATE_FROM_EXIF), {2011, 7, 1, 4, 18, 30, 5, 0});
    ExpectTime(SelectStampDate(path.c_str(), 0x001B0001), {2011, 7, 1, 4, 18, 30, 5, 0});
}

TEST_F(StampDate, NormalisedExifDate) {
    const std::string path = Picture("a.jpg", DatedJpeg("2011:02:30 10:00:00"), kMtime);
    ExpectTime(SelectStampDate(path.c_str(), FLAG_DATE_FROM_EXIF), {2011, 3, 3, 2, 10, 0, 0, 0});
}

TEST_F(StampDate, UnusableExifDateFallsBackToFileTime) {
    const char *texts[] = {"0000:00:00 00:00:00", "    :  :     :  :  ", "letters",
                           "1950:01:01 24:00:00", "2015-06-29T18:19:12"};
    for (const char *text : texts) {
        const std::string path = Picture("a.jpg", DatedJpeg(text), kMtime);
        ExpectTime(SelectStampDate(path.c_str(), FLAG_DATE_FROM_EXIF), kMtimeLocal);
    }
}

TEST_F(StampDate, LettersDoNotFallBackToApp12) {
    const Bytes withLetters =
        Jpeg({App12WithTimeDate("86400"), ExifApp1(DatedTiff(false, "", "letters", ""))});
    const std::string path = Picture("a.jpg", withLetters, kMtime);
    tm date{};
    EXPECT_FALSE(ReadPictureDate(path.c_str(), &date));
    ExpectTime(SelectStampDate(path.c_str(), FLAG_DATE_FROM_EXIF), kMtimeLocal);

    // Without any EXIF text the APP12 time stamp is used, in UTC.
    const Bytes noText = Jpeg({App12WithTimeDate("86400"), ExifApp1(DatedTiff(false, "", "", ""))});
    const std::string other = Picture("b.jpg", noText, kMtime);
    ASSERT_TRUE(ReadPictureDate(other.c_str(), &date));
    ExpectTime(SelectStampDate(other.c_str(), FLAG_DATE_FROM_EXIF), {1970, 1, 5, 2, 0, 0, 0, 0});
}

TEST_F(StampDate, FlagClearUsesFileTime) {
    const std::string path = Picture("a.jpg", DatedJpeg("2011:07:04 18:30:05"), kMtime, 789000000);
    ExpectTime(SelectStampDate(path.c_str(), 0), {2020, 5, 0, 17, 14, 34, 56, 789});
    ExpectTime(SelectStampDate(path.c_str(), FLAG_FILETIME_CREATED),
               {2020, 5, 0, 17, 14, 34, 56, 789});
}

TEST_F(StampDate, FileTimeTakesTheOffsetOfItsInstant) {
    // 2011-01-15 12:00:00 UTC is winter time (+1), 2011-07-04 16:30:05 UTC
    // summer time (+2), whatever the offset is today.
    const std::string winter = Picture("w.jpg", Bytes{1, 2, 3}, 1295092800);
    ExpectTime(SelectStampDate(winter.c_str(), FLAG_DATE_FROM_EXIF), {2011, 1, 6, 15, 13, 0, 0, 0});
    const std::string summer = Picture("s.jpg", Bytes{}, 1309797005);
    ExpectTime(SelectStampDate(summer.c_str(), 0), {2011, 7, 1, 4, 18, 30, 5, 0});
    // Before 1970.
    const std::string old = Picture("o.jpg", Bytes{}, -86400 * 365);
    ExpectTime(SelectStampDate(old.c_str(), 0), {1969, 1, 3, 1, 1, 0, 0, 0});
}

TEST_F(StampDate, UnopenableFileGivesZero) {
    ExpectTime(SelectStampDate(dir_.file("missing.jpg").c_str(), FLAG_DATE_FROM_EXIF),
               {0, 0, 0, 0, 0, 0, 0, 0});
    ExpectTime(SelectStampDate(dir_.file("missing.jpg").c_str(), 0), {0, 0, 0, 0, 0, 0, 0, 0});
    ExpectTime(SelectStampDate(nullptr, FLAG_DATE_FROM_EXIF), {0, 0, 0, 0, 0, 0, 0, 0});
    // No read permission (root may read anything, so only when it is refused).
    const std::string locked = Picture("l.jpg", DatedJpeg("2011:07:04 18:30:05"), kMtime);
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    if (access(locked.c_str(), R_OK) != 0)
        ExpectTime(SelectStampDate(locked.c_str(), FLAG_DATE_FROM_EXIF), {0, 0, 0, 0, 0, 0, 0, 0});
}

TEST_F(StampDate, BrokenFilesUseFileTime) {
    Bytes truncated = DatedJpeg("2011:07:04 18:30:05");
    truncated.resize(truncated.size() - 20);
    const Bytes notJpeg{'G', 'I', 'F', '8', '9', 'a'};
    for (const Bytes &bytes : {truncated, notJpeg, Bytes{}}) {
        const std::string path = Picture("x.jpg", bytes, kMtime);
        ExpectTime(SelectStampDate(path.c_str(), FLAG_DATE_FROM_EXIF), kMtimeLocal);
    }
}

TEST_F(StampDate, ReadsOnSeveralThreadsAtOnce) {
    // Each read keeps its state to itself: concurrent reads of different
    // pictures each get their own date.
    std::vector<Bytes> pictures;
    for (int i = 0; i < 8; ++i) {
        char text[20];
        std::snprintf(text, sizeof text, "2011:07:%02d 18:30:%02d", i + 1, i);
        pictures.push_back(i % 2 ? DatedJpeg(text)
                                 : Jpeg({ExifApp1(DatedTiff(false, text, "", ""))}));
    }
    std::vector<int> failures(pictures.size(), 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < pictures.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 200; ++round) {
                tm date{};
                if (!ReadPictureDate(pictures[i], &date) || date.tm_mday != int(i) + 1 ||
                    date.tm_sec != int(i))
                    ++failures[i];
            }
        });
    }
    for (std::thread &t : threads) t.join();
    for (size_t i = 0; i < failures.size(); ++i) EXPECT_EQ(failures[i], 0) << i;
}

TEST_F(StampDate, ReadPictureDateFromMemory) {
    tm date{};
    ASSERT_TRUE(ReadPictureDate(DatedJpeg("2011:07:04 18:30:05"), &date));
    EXPECT_EQ(date.tm_year, 111);
    EXPECT_EQ(date.tm_mon, 6);
    EXPECT_EQ(date.tm_mday, 4);
    EXPECT_EQ(date.tm_hour, 18);
    EXPECT_FALSE(ReadPictureDate(Jpeg({}), &date));
    EXPECT_FALSE(ReadPictureDate(Bytes{0xFF, 0xD8}, &date));
    EXPECT_FALSE(ReadPictureDate(DatedJpeg("2011:07:04 18:30:05"), nullptr));
}

}  // namespace
}  // namespace mk::metadata
