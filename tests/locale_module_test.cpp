// Tests of the locale module through the shared library, as a program sees
// it: pictures of numbers only never load ICU, the first picture with names
// loads the module, and the locale calls answer through it.
#include <gtest/gtest.h>
#include <link.h>

#include <cstring>
#include <string>
#include <string_view>

#include "MK_Core.h"

namespace {

constexpr MK_SystemTime kJuly4{2011, 7, 1, 4, 18, 30, 5, 0};

bool Loaded(std::string_view name) {
    struct Search {
        std::string_view name;
        bool found = false;
    } search{name};
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            auto *s = static_cast<Search *>(data);
            if (info->dlpi_name != nullptr &&
                std::string_view(info->dlpi_name).find(s->name) != std::string_view::npos)
                s->found = true;
            return 0;
        },
        &search);
    return search.found;
}

std::string Format(uint16_t localeId, const char *date, const char *time) {
    DateFormatSpec spec{};
    spec.localeId = localeId;
    std::strncpy(spec.datePicture, date, sizeof spec.datePicture - 1);
    std::strncpy(spec.timePicture, time, sizeof spec.timePicture - 1);
    char output[256];
    MK_FormatDateTime(&kJuly4, &spec, output);
    return output;
}

// One test, because the module once loaded stays loaded: the steps must run
// in this order in one process.
TEST(LocaleModule, LoadedOnlyWhenAPictureNeedsIcu) {
    ASSERT_FALSE(Loaded("libicu")) << "the program itself links ICU";

    // Known identifiers, the user's default and numbers only: no module.
    EXPECT_EQ(Format(1033, "yyyy-MM-dd", "HH:mm"), "2011-07-04 18:30");
    EXPECT_EQ(Format(1031, "dd.MM.yy", "H:mm"), "04.07.11 18:30");
    EXPECT_EQ(Format(0x400, "d/M/yyyy", ""), "4/7/2011");
    EXPECT_EQ(Format(0x0C0A, "yyyy", "hh"), "2011 06");
    EXPECT_FALSE(Loaded("libMK_Locale"));
    EXPECT_FALSE(Loaded("libicu"));

    // A picture with names loads the module, and with it ICU.
    EXPECT_EQ(Format(1033, "dddd, MMMM d, yyyy", "h:mm tt"), "Monday, July 4, 2011 6:30 PM");
    EXPECT_TRUE(Loaded("libMK_Locale"));
    EXPECT_TRUE(Loaded("libicuuc"));

    // What the list made at build time leaves out is asked of the module.
    EXPECT_EQ(Format(9999, "yyyy-MM-dd", "HH:mm"), "");
    EXPECT_EQ(Format(0xFFFF, "yyyy", ""), "");
    EXPECT_EQ(Format(1049, "d MMMM yyyy", ""), "4 июля 2011");

    const int32_t count = MK_LocaleCount();
    EXPECT_GT(count, 200);
    MK_LocaleInfo info{};
    bool english = false;
    for (int32_t i = 0; i < count; ++i) {
        ASSERT_EQ(MK_LocaleGet(i, &info), 0) << i;
        english = english || (info.localeId == 1033 && std::strcmp(info.tag, "en-US") == 0);
    }
    EXPECT_TRUE(english);
    EXPECT_EQ(MK_LocaleGet(count, &info), 1);
    char pictures[512];
    EXPECT_GT(MK_LocalePictures(1033, MK_PICTURES_LONG_DATE, pictures, sizeof pictures), 0);
    EXPECT_EQ(MK_LocalePictures(9999, MK_PICTURES_LONG_DATE, pictures, sizeof pictures), 0);
    EXPECT_EQ(pictures[0], '\0');
}

}  // namespace
