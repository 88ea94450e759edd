// Tests of the Windows date/time picture renderer and MK_FormatDateTime.
#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MK_Core.h"
#include "icu_default_locale.h"
#include "metadata/date_format.h"

using mk::metadata::FormatDate;
using mk::metadata::FormatTime;

namespace {

constexpr MK_SystemTime kJuly4{2011, 7, 1, 4, 18, 30, 5, 0};    // a Monday
constexpr MK_SystemTime kMorning{2005, 1, 0, 9, 6, 5, 9, 0};    // a Sunday
constexpr MK_SystemTime kMidnight{2012, 2, 3, 29, 0, 0, 0, 0};  // a Wednesday
constexpr MK_SystemTime kNoon{2000, 1, 6, 1, 12, 0, 0, 0};      // a Saturday
constexpr MK_SystemTime kZero{0, 0, 0, 0, 0, 0, 0, 0};

struct Case {
    uint32_t locale;
    const char *picture;
    MK_SystemTime time;
    const char *expected;
};

std::string Describe(const Case &c) {
    return std::to_string(c.locale) + " \"" + c.picture + "\" " + std::to_string(c.time.wYear) +
           "-" + std::to_string(c.time.wMonth) + "-" + std::to_string(c.time.wDay) + " " +
           std::to_string(c.time.wHour) + ":" + std::to_string(c.time.wMinute) + ":" +
           std::to_string(c.time.wSecond);
}

using mk::test::DefaultLocale;

DateFormatSpec Spec(uint16_t locale, const char *date, const char *time, uint32_t seconds) {
    DateFormatSpec spec;
    std::memset(&spec, 0, sizeof spec);
    spec.useSeconds = seconds;
    spec.localeId = locale;
    std::memcpy(spec.datePicture, date, std::min(std::strlen(date), sizeof spec.datePicture));
    std::memcpy(spec.timePicture, time, std::min(std::strlen(time), sizeof spec.timePicture));
    return spec;
}

std::string Format(const MK_SystemTime &time, const DateFormatSpec &spec) {
    char output[256];
    std::memset(output, 'X', sizeof output);
    EXPECT_EQ(MK_FormatDateTime(&time, &spec, output), 0);
    EXPECT_NE(std::memchr(output, '\0', sizeof output), nullptr);
    return output;
}

std::string Repeat(const std::string &text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

TEST(DateFormat, DatePicturesInSeveralLocales) {
    const Case cases[] = {
        {1033, "dddd, MMMM d, yyyy", kJuly4, "Monday, July 4, 2011"},
        {1033, "MMMM d, yyyy", kJuly4, "July 4, 2011"},
        {1033, "M/d/yyyy", kJuly4, "7/4/2011"},
        {1033, "MM/dd/yy", kJuly4, "07/04/11"},
        {1033, "ddd, MMM d", kJuly4, "Mon, Jul 4"},
        {1033, "yyyy-MM-dd", kJuly4, "2011-07-04"},
        {1033, "dddd", kMorning, "Sunday"},
        {1033, "dddd", kMidnight, "Wednesday"},
        {1033, "dddd", kNoon, "Saturday"},
        {1031, "dddd, d. MMMM yyyy", kJuly4, "Montag, 4. Juli 2011"},
        {1031, "dd.MM.yyyy", kJuly4, "04.07.2011"},
        {1031, "ddd, d. MMMM yyyy", kMorning, "So., 9. Januar 2005"},
        {1049, "d MMMM yyyy", kJuly4, "4 июля 2011"},
        {1049, "dd MMMM yyyy", kJuly4, "04 июля 2011"},
        {1049, "MMMM yyyy", kJuly4, "июль 2011"},
        {1049, "dddd, d MMMM yyyy 'г.'", kJuly4, "понедельник, 4 июля 2011 г."},
        {1049, "d MMM yyyy", kJuly4, "4 июл. 2011"},
        {1041, "yyyy'年'M'月'd'日'", kJuly4, "2011年7月4日"},
        {1041, "yyyy/MM/dd dddd", kJuly4, "2011/07/04 月曜日"},
        {1041, "gg yyyy", kJuly4, "西暦 2011"},
        {1036, "dddd d MMMM yyyy", kJuly4, "lundi 4 juillet 2011"},
        {1036, "dd/MM/yyyy", kJuly4, "04/07/2011"},
        {1045, "d MMMM yyyy", kJuly4, "4 lipca 2011"},
        {1045, "MMMM yyyy", kJuly4, "lipiec 2011"},
        {1029, "d. MMMM yyyy", kJuly4, "4. července 2011"},
        {1029, "MMMM yyyy", kJuly4, "červenec 2011"},
        {1032, "dddd, d MMMM yyyy", kJuly4, "Δευτέρα, 4 Ιουλίου 2011"},
        {1032, "dddd MMMM yyyy", kJuly4, "Δευτέρα Ιούλιος 2011"},
        {3082, "dddd, d' de 'MMMM' de 'yyyy", kJuly4, "lunes, 4 de julio de 2011"},
        {2052, "yyyy'年'M'月'd'日' dddd", kJuly4, "2011年7月4日 星期一"},
        {1042, "yyyy'년 'M'월 'd'일 'dddd", kJuly4, "2011년 7월 4일 월요일"},
        {1055, "d MMMM yyyy dddd", kJuly4, "4 Temmuz 2011 Pazartesi"},
        {1066, "dddd, d MMMM, yyyy", kJuly4, "Thứ Hai, 4 tháng 7, 2011"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Describe(c));
        const auto text = FormatDate(c.locale, c.time, c.picture);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, c.expected);
    }
}

TEST(DateFormat, DateElementsAndRepeats) {
    const Case cases[] = {
        {1033, "d|dd|ddd|dddd|ddddd|dddddd", kMorning, "9|09|Sun|Sunday|Sunday|Sunday"},
        {1033, "M|MM|MMM|MMMM|MMMMM", kMorning, "1|01|Jan|January|January"},
        {1033, "y|yy|yyy|yyyy|yyyyy|yyyyyy", kMorning, "5|05|2005|2005|2005|2005"},
        {1033, "y|yy|yyyy", kJuly4, "11|11|2011"},
        {1033, "yy yyyy", MK_SystemTime{2000, 3, 0, 1, 0, 0, 0, 0}, "00 2000"},
        {1033, "yyyy", MK_SystemTime{5, 3, 0, 1, 0, 0, 0, 0}, "0005"},
        {1033, "yyyy", MK_SystemTime{30827, 12, 0, 31, 0, 0, 0, 0}, "30827"},
        {1033, "g|gg|ggg", kJuly4, "AD|AD|AD"},
        {1031, "gg", kJuly4, "n. Chr."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Describe(c));
        const auto text = FormatDate(c.locale, c.time, c.picture);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, c.expected);
    }
}

TEST(DateFormat, QuotesAndLiteralCharacters) {
    const Case cases[] = {
        {1033, "'Day' d", kJuly4, "Day 4"},
        {1033, "'It''s' dddd", kJuly4, "It's Monday"},
        {1033, "d''M", kJuly4, "4'7"},
        {1033, "''''", kJuly4, "''"},
        {1033, "'dd MM yyyy'", kJuly4, "dd MM yyyy"},
        {1033, "d 'of' MMMM 'unclosed", kJuly4, "4 of July unclosed"},
        {1033, "d''d", kJuly4, "4'4"},
        // Time letters mean nothing to the date formatter.
        {1033, "yyyy-MM-dd HH:mm:ss tt", kJuly4, "2011-07-04 HH:mm:ss tt"},
        {1033, "[d] #d% Q", kJuly4, "[4] #4% Q"},
        {1036, "d MMMM 'à' yyyy", kJuly4, "4 juillet à 2011"},
        {1033, "d ★ M", kJuly4, "4 ★ 7"},
        {1033, "", kJuly4, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Describe(c));
        const auto text = FormatDate(c.locale, c.time, c.picture);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, c.expected);
    }
}

TEST(DateFormat, IllFormedUtf8InAPictureBecomesReplacementCharacters) {
    const auto text = FormatDate(1033, kJuly4,
                                 "d\xFF"
                                 "M");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text,
              "4\xEF\xBF\xBD"
              "7");
}

TEST(DateFormat, TimePicturesWithAndWithoutSeconds) {
    struct TimeCase {
        uint32_t locale;
        const char *picture;
        MK_SystemTime time;
        const char *withSeconds;
        const char *withoutSeconds;
    };
    const TimeCase cases[] = {
        {1033, "h:mm:ss tt", kJuly4, "6:30:05 PM", "6:30 PM"},
        {1033, "hh:mm:ss tt", kJuly4, "06:30:05 PM", "06:30 PM"},
        {1033, "H:mm:ss", kJuly4, "18:30:05", "18:30"},
        {1033, "HH:mm:ss", kMorning, "06:05:09", "06:05"},
        {1033, "h:m:s t", kMorning, "6:5:9 A", "6:5 A"},
        {1033, "hh:mm tt", kMidnight, "12:00 AM", "12:00 AM"},
        {1033, "H:mm", kMidnight, "0:00", "0:00"},
        {1033, "h tt", kNoon, "12 PM", "12 PM"},
        {1033, "hhh:mmm:sss ttt", kJuly4, "06:30:05 PM", "06:30 PM"},
        {1033, "ss", kJuly4, "05", ""},
        {1033, "'at' ss", kJuly4, "at 05", ""},
        {1033, "HH:mm:ss 'h'", kJuly4, "18:30:05 h", "18:30 h"},
        {1033, "H'h'mm'm'ss's'", kJuly4, "18h30m05s", "18h30s"},
        {1033, "ss:mm", kJuly4, "05:30", ":30"},
        // Date letters mean nothing to the time formatter.
        {1033, "dd HH", kJuly4, "dd 18", "dd 18"},
        {1031, "HH:mm:ss", kJuly4, "18:30:05", "18:30"},
        {1031, "h:mm tt", kJuly4, "6:30 PM", "6:30 PM"},
        {1041, "tt h:mm:ss", kJuly4, "午後 6:30:05", "午後 6:30"},
        {1041, "t h", kMorning, "午 6", "午 6"},
        {1041, "H:mm:ss", kJuly4, "18:30:05", "18:30"},
        {1042, "tt h:mm:ss", kJuly4, "오후 6:30:05", "오후 6:30"},
        {1032, "h:mm:ss tt", kJuly4, "6:30:05 μ.μ.", "6:30 μ.μ."},
        {1049, "H:mm:ss", kJuly4, "18:30:05", "18:30"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.locale) + " \"" + c.picture + "\"");
        const auto with = FormatTime(c.locale, c.time, c.picture, true);
        const auto without = FormatTime(c.locale, c.time, c.picture, false);
        ASSERT_TRUE(with.has_value());
        ASSERT_TRUE(without.has_value());
        EXPECT_EQ(*with, c.withSeconds);
        EXPECT_EQ(*without, c.withoutSeconds);
    }
}

TEST(DateFormat, InvalidDatesGiveNoDatePart) {
    const MK_SystemTime invalid[] = {
        kZero,
        {2011, 0, 0, 4, 0, 0, 0, 0},
        {2011, 13, 0, 4, 0, 0, 0, 0},
        {2011, 7, 0, 0, 0, 0, 0, 0},
        {2011, 7, 0, 32, 0, 0, 0, 0},
        {2011, 4, 0, 31, 0, 0, 0, 0},
        {2011, 2, 0, 29, 0, 0, 0, 0},
        {1900, 2, 0, 29, 0, 0, 0, 0},
        {0, 7, 0, 4, 0, 0, 0, 0},
        {30828, 1, 0, 1, 0, 0, 0, 0},
    };
    for (const auto &t : invalid) {
        SCOPED_TRACE(std::to_string(t.wYear) + "-" + std::to_string(t.wMonth) + "-" +
                     std::to_string(t.wDay));
        EXPECT_FALSE(FormatDate(1033, t, "yyyy-MM-dd").has_value());
        EXPECT_FALSE(FormatDate(1033, t, "'literal only'").has_value());
    }
    EXPECT_EQ(FormatDate(1033, {2012, 2, 0, 29, 0, 0, 0, 0}, "yyyy-MM-dd"), "2012-02-29");
    EXPECT_EQ(FormatDate(1033, {2000, 2, 0, 29, 0, 0, 0, 0}, "yyyy-MM-dd"), "2000-02-29");
    EXPECT_EQ(FormatDate(1033, {1, 1, 0, 1, 0, 0, 0, 0}, "yyyy-MM-dd dddd"), "0001-01-01 Monday");
}

TEST(DateFormat, InvalidTimesGiveNoTimePart) {
    const MK_SystemTime invalid[] = {
        {2011, 7, 0, 4, 24, 0, 0, 0},
        {2011, 7, 0, 4, 0, 60, 0, 0},
        {2011, 7, 0, 4, 0, 0, 60, 0},
        {2011, 7, 0, 4, 0, 0, 0, 1000},
    };
    for (const auto &t : invalid) {
        EXPECT_FALSE(FormatTime(1033, t, "HH:mm:ss", true).has_value());
        EXPECT_FALSE(FormatTime(1033, t, "HH:mm:ss", false).has_value());
    }
    // The time formatter does not look at the date: the all-zero one is midnight.
    EXPECT_EQ(FormatTime(1033, kZero, "HH:mm:ss", true), "00:00:00");
}

TEST(DateFormat, DayOfWeekComesFromTheDateNotTheField) {
    MK_SystemTime t = kJuly4;
    for (uint16_t field : {0, 3, 6, 7, 999}) {
        t.wDayOfWeek = field;
        EXPECT_EQ(FormatDate(1033, t, "dddd"), "Monday");
    }
    struct Day {
        int year, month, day, weekday;
    };
    const Day days[] = {{1, 1, 1, 1},      {1600, 2, 29, 2},  {1752, 9, 14, 4}, {1900, 1, 1, 1},
                        {1970, 1, 1, 4},   {2000, 2, 29, 2},  {2011, 7, 4, 1},  {2024, 12, 31, 2},
                        {9999, 12, 31, 5}, {30827, 12, 31, 5}};
    for (const auto &d : days)
        EXPECT_EQ(mk::metadata::DayOfWeek(d.year, d.month, d.day), d.weekday)
            << d.year << "-" << d.month << "-" << d.day;
}

TEST(DateFormat, UnknownLocaleGivesNoPart) {
    for (uint32_t locale : {9999u, 0xFFFFu, 0x7FFFu}) {
        EXPECT_FALSE(FormatDate(locale, kJuly4, "yyyy").has_value()) << locale;
        EXPECT_FALSE(FormatTime(locale, kJuly4, "HH", true).has_value()) << locale;
    }
    EXPECT_EQ(Format(kJuly4, Spec(9999, "yyyy-MM-dd", "HH:mm", 0)), "");
}

TEST(DateFormat, DefaultLocaleIdentifiersUseTheUsersLocale) {
    {
        const DefaultLocale german(icu::Locale("de", "DE"));
        for (uint32_t locale : {0u, 0x400u, 0x800u})
            EXPECT_EQ(FormatDate(locale, kJuly4, "dddd, d. MMMM"), "Montag, 4. Juli") << locale;
    }
    {
        // No usable default (the root locale, a "C" environment): en-US.
        const DefaultLocale root(icu::Locale::getRoot());
        EXPECT_EQ(FormatDate(0x400, kJuly4, "dddd, MMMM d"), "Monday, July 4");
    }
    {
        const DefaultLocale posix(icu::Locale("en", "US", "POSIX"));
        EXPECT_EQ(FormatDate(0x400, kJuly4, "dddd, MMMM d"), "Monday, July 4");
    }
}

TEST(FormatDateTime, JoinsDateAndTime) {
    struct JoinCase {
        DateFormatSpec spec;
        MK_SystemTime time;
        const char *expected;
    };
    Setts defaults;
    MK_SettsLoadDefaults(&defaults);
    DateFormatSpec fromDefaults;
    std::memcpy(&fromDefaults, reinterpret_cast<const uint8_t *>(&defaults) + 4,
                sizeof fromDefaults);
    const JoinCase cases[] = {
        {fromDefaults, kJuly4, "2011-07-04"},
        {Spec(1033, "yyyy-MM-dd", "", 0), kJuly4, "2011-07-04"},
        {Spec(1033, "yyyy-MM-dd", "HH:mm:ss", 0), kJuly4, "2011-07-04 18:30"},
        {Spec(1033, "yyyy-MM-dd", "HH:mm:ss", 1), kJuly4, "2011-07-04 18:30:05"},
        // Only bit 0 of useSeconds counts.
        {Spec(1033, "yyyy-MM-dd", "HH:mm:ss", 2), kJuly4, "2011-07-04 18:30"},
        {Spec(1033, "yyyy-MM-dd", "HH:mm:ss", 3), kJuly4, "2011-07-04 18:30:05"},
        {Spec(1033, "dddd, MMMM d, yyyy", "h:mm:ss tt", 1), kJuly4,
         "Monday, July 4, 2011 6:30:05 PM"},
        {Spec(1033, "dddd, MMMM d, yyyy", "h:mm:ss tt", 0), kJuly4, "Monday, July 4, 2011 6:30 PM"},
        {Spec(1049, "d MMMM yyyy", "H:mm", 0), kJuly4, "4 июля 2011 18:30"},
        {Spec(1033, "", "HH:mm", 0), kJuly4, " 18:30"},
        {Spec(1033, "", "", 0), kJuly4, ""},
        // The all-zero date: no date part, midnight for the time.
        {Spec(1033, "yyyy-MM-dd", "", 0), kZero, ""},
        {Spec(1033, "yyyy-MM-dd", "HH:mm", 0), kZero, " 00:00"},
        // An invalid time leaves the date alone.
        {Spec(1033, "yyyy-MM-dd", "HH:mm", 0), {2011, 7, 0, 4, 25, 0, 0, 0}, "2011-07-04"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.spec.datePicture) + " | " + c.spec.timePicture);
        EXPECT_EQ(Format(c.time, c.spec), c.expected);
    }
}

TEST(FormatDateTime, TextsReaching254BytesGiveEmptyStamp) {
    // "понедельник" is 22 bytes of UTF-8; "dddd," eleven times renders as 253 bytes.
    const std::string monday = "понедельник";
    ASSERT_EQ(monday.size(), 22u);
    const std::string days253 = Repeat("dddd,", 11);
    const std::string text253 = Repeat(monday + ",", 11);
    ASSERT_EQ(text253.size(), 253u);

    // Date alone: 253 bytes fit, 254 do not (254 + 2 reaches 256).
    EXPECT_EQ(Format(kJuly4, Spec(1049, days253.c_str(), "", 0)), text253);
    EXPECT_EQ(Format(kJuly4, Spec(1049, (days253 + "1").c_str(), "", 0)), "");

    // Date and time together: 252 + 1 + 2 = 255 fits (254 characters of
    // output), 252 + 2 + 2 does not.
    const std::string days252 = Repeat("dddd,", 10) + "dddd";
    const std::string text252 = Repeat(monday + ",", 10) + monday;
    ASSERT_EQ(text252.size(), 252u);
    EXPECT_EQ(Format(kJuly4, Spec(1049, days252.c_str(), "t", 0)), text252 + " P");
    EXPECT_EQ(Format(kJuly4, Spec(1049, days252.c_str(), "tt", 0)), "");
    // Dropping the seconds can bring a text back under the limit.
    EXPECT_EQ(Format(kJuly4, Spec(1049, days252.c_str(), "ss", 1)), "");
    EXPECT_EQ(Format(kJuly4, Spec(1049, days252.c_str(), "ss", 0)), text252);

    // A date part longer than its 255-byte buffer fails on its own; the time remains.
    EXPECT_EQ(Format(kJuly4, Spec(1049, Repeat("dddd,", 12).c_str(), "HH:mm", 0)), " 18:30");
}

TEST(FormatDateTime, PicturesFillingTheirWholeFieldAreReadToTheFieldEnd) {
    DateFormatSpec spec = Spec(1033, "", "", 1);
    const std::string date = Repeat("yyyy-", 12) + "yyyy";  // 64 bytes, no NUL
    const std::string time = Repeat("HH-", 21) + "H";       // 64 bytes, no NUL
    ASSERT_EQ(date.size(), sizeof spec.datePicture);
    ASSERT_EQ(time.size(), sizeof spec.timePicture);
    std::memcpy(spec.datePicture, date.data(), date.size());
    std::memcpy(spec.timePicture, time.data(), time.size());
    EXPECT_EQ(Format(kJuly4, spec), Repeat("2011-", 12) + "2011 " + Repeat("18-", 21) + "18");
}

TEST(FormatDateTime, NullArgumentsAreRefused) {
    const DateFormatSpec spec = Spec(1033, "yyyy", "HH", 0);
    char output[256];
    std::memset(output, 'X', sizeof output);
    EXPECT_EQ(MK_FormatDateTime(nullptr, &spec, output), 0);
    EXPECT_EQ(output[0], '\0');
    std::memset(output, 'X', sizeof output);
    EXPECT_EQ(MK_FormatDateTime(&kJuly4, nullptr, output), 0);
    EXPECT_EQ(output[0], '\0');
    EXPECT_EQ(MK_FormatDateTime(&kJuly4, &spec, nullptr), 0);
}

TEST(FormatDateTime, MayRunOnSeveralThreads) {
    const DateFormatSpec spec = Spec(1049, "dddd, d MMMM yyyy", "H:mm:ss", 1);
    const std::string expected = "понедельник, 4 июля 2011 18:30:05";
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (auto &r : results)
        threads.emplace_back([&r, &spec] {
            for (int i = 0; i < 20; ++i) {
                char output[256];
                MK_FormatDateTime(&kJuly4, &spec, output);
                if (i == 0)
                    r = output;
                else if (r != output)
                    r = "mismatch";
            }
        });
    for (auto &t : threads) t.join();
    for (const auto &r : results) EXPECT_EQ(r, expected);
}

}  // namespace
