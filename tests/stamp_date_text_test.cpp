// Tests of the stamp text: the selected date formatted by the pictures of
// the settings, end to end from a picture file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "metadata/stamp_date.h"
#include "metadata_test_builders.h"
#include "platform/files.h"

namespace mk::metadata {
namespace {

using test::Bytes;
using test::DatedTiff;
using test::ExifApp1;
using test::Jpeg;

class StampText : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *old = std::getenv("TZ");
        hadZone_ = old != nullptr;
        if (old) oldZone_ = old;
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
    void TearDown() override {
        if (hadZone_)
            setenv("TZ", oldZone_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    std::string Picture(const std::string &original) {
        const std::string path = dir_.file("p.jpg");
        test::WriteFile(path, Jpeg({ExifApp1(DatedTiff(true, "", original, ""))}));
        // 2020-05-17 12:34:56 UTC: 14:34:56 local.
        EXPECT_TRUE(platform::SetModificationTime(path.c_str(), timespec{1589718896, 0}));
        return path;
    }

    static DateFormatSpec Spec(const char *date, const char *time, uint32_t useSeconds) {
        DateFormatSpec spec{};
        spec.useSeconds = useSeconds;
        spec.localeId = 1033;
        std::strncpy(spec.datePicture, date, sizeof spec.datePicture - 1);
        std::strncpy(spec.timePicture, time, sizeof spec.timePicture - 1);
        return spec;
    }

    static std::string Text(const std::string &path, uint32_t flags, const DateFormatSpec &spec) {
        char text[256];
        std::memset(text, 'x', sizeof text);
        MakeStampText(path.c_str(), flags, &spec, text);
        return text;
    }

    test::TempDir dir_;

  private:
    bool hadZone_ = false;
    std::string oldZone_;
};

TEST_F(StampText, Texts) {
    struct Case {
        const char *original;
        uint32_t flags;
        const char *date, *time;
        uint32_t useSeconds;
        const char *text;
    };
    const Case cases[] = {
        {"2011:07:04 18:30:05", 0x001B0001, "yyyy-MM-dd", "", 0, "2011-07-04"},
        {"2011:07:04 18:30:05", FLAG_DATE_FROM_EXIF, "yyyy-MM-dd", "HH:mm:ss", 0,
         "2011-07-04 18:30"},
        {"2011:07:04 18:30:05", FLAG_DATE_FROM_EXIF, "yyyy-MM-dd", "HH:mm:ss", 1,
         "2011-07-04 18:30:05"},
        {"2011:07:04 18:30:05", FLAG_DATE_FROM_EXIF, "", "HH:mm", 0, " 18:30"},
        {"2011:02:30 10:00:00", FLAG_DATE_FROM_EXIF, "yyyy-MM-dd", "HH:mm", 0, "2011-03-02 10:00"},
        // Unusable picture dates and a clear flag give the file time.
        {"0000:00:00 00:00:00", FLAG_DATE_FROM_EXIF, "yyyy-MM-dd", "HH:mm", 0, "2020-05-17 14:34"},
        {"letters", FLAG_DATE_FROM_EXIF, "yyyy-MM-dd", "HH:mm", 0, "2020-05-17 14:34"},
        {"2011:07:04 18:30:05", 0, "yyyy-MM-dd", "HH:mm", 0, "2020-05-17 14:34"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Text(Picture(c.original), c.flags, Spec(c.date, c.time, c.useSeconds)), c.text)
            << c.original << " " << c.date << " " << c.time;
    }
}

TEST_F(StampText, UnopenableFileFormatsTheZeroDate) {
    const std::string missing = dir_.file("missing.jpg");
    EXPECT_EQ(Text(missing, FLAG_DATE_FROM_EXIF, Spec("yyyy-MM-dd", "", 0)), "");
    EXPECT_EQ(Text(missing, FLAG_DATE_FROM_EXIF, Spec("yyyy-MM-dd", "HH:mm", 0)), " 00:00");
}

TEST_F(StampText, NullArguments) {
    const std::string path = Picture("2011:07:04 18:30:05");
    char text[256] = "unchanged";
    MakeStampText(path.c_str(), FLAG_DATE_FROM_EXIF, nullptr, text);
    EXPECT_STREQ(text, "");
    const DateFormatSpec spec = Spec("yyyy-MM-dd", "", 0);
    MakeStampText(path.c_str(), FLAG_DATE_FROM_EXIF, &spec, nullptr);
    std::strcpy(text, "unchanged");
    MakeStampText(nullptr, FLAG_DATE_FROM_EXIF, &spec, text);
    EXPECT_STREQ(text, "");
}

}  // namespace
}  // namespace mk::metadata
