// Tests of the locale data: identifier mapping, installed locales, the
// character sets of scripts, ICU pattern conversion and the offered pictures.
#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "MK_Core.h"
#include "icu_default_locale.h"
#include "metadata/date_format.h"
#include "metadata/locale_access.h"
#include "metadata/locale_data.h"

using mk::metadata::ConvertIcuPattern;
using mk::metadata::IcuLocaleForLcid;
using mk::metadata::InstalledLocales;
using mk::metadata::LocalePictures;
using mk::metadata::PictureKind;
using Pictures = std::vector<std::string>;

namespace {

constexpr MK_SystemTime kJuly4{2011, 7, 1, 4, 18, 30, 5, 0};

using mk::test::DefaultLocale;

// True when every ASCII letter outside quotes is a Windows element letter.
bool OnlyWindowsElements(const std::string &picture) {
    bool quoted = false;
    for (char c : picture) {
        if (c == '\'') {
            quoted = !quoted;
            continue;
        }
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (letter && !quoted && std::string_view("dMyghHmst").find(c) == std::string::npos)
            return false;
    }
    return !quoted;
}

// The NUL-separated list written by MK_LocalePictures.
Pictures ParseList(const char *buffer) {
    Pictures list;
    for (const char *p = buffer; *p != '\0'; p += std::strlen(p) + 1) list.emplace_back(p);
    return list;
}

TEST(LocaleData, IdentifiersMapToIcuLocales) {
    struct Case {
        uint32_t id;
        const char *name;
    };
    const Case cases[] = {
        {1033, "en_US"}, {2057, "en_GB"},        {1031, "de_DE"}, {1049, "ru_RU"},
        {1041, "ja_JP"}, {1036, "fr_FR"},        {2052, "zh_CN"}, {1028, "zh_Hant_TW"},
        {3082, "es_ES"}, {0x241A, "sr_Latn_RS"}, {9, "en"},       {127, "en_US_POSIX"}};
    for (const auto &c : cases) EXPECT_EQ(IcuLocaleForLcid(c.id), c.name) << c.id;
    // 0x465 (dv-MV) is a Windows locale ICU has no data for.
    for (uint32_t id : {9999u, 0xFFFFu, 0x7FFFu, 0x1000u, 0x465u})
        EXPECT_FALSE(IcuLocaleForLcid(id).has_value()) << id;
}

TEST(LocaleData, DefaultIdentifiersFollowTheUsersLocale) {
    {
        const DefaultLocale french(icu::Locale("fr", "FR"));
        for (uint32_t id : {0u, 0x400u, 0x800u}) EXPECT_EQ(IcuLocaleForLcid(id), "fr_FR") << id;
        EXPECT_EQ(LocalePictures(0x400, PictureKind::LongDate),
                  LocalePictures(1036, PictureKind::LongDate));
    }
    {
        const DefaultLocale posix(icu::Locale("en", "US", "POSIX"));
        EXPECT_EQ(IcuLocaleForLcid(0x400), "en_US");
    }
    {
        const DefaultLocale root(icu::Locale::getRoot());
        EXPECT_EQ(IcuLocaleForLcid(0), "en_US");
    }
    {
        const DefaultLocale unknown(icu::Locale("xx", "YY"));
        EXPECT_EQ(IcuLocaleForLcid(0), "en_US");
    }
}

TEST(LocaleData, CharacterSetsFollowTheScript) {
    struct Case {
        const char *locale;
        int charSet;
    };
    const Case cases[] = {
        {"ru_RU", 204},      {"uk_UA", 204},      {"sr_Cyrl_RS", 204}, {"bg_BG", 204},
        {"el_GR", 161},      {"ar_SA", 178},      {"fa_IR", 178},      {"he_IL", 177},
        {"th_TH", 222},      {"ja_JP", 128},      {"ko_KR", 129},      {"zh_CN", 134},
        {"zh_Hans_SG", 134}, {"zh_Hant_TW", 136}, {"zh_Hant_HK", 136}, {"tr_TR", 162},
        {"az_Latn_AZ", 162}, {"lt_LT", 186},      {"lv_LV", 186},      {"et_EE", 186},
        {"cs_CZ", 238},      {"pl_PL", 238},      {"hu_HU", 238},      {"sk_SK", 238},
        {"sl_SI", 238},      {"hr_HR", 238},      {"ro_RO", 238},      {"sr_Latn_RS", 238},
        {"vi_VN", 163},      {"en_US", 0},        {"de_DE", 0},        {"fr_FR", 0},
        {"es_ES", 0},        {"hi_IN", 1},        {"ka_GE", 1},        {"hy_AM", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(mk::metadata::CharSetForLocale(c.locale), c.charSet) << c.locale;
    EXPECT_EQ(mk::metadata::CharSetForLocale(nullptr), 0);
}

TEST(LocaleData, IcuPatternsConvertElementByElement) {
    struct Case {
        const char *icu;
        const char *windows;
    };
    const Case cases[] = {
        {"M/d/yy", "M/d/yy"},
        {"EEEE, MMMM d, y", "dddd, MMMM d, yyyy"},
        {"EEE, MMM d, yyyy", "ddd, MMM d, yyyy"},
        {"dd.MM.y", "dd.MM.yyyy"},
        {"d 'de' MMMM 'de' y", "d' de 'MMMM' de 'yyyy"},
        {"d MMMM y 'г'.", "d MMMM yyyy' г.'"},
        {"y年M月d日EEEE", "yyyy'年'M'月'd'日'dddd"},
        {"LLLL y", "MMMM yyyy"},
        {"MMMMM d", "MMM d"},
        {"cccc", "dddd"},
        {"e d", "d"},
        {"G y", "gg yyyy"},
        {"d\u200F/M\u200F/y GGGGG", "d/M/yyyy gg"},
        {"h:mm:ss\u202Fa", "h:mm:ss tt"},
        {"a h:mm:ss", "tt h:mm:ss"},
        {"Bh:mm:ss", "tth:mm:ss"},
        {"K:mm a", "h:mm tt"},
        {"kk:mm", "HH:mm"},
        {"HH:mm:ss z", "HH:mm:ss"},
        {"HH:mm:ss zzzz", "HH:mm:ss"},
        {"zzzz HH:mm:ss", "HH:mm:ss"},
        {"HH:mm:ss.SSS", "HH:mm:ss"},
        {"QQQ y", "yyyy"},
        {"'o''clock' h", "'o''clock 'h"},
        {"h 'o''clock'", "h' o''clock'"},
        {"''", "''''"},
        {"H 'h' mm", "H' h 'mm"},
        {"", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ConvertIcuPattern(c.icu), c.windows) << c.icu;
        EXPECT_TRUE(OnlyWindowsElements(ConvertIcuPattern(c.icu))) << c.icu;
    }
}

TEST(LocaleData, PicturesOfWellKnownLocales) {
    struct Case {
        uint32_t id;
        PictureKind kind;
        Pictures pictures;
    };
    const Case cases[] = {
        {1033, PictureKind::ShortDate, {"M/d/yyyy", "M/d/yy", "MM/dd/yyyy", "yyyy-MM-dd"}},
        {1033, PictureKind::LongDate, {"dddd, MMMM d, yyyy", "MMMM d, yyyy", "MMM d, yyyy"}},
        {1033, PictureKind::Time, {"h:mm:ss tt", "hh:mm:ss tt", "H:mm:ss", "HH:mm:ss"}},
        {1031, PictureKind::ShortDate, {"dd.MM.yyyy", "dd.MM.yy", "yyyy-MM-dd"}},
        {1031, PictureKind::LongDate, {"dddd, d. MMMM yyyy", "d. MMMM yyyy"}},
        {1031, PictureKind::Time, {"HH:mm:ss", "H:mm:ss"}},
        {1049,
         PictureKind::LongDate,
         {"dddd, d MMMM yyyy' г.'", "d MMMM yyyy' г.'", "d MMM yyyy' г.'"}},
        {1041, PictureKind::ShortDate, {"yyyy/MM/dd", "yyyy-MM-dd"}},
        {1041, PictureKind::LongDate, {"yyyy'年'M'月'd'日'dddd", "yyyy'年'M'月'd'日'"}},
        {1041, PictureKind::Time, {"H:mm:ss", "HH:mm:ss"}},
        {1036, PictureKind::LongDate, {"dddd d MMMM yyyy", "d MMMM yyyy", "d MMM yyyy"}},
        {1042, PictureKind::Time, {"tt h:mm:ss", "tt hh:mm:ss", "H:mm:ss", "HH:mm:ss"}},
        {3082,
         PictureKind::LongDate,
         {"dddd, d' de 'MMMM' de 'yyyy", "d' de 'MMMM' de 'yyyy", "d MMM yyyy"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LocalePictures(c.id, c.kind), c.pictures)
            << c.id << " kind " << static_cast<int>(c.kind);
    for (auto kind : {PictureKind::ShortDate, PictureKind::LongDate, PictureKind::Time})
        EXPECT_TRUE(LocalePictures(9999, kind).empty());
}

TEST(LocaleData, PicturesOfWellKnownLocalesRenderAsExpected) {
    struct Case {
        uint32_t id;
        PictureKind kind;
        const char *first;
    };
    const Case cases[] = {
        {1033, PictureKind::LongDate, "Monday, July 4, 2011"},
        {1031, PictureKind::LongDate, "Montag, 4. Juli 2011"},
        {1049, PictureKind::LongDate, "понедельник, 4 июля 2011 г."},
        {1041, PictureKind::LongDate, "2011年7月4日月曜日"},
        {1036, PictureKind::LongDate, "lundi 4 juillet 2011"},
        {1032, PictureKind::LongDate, "Δευτέρα 4 Ιουλίου 2011"},
        {1025, PictureKind::LongDate, "الاثنين، 4 يوليو 2011"},
        {1054, PictureKind::LongDate, "วันจันทร์ที่ 4 กรกฎาคม ค.ศ. 2011"},
        {1033, PictureKind::ShortDate, "7/4/2011"},
        {1049, PictureKind::ShortDate, "04.07.2011"},
        {1025, PictureKind::ShortDate, "4/7/2011"},
        {1033, PictureKind::Time, "6:30:05 PM"},
        {1028, PictureKind::Time, "下午6:30:05"},
    };
    for (const auto &c : cases) {
        const auto pictures = LocalePictures(c.id, c.kind);
        ASSERT_FALSE(pictures.empty()) << c.id;
        const auto text = c.kind == PictureKind::Time
                              ? mk::metadata::FormatTime(c.id, kJuly4, pictures[0], true)
                              : mk::metadata::FormatDate(c.id, kJuly4, pictures[0]);
        EXPECT_EQ(text, c.first) << c.id << " \"" << pictures[0] << "\"";
    }
}

TEST(LocaleData, EveryInstalledLocaleOffersUsablePictures) {
    const auto &list = InstalledLocales();
    for (const auto &entry : list) {
        SCOPED_TRACE(entry.icuName);
        for (auto kind : {PictureKind::ShortDate, PictureKind::LongDate, PictureKind::Time}) {
            const auto pictures = LocalePictures(entry.localeId, kind);
            ASSERT_FALSE(pictures.empty());
            for (const auto &p : pictures) {
                SCOPED_TRACE(p);
                EXPECT_LE(p.size(), 63u);
                EXPECT_TRUE(OnlyWindowsElements(p));
                const auto text = kind == PictureKind::Time
                                      ? mk::metadata::FormatTime(entry.localeId, kJuly4, p, true)
                                      : mk::metadata::FormatDate(entry.localeId, kJuly4, p);
                ASSERT_TRUE(text.has_value());
                EXPECT_FALSE(text->empty());
                if (kind == PictureKind::Time)
                    EXPECT_NE(text->find("30"), std::string::npos);
                else
                    EXPECT_NE(text->find("4"), std::string::npos);
            }
        }
        const auto shortDates = LocalePictures(entry.localeId, PictureKind::ShortDate);
        EXPECT_NE(std::find(shortDates.begin(), shortDates.end(), "yyyy-MM-dd"), shortDates.end());
    }
}

TEST(LocaleData, InstalledLocalesAreSpecificSortedAndUnique) {
    const auto &list = InstalledLocales();
    ASSERT_GT(list.size(), 100u);
    std::set<uint16_t> ids;
    for (size_t i = 0; i < list.size(); ++i) {
        const auto &e = list[i];
        SCOPED_TRACE(e.icuName);
        EXPECT_TRUE(ids.insert(e.localeId).second);
        EXPECT_GE(e.localeId, 0x400);
        EXPECT_NE(e.localeId & 0x3FF, 0);
        EXPECT_EQ(IcuLocaleForLcid(e.localeId), e.icuName);
        EXPECT_FALSE(e.tag.empty());
        EXPECT_FALSE(e.englishName.empty());
        EXPECT_FALSE(e.nativeName.empty());
        if (i > 0) {
            EXPECT_LE(list[i - 1].englishName, e.englishName);
        }
    }
    struct Known {
        uint16_t id;
        const char *tag, *english, *native;
        int charSet;
    };
    const Known known[] = {
        {1033, "en-US", "English (United States)", "English (United States)", 0},
        {1031, "de-DE", "German (Germany)", "Deutsch (Deutschland)", 0},
        {1049, "ru-RU", "Russian (Russia)", "русский (Россия)", 204},
        {1041, "ja-JP", "Japanese (Japan)", "日本語 (日本)", 128},
        {1045, "pl-PL", "Polish (Poland)", "polski (Polska)", 238},
        {1032, "el-GR", "Greek (Greece)", "Ελληνικά (Ελλάδα)", 161},
    };
    for (const auto &k : known) {
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&](const auto &e) { return e.localeId == k.id; });
        ASSERT_NE(it, list.end()) << k.id;
        EXPECT_EQ(it->tag, k.tag);
        EXPECT_EQ(it->englishName, k.english);
        EXPECT_EQ(it->nativeName, k.native);
        EXPECT_EQ(it->charSet, k.charSet);
    }
}

TEST(LocaleData, ListIsBuiltOnceForAllThreads) {
    std::vector<const void *> seen(4);
    std::vector<std::thread> threads;
    for (auto &s : seen) threads.emplace_back([&s] { s = &InstalledLocales(); });
    for (auto &t : threads) t.join();
    for (const auto *s : seen) EXPECT_EQ(s, &InstalledLocales());
}

TEST(LocaleExports, CountAndEntries) {
    const int32_t count = MK_LocaleCount();
    ASSERT_EQ(count, static_cast<int32_t>(InstalledLocales().size()));
    for (int32_t i = 0; i < count; ++i) {
        MK_LocaleInfo info;
        std::memset(&info, 'X', sizeof info);
        ASSERT_EQ(MK_LocaleGet(i, &info), 0);
        const auto &e = InstalledLocales()[static_cast<size_t>(i)];
        EXPECT_EQ(info.localeId, e.localeId);
        EXPECT_EQ(info.charSet, e.charSet);
        ASSERT_NE(std::memchr(info.tag, '\0', sizeof info.tag), nullptr);
        ASSERT_NE(std::memchr(info.englishName, '\0', sizeof info.englishName), nullptr);
        ASSERT_NE(std::memchr(info.nativeName, '\0', sizeof info.nativeName), nullptr);
        EXPECT_EQ(info.tag, e.tag);
        // Long names are cut at a character boundary.
        EXPECT_EQ(e.englishName.rfind(info.englishName, 0), 0u);
        EXPECT_EQ(e.nativeName.rfind(info.nativeName, 0), 0u);
    }
    MK_LocaleInfo info;
    EXPECT_EQ(MK_LocaleGet(-1, &info), 1);
    EXPECT_EQ(MK_LocaleGet(count, &info), 1);
    EXPECT_EQ(MK_LocaleGet(0, nullptr), 1);
}

TEST(LocaleExports, PictureLists) {
    char buffer[512];
    EXPECT_EQ(MK_LocalePictures(1033, MK_PICTURES_TIME, buffer, sizeof buffer), 4);
    EXPECT_EQ(ParseList(buffer), LocalePictures(1033, PictureKind::Time));
    EXPECT_EQ(MK_LocalePictures(1031, MK_PICTURES_LONG_DATE, buffer, sizeof buffer), 2);
    EXPECT_EQ(ParseList(buffer), (Pictures{"dddd, d. MMMM yyyy", "d. MMMM yyyy"}));
    EXPECT_EQ(MK_LocalePictures(1033, MK_PICTURES_SHORT_DATE, buffer, sizeof buffer), 4);
    EXPECT_EQ(ParseList(buffer), LocalePictures(1033, PictureKind::ShortDate));

    // "h:mm:ss tt", its NUL and the closing NUL need 12 bytes.
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(MK_LocalePictures(1033, MK_PICTURES_TIME, buffer, 12), 1);
    EXPECT_EQ(ParseList(buffer), (Pictures{"h:mm:ss tt"}));
    EXPECT_EQ(buffer[12], 'X');
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(MK_LocalePictures(1033, MK_PICTURES_TIME, buffer, 11), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[11], 'X');

    EXPECT_EQ(MK_LocalePictures(9999, MK_PICTURES_TIME, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(MK_LocalePictures(1033, 3, buffer, sizeof buffer), 0);
    EXPECT_EQ(MK_LocalePictures(1033, -1, buffer, sizeof buffer), 0);
    EXPECT_EQ(MK_LocalePictures(1033, MK_PICTURES_TIME, nullptr, 100), 0);
    EXPECT_EQ(MK_LocalePictures(1033, MK_PICTURES_TIME, buffer, 0), 0);
}

}  // namespace

// The core tells known locales from unknown ones by a list made when it was
// built; it must say what ICU says, and hand identifiers with a sort ID to
// the module.
TEST(LocaleIdentifiers, TheListMadeAtBuildTimeAgreesWithIcu) {
    int known = 0;
    for (uint32_t id = 1; id <= 0xFFFF; ++id) {
        if (id == 0x400 || id == 0x800) continue;
        const bool icu = IcuLocaleForLcid(id).has_value();
        ASSERT_EQ(mk::metadata::KnownWhenBuilt(id), icu) << id;
        EXPECT_EQ(mk::metadata::KnowsLocale(id), icu) << id;
        known += icu ? 1 : 0;
    }
    EXPECT_GT(known, 200);
    for (uint32_t id : {0u, 0x400u, 0x800u}) EXPECT_TRUE(mk::metadata::KnowsLocale(id)) << id;
    // German with phone-book order, Japanese with Unicode order; an
    // identifier with the reserved bits set.
    for (uint32_t id : {0x10407u, 0x10411u, 0x1000409u}) {
        EXPECT_FALSE(mk::metadata::KnownWhenBuilt(id)) << id;
        EXPECT_EQ(mk::metadata::KnowsLocale(id), IcuLocaleForLcid(id).has_value()) << id;
    }
}
