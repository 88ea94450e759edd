// Runs the metadata fuzz target over its seed corpus and over the shared
// corpus of camera pictures in the ordinary test build (the sanitizer build
// turns any bad access into a failure), and checks that each seed still
// reads as it was made to.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "metadata/section_reader.h"
#include "metadata/stamp_date.h"
#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace mk::metadata {
namespace {

const std::filesystem::path kSeeds = std::filesystem::path(MK_SOURCE_DIR) / "fuzz/corpus/metadata";

void RunTarget(const std::filesystem::path &file) {
    const test::Bytes bytes = test::ReadFile(file);
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << file;
    // Every head of the file, in big steps, as the fuzzer would cut it.
    const size_t step = bytes.size() / 16 + 1;
    for (size_t n = 0; n < bytes.size() && n < 256 * 1024; n += step)
        LLVMFuzzerTestOneInput(bytes.data(), n);
}

TEST(MetadataFuzzer, SeedsReadAsMade) {
    struct Expected {
        ReadStatus status;
        const char *text;
    };
    const std::map<std::string, Expected> seeds = {
        {"mm_datetimeoriginal.jpg", {ReadStatus::kOk, "2011:07:04 18:30:05"}},
        {"ii_all_three_dates.jpg", {ReadStatus::kOk, "2011:07:04 18:30:05"}},
        {"blank_datetime_digitized.jpg", {ReadStatus::kOk, "2009:12:24 20:00:00"}},
        {"app12_before_exif.jpg", {ReadStatus::kOk, ""}},
        {"app12_after_exif.jpg", {ReadStatus::kOk, "letters"}},
        {"self_linked_ifd.jpg", {ReadStatus::kOk, "2010:01:01 00:00:00"}},
        {"offsets_past_end.jpg", {ReadStatus::kOk, "2011:02:30 10:00:00"}},
        {"fill_bytes_six.jpg", {ReadStatus::kOk, "2011:07:04 18:30:05"}},
        {"fill_bytes_seven.jpg", {ReadStatus::kTooManyPaddingBytes, ""}},
        {"eoi_before_scan.jpg", {ReadStatus::kNoImage, "2011:07:04 18:30:05"}},
        {"truncated_segment.jpg", {ReadStatus::kPrematureEnd, ""}},
        {"two_comments_xmp.jpg", {ReadStatus::kOk, "2038:05:05 01:29:24"}},
        {"zero_date.jpg", {ReadStatus::kOk, "0000:00:00 00:00:00"}},
    };
    size_t count = 0;
    for (const auto &entry : std::filesystem::directory_iterator(kSeeds)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ++count;
        RunTarget(entry.path());
        const auto it = seeds.find(name);
        ASSERT_NE(it, seeds.end()) << "seed without an expectation";
        const SectionRead read = ReadSections(entry.path().c_str());
        EXPECT_EQ(read.status, it->second.status) << AbortReason(read.status);
        EXPECT_STREQ(read.info.dateTimeText, it->second.text);
    }
    EXPECT_EQ(count, seeds.size());

    const SectionRead app12 = ReadSections((kSeeds / "app12_before_exif.jpg").c_str());
    EXPECT_TRUE(app12.info.app12TimePresent);
    EXPECT_FALSE(ReadSections((kSeeds / "app12_after_exif.jpg").c_str()).info.app12TimePresent);
}

TEST(MetadataFuzzer, SharedCorpus) {
    size_t count = 0;
    for (const auto &row : test::CorpusIndex()) {
        RunTarget(test::CorpusDir() / row.at("file"));
        ++count;
    }
    EXPECT_EQ(count, 51u);
}

}  // namespace
}  // namespace mk::metadata
