// The batch's report of why each file failed (MK_ProcessFilesEx), and the
// caller's way to stop a batch without the progress dialog.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "MK_Core.h"
#include "test_support.h"

using mk::test::Bytes;
using mk::test::CorpusDir;
using mk::test::MakeList;
using mk::test::ReadFile;
using mk::test::TempDir;

namespace {

struct Seen {
    std::string source, destination;
    int32_t result, reason;
    std::string text;
};

int32_t Keep(const MK_FileReport *report, void *userData) {
    static_cast<std::vector<Seen> *>(userData)->push_back(
        {report->source, report->destination, report->result, report->reason, report->text});
    return 0;
}

class FileReport : public ::testing::Test {
  protected:
    FileReport() {
        setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
        MK_SettsLoadDefaults(&settings_);
        settings_.flags |= FLAG_REVERSE_MARKER;
    }

    std::string Copy(const char *corpusName, const std::string &as) {
        const std::string to = dir_.file(as);
        std::filesystem::copy_file(CorpusDir() / corpusName, to);
        // The corpus is read-only; its copies are not.
        ::chmod(to.c_str(), 0644);
        return to;
    }

    // Runs the batch in place over the paths; the reports in list order.
    std::vector<Seen> Run(int32_t operation, const std::vector<std::string> &paths,
                          const Setts &settings, ProcessCancelPoll cancelled = nullptr,
                          void *cancelData = nullptr) {
        std::vector<Seen> seen;
        const std::string list = MakeList(paths);
        // The poll and the report share one userData: the poll's is smuggled
        // in through a record that starts with the report's vector.
        struct Both {
            std::vector<Seen> *seen;
            ProcessCancelPoll poll;
            void *data;
        } both{&seen, cancelled, cancelData};
        MK_ProcessFilesEx(
            nullptr, list.c_str(), nullptr, operation, 0, &settings,
            [](const MK_FileReport *r, void *u) { return Keep(r, static_cast<Both *>(u)->seen); },
            cancelled == nullptr ? nullptr
                                 : +[](void *u) {
                                       auto *b = static_cast<Both *>(u);
                                       return b->poll(b->data);
                                   },
            &both);
        return seen;
    }

    TempDir dir_;
    Setts settings_{};
};

// Each refusal names its own reason, and the result codes stay those of
// MK_ProcessFiles.
TEST_F(FileReport, EveryRefusalSaysWhy) {
    const std::string missing = dir_.file("missing.jpg");
    const std::string folder = dir_.file("folder.jpg");
    std::filesystem::create_directory(folder);
    const std::string fifo = dir_.file("fifo.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string text = dir_.file("text.jpg");
    mk::test::WriteFile(text, std::string("not a picture"));
    const std::string readOnly = Copy("casio_ex-z3_mm.jpg", "readonly.jpg");
    ::chmod(readOnly.c_str(), 0444);
    const std::string good = Copy("casio_ex-z3_mm.jpg", "good.jpg");

    // A FIFO must neither block the batch nor be read.
    const auto seen = Run(OP_STAMP, {missing, folder, fifo, text, readOnly, good}, settings_);
    struct Expected {
        int32_t result, reason;
    };
    const Expected expected[] = {{-1, MK_REASON_NOT_FOUND},   {-1, MK_REASON_NOT_REGULAR},
                                 {-1, MK_REASON_NOT_REGULAR}, {-1, MK_REASON_NOT_JPEG},
                                 {-1, MK_REASON_READ_ONLY},   {0, MK_REASON_NONE}};
    ASSERT_EQ(seen.size(), std::size(expected));
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(seen[i].source);
        EXPECT_EQ(seen[i].result, expected[i].result);
        EXPECT_EQ(seen[i].reason, expected[i].reason);
        EXPECT_EQ(seen[i].text.empty(), expected[i].result == 0) << seen[i].text;
        EXPECT_EQ(seen[i].source, seen[i].destination);
    }

    // Stamped already, re-stamping off; undo of a picture without a stamp;
    // undo of a stamped picture changed since.
    Setts once = settings_;
    once.flags &= ~FLAG_RESTAMP;
    auto again = Run(OP_STAMP, {good}, once);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].reason, MK_REASON_ALREADY_STAMPED);
    const std::string plain = Copy("casio_ex-z3_mm.jpg", "plain.jpg");
    auto undo = Run(OP_UNDO, {plain}, settings_);
    ASSERT_EQ(undo.size(), 1u);
    EXPECT_EQ(undo[0].result, -10);
    EXPECT_EQ(undo[0].reason, MK_REASON_NO_STAMP);
    Bytes edited = ReadFile(good);
    edited[edited.size() - 100] ^= 0x10;
    mk::test::WriteFile(good, edited);
    undo = Run(OP_UNDO, {good}, settings_);
    ASSERT_EQ(undo.size(), 1u);
    EXPECT_EQ(undo[0].result, -12);
    EXPECT_EQ(undo[0].reason, MK_REASON_CHANGED);
}

// A stamp that paints nothing is a failure of its own, and writes nothing.
TEST_F(FileReport, NothingPaintedIsToldApart) {
    const std::string path = Copy("casio_ex-z3_mm.jpg", "a.jpg");
    const Bytes before = ReadFile(path);
    Setts empty = settings_;
    empty.datePicture[0] = '\0';
    const auto seen = Run(OP_STAMP, {path}, empty);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].reason, MK_REASON_NOTHING_PAINTED);
    EXPECT_EQ(ReadFile(path), before);
}

// A full disk is told as such, and the picture stays as it was. Needs root
// for a small file system of its own.
TEST_F(FileReport, AFullDiskIsToldAndLeavesThePicture) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
    const std::string small = dir_.file("small");
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=900k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    const std::string path = small + "/a.jpg";
    std::filesystem::copy_file(CorpusDir() / "casio_ex-z3_mm.jpg", path);
    ::chmod(path.c_str(), 0644);
    const Bytes before = ReadFile(path);
    // Leaves room for less than the stamped picture.
    mk::test::WriteFile(small + "/filler", std::string(200 * 1024, 'x'));

    const auto seen = Run(OP_STAMP, {path}, settings_);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].result, -1);
    EXPECT_EQ(seen[0].reason, MK_REASON_NO_SPACE) << seen[0].text;
    EXPECT_EQ(ReadFile(path), before);
    size_t entries = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(small)) ++entries;
    EXPECT_EQ(entries, 2u);  // the picture and the filler: nothing left behind
}

// The caller's poll stops the batch before the next file: the files before
// are done and reported, the rest neither.
TEST_F(FileReport, CancelPollStopsBeforeTheNextFile) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i)
        paths.push_back(Copy("casio_ex-z3_mm.jpg", "p" + std::to_string(i) + ".jpg"));
    const Bytes original = ReadFile(paths[0]);
    std::atomic<int> polls{0};
    const auto seen = Run(
        OP_STAMP, paths, settings_,
        [](void *u) { return static_cast<std::atomic<int> *>(u)->fetch_add(1) >= 2 ? 1 : 0; },
        &polls);
    // Polled before each file; the third poll says stop, so two files were
    // started (several threads may have asked, but none started a third).
    ASSERT_EQ(seen.size(), 2u);
    for (const auto &s : seen) EXPECT_EQ(s.result, 0);
    for (size_t i = 2; i < paths.size(); ++i) EXPECT_EQ(ReadFile(paths[i]), original) << i;
}

}  // namespace
