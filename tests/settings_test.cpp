// Tests of the settings record, its geometry conversion and its persistence
// in settings files and the stored preferences.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstring>
#include <filesystem>

#include "MK_Core.h"
#include "settings/geometry.h"
#include "test_support.h"

using mk::test::Bytes;
using mk::test::ReadFile;
using mk::test::TempDir;
using mk::test::WriteFile;

namespace {

Bytes RecordBytes(const Setts &s) {
    const auto *p = reinterpret_cast<const uint8_t *>(&s);
    return Bytes(p, p + sizeof s);
}

Setts Defaults() {
    Setts s;
    std::memset(&s, 0xAB, sizeof s);
    MK_SettsLoadDefaults(&s);
    return s;
}

TEST(SettingsRecord, DefaultBytesAreExactlyTheListedOnes) {
    struct Run {
        size_t offset;
        Bytes bytes;
    };
    const auto text = [](const char *t) { return Bytes(t, t + std::strlen(t)); };
    const Run runs[] = {
        {0, {0xD1, 0x02}},
        {8, {0x09, 0x04}},
        {10, text("yyyy-MM-dd")},
        {138, {0x01, 0x06}},
        {140, {0x38, 0xFF, 0xFF, 0xFF}},
        {144, {0x6A, 0xFF, 0xFF, 0xFF}},
        {148, {0xF4, 0x01}},
        {152, text("Arial")},
        {184, {0x90, 0x01}},
        {190, {0x01}},
        {191, {0xFF, 0x80}},
        {195, {0x64, 0x0A, 0x32, 0x00, 0x32}},
        {205, {0x01, 0x00, 0x1B}},
    };
    Bytes expected(721, 0);
    for (const auto &run : runs)
        std::copy(run.bytes.begin(), run.bytes.end(), &expected[run.offset]);
    EXPECT_EQ(RecordBytes(Defaults()), expected);
}

TEST(SettingsRecord, DateFormatSpecViewsBytesFourOn) {
    const Setts s = Defaults();
    const DateFormatSpec *spec = mk::settings::DateFormatOf(s);
    EXPECT_EQ(spec->localeId, 1033);
    EXPECT_STREQ(spec->datePicture, "yyyy-MM-dd");
    EXPECT_EQ(spec->timePicture[0], '\0');
}

struct GeometryCase {
    const char *name;
    int32_t width, height;
    uint32_t extraFlags;
    int32_t horizontalOffset;  // stored value; 0 keeps the default
    mk::settings::StampGeometry expected;
};

class Geometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(Geometry, ConvertsToPixels) {
    const auto &c = GetParam();
    Setts s = Defaults();
    s.flags |= c.extraFlags;
    if (c.horizontalOffset != 0) s.horizontalOffset = c.horizontalOffset;
    const auto g = mk::settings::GeometryInPixels(s, c.width, c.height);
    EXPECT_EQ(g.fontHeight, c.expected.fontHeight);
    EXPECT_EQ(g.horizontalOffset, c.expected.horizontalOffset);
    EXPECT_EQ(g.verticalOffset, c.expected.verticalOffset);
    EXPECT_EQ(g.horizontalMargin, c.expected.horizontalMargin);
    EXPECT_EQ(g.verticalMargin, c.expected.verticalMargin);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Geometry,
    ::testing::Values(
        GeometryCase{"Landscape3000x2000", 3000, 2000, 0, 0, {100, -60, -30, 15, 10}},
        GeometryCase{"Landscape4000x3000", 4000, 3000, 0, 0, {150, -80, -45, 20, 15}},
        GeometryCase{"Portrait3000x4000", 3000, 4000, 0, 0, {150, -80, -45, 20, 15}},
        GeometryCase{"Tiny100x50", 100, 50, 0, 0, {2, -2, 0, 0, 0}},
        GeometryCase{"PixelUnits", 4000, 3000, FLAG_PIXEL_UNITS, 0, {500, -200, -150, 50, 50}},
        GeometryCase{"LowSixteenBits", 10, 10, FLAG_PIXEL_UNITS, 70000, {500, 4464, -150, 50, 50}},
        GeometryCase{
            "AllOnesIsMinusOne", 10, 10, FLAG_PIXEL_UNITS, 0xFFFF, {500, -1, -150, 50, 50}},
        GeometryCase{"LowBitsScaled", 20000, 10000, 0, 70000, {500, 8928, -150, 100, 50}}),
    [](const auto &info) { return std::string(info.param.name); });

// The stored preferences live in temporary configuration folders.
class Persistence : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", (dir_.path() / "user").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", ((dir_.path() / "system").string() + ":/nonexistent").c_str(), 1);
    }
    std::filesystem::path UserValue(const char *name) const {
        return dir_.path() / "user/Tarvelin/Mirelkanzoar/2.7" / name;
    }
    std::filesystem::path SystemValue(const char *name) const {
        return dir_.path() / "system/Tarvelin/Mirelkanzoar/2.7" / name;
    }
    void PutValue(const std::filesystem::path &path, const Bytes &data) {
        std::filesystem::create_directories(path.parent_path());
        WriteFile(path, data);
    }
    TempDir dir_;
};

TEST_F(Persistence, SavingSetsTheSizeMarkInFileAndRecord) {
    Setts s = Defaults();
    s.recordSize = 0;
    const auto path = dir_.file("a.mks");
    ASSERT_EQ(MK_SettsSaveToFile(&s, path.c_str()), 0);
    EXPECT_EQ(s.recordSize, 721);
    const Bytes data = ReadFile(path);
    ASSERT_EQ(data.size(), 721u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{0xD1, 0x02, 0, 0}));
}

TEST_F(Persistence, FileRoundTripAndLongerFile) {
    Setts s = Defaults();
    s.fontWeight = 700;
    s.reserved[511] = 0x5A;
    const auto path = dir_.file("b.mks");
    ASSERT_EQ(MK_SettsSaveToFile(&s, path.c_str()), 0);
    Bytes data = ReadFile(path);
    data.insert(data.end(), {1, 2, 3});  // bytes after the record are ignored
    WriteFile(path, data);
    Setts loaded{};
    ASSERT_EQ(MK_SettsLoadFromFile(&loaded, path.c_str()), 0);
    EXPECT_EQ(RecordBytes(loaded), RecordBytes(s));
}

TEST_F(Persistence, RejectedFilesLeaveTheRecordAlone) {
    const Setts original = Defaults();
    Bytes good = RecordBytes(original);
    Bytes shortFile(good.begin(), good.end() - 1);
    Bytes badMark = good;
    badMark[0] = 0xD0;
    struct Case {
        const char *name;
        Bytes data;
    };
    for (const auto &c :
         {Case{"short.mks", shortFile}, Case{"mark.mks", badMark}, Case{"empty.mks", Bytes{}}}) {
        WriteFile(dir_.file(c.name), c.data);
        Setts s = Defaults();
        s.fontWeight = 123;
        const Bytes before = RecordBytes(s);
        EXPECT_EQ(MK_SettsLoadFromFile(&s, dir_.file(c.name).c_str()), -2) << c.name;
        EXPECT_EQ(RecordBytes(s), before) << c.name;
    }
    Setts s = Defaults();
    EXPECT_EQ(MK_SettsLoadFromFile(&s, dir_.file("missing.mks").c_str()), -1);
    // A save that cannot be completed (here: a file-size limit, as on a full
    // disk) reports 1 and leaves the old file as it was.
    const auto kept = dir_.file("kept.mks");
    ASSERT_EQ(MK_SettsSaveToFile(&s, kept.c_str()), 0);
    const Bytes before = ReadFile(kept);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        Setts other = Defaults();
        other.fontWeight = 900;
        _exit(MK_SettsSaveToFile(&other, kept.c_str()) == 1 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(kept), before);
    for (const auto &entry : std::filesystem::directory_iterator(dir_.path()))
        EXPECT_NE(entry.path().extension(), ".tmp") << "left behind: " << entry.path();
    EXPECT_EQ(MK_SettsSaveToFile(&s, dir_.file("no/such/folder/x.mks").c_str()), 1);
}

TEST_F(Persistence, PreferencesRoundTrip) {
    Setts s = Defaults();
    s.recordSize = 0;
    s.stampPosition = 2;
    ASSERT_EQ(MK_SettsSaveToRegistry(&s), 0);
    EXPECT_EQ(s.recordSize, 721);
    EXPECT_EQ(ReadFile(UserValue("Preferences")), RecordBytes(s));
    Setts loaded;
    ASSERT_EQ(MK_SettsLoadFromRegistry(&loaded), 0);
    EXPECT_EQ(RecordBytes(loaded), RecordBytes(s));
    // No temporary file is left behind beside the value.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(UserValue("").parent_path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(Persistence, UnusablePreferencesGiveTheDefaults) {
    const Bytes defaults = RecordBytes(Defaults());
    Bytes zeroMark = defaults;
    zeroMark[0] = zeroMark[1] = 0;
    zeroMark[200] = 0x77;
    Bytes tooLong = defaults;
    tooLong.push_back(0);
    Bytes tooShort(defaults.begin(), defaults.end() - 1);
    for (const Bytes *value : {&zeroMark, &tooLong, &tooShort}) {
        PutValue(UserValue("Preferences"), *value);
        Setts s;
        std::memset(&s, 0xCC, sizeof s);
        EXPECT_EQ(MK_SettsLoadFromRegistry(&s), 0);
        EXPECT_EQ(RecordBytes(s), defaults);
    }
    std::filesystem::remove(UserValue("Preferences"));
    Setts s;
    EXPECT_EQ(MK_SettsLoadFromRegistry(&s), 0);
    EXPECT_EQ(RecordBytes(s), defaults);
}

TEST_F(Persistence, ProgramPathIsReadFromTheSystemStoreOnly) {
    ASSERT_EQ(MK_ExecFilenameSaveToRegistry("/opt/mk/bin/Mirelkanzoar"), 0);
    const Bytes stored = ReadFile(UserValue("SettingsModFilename"));
    const char expected[] = "/opt/mk/bin/Mirelkanzoar";  // with its NUL
    EXPECT_EQ(stored, Bytes(expected, expected + sizeof expected));

    char buffer[MK_MAX_PATH];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(MK_ExecFilenameLoadFromRegistry(buffer), 1);
    EXPECT_EQ(buffer[0], '\0');

    // An installer writes the bare path, without a NUL.
    PutValue(SystemValue("SettingsModFilename"), Bytes{'/', 'b', 'i', 'n', '/', 'm'});
    EXPECT_EQ(MK_ExecFilenameLoadFromRegistry(buffer), 0);
    EXPECT_STREQ(buffer, "/bin/m");

    PutValue(SystemValue("SettingsModFilename"), Bytes(260, 'a'));
    EXPECT_EQ(MK_ExecFilenameLoadFromRegistry(buffer), 1);
    EXPECT_EQ(buffer[0], '\0');
    Bytes longest(259, 'a');
    longest.push_back(0);
    PutValue(SystemValue("SettingsModFilename"), longest);
    EXPECT_EQ(MK_ExecFilenameLoadFromRegistry(buffer), 0);
    EXPECT_EQ(std::strlen(buffer), 259u);
}

}  // namespace
