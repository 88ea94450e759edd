// Tests of AtomicFile: a file being written has no name in its folder until
// it is committed, so neither a reader nor an interrupted process ever finds
// a half-written or leftover file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstring>

#include "platform/atomic_file.h"
#include "platform/handles.h"
#include "platform_test_helpers.h"

namespace mk::test {
namespace {

using platform::AtomicFile;

const Bytes kOld(3000, 'o');
const Bytes kNew(1 << 20, 'n');

void Write(AtomicFile &file, const Bytes &data) {
    ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), file.stream()), data.size());
    ASSERT_EQ(std::fflush(file.stream()), 0);
}

TEST(AtomicFile, NothingIsVisibleInTheFolderWhileTheFileIsWritten) {
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "existing destination" : "new destination");
        DiskFolder folder;
        const std::string path = folder.file("photo.jpg");
        if (existing) WriteFile(path, kOld);
        const std::vector<std::string> before = Entries(folder.path());

        AtomicFile file;
        ASSERT_TRUE(file.Open(path));
        Write(file, kNew);
        file.StartWriteBack();
        EXPECT_EQ(Entries(folder.path()), before);
        if (existing) {
            EXPECT_EQ(ReadFile(path), kOld);
        }

        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(Entries(folder.path()), std::vector<std::string>{"photo.jpg"});
        EXPECT_EQ(ReadFile(path), kNew);
    }
}

TEST(AtomicFile, DiscardLeavesTheFolderAsItWas) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    WriteFile(path, kOld);
    {
        AtomicFile file;
        ASSERT_TRUE(file.Open(path));
        Write(file, kNew);
    }
    EXPECT_EQ(Entries(folder.path()), std::vector<std::string>{"photo.jpg"});
    EXPECT_EQ(ReadFile(path), kOld);
}

// A process killed at any moment of the writing (kill -9 gives it no chance
// to clean up) leaves the old file and nothing else.
TEST(AtomicFile, AProcessKilledWhileWritingLeavesNoDebris) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    WriteFile(path, kOld);
    const int status = RunInChild([&] {
        AtomicFile file;
        if (!file.Open(path)) return 1;
        std::fwrite(kNew.data(), 1, kNew.size(), file.stream());
        file.StartWriteBack();
        ::kill(::getpid(), SIGKILL);
        return 2;
    });
    EXPECT_EQ(status, -SIGKILL);
    EXPECT_EQ(Entries(folder.path()), std::vector<std::string>{"photo.jpg"});
    EXPECT_EQ(ReadFile(path), kOld);
}

// Where a temporary name is needed (a file system without unnamed files, or
// the moment between link and rename), one left by a dead writer goes with
// the next write of that file; one whose writer still holds it stays.
TEST(AtomicFile, ALeftoverTemporaryNameGoesButALiveOneStays) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    const std::string leftover = folder.file(".photo.jpg.tmp");
    WriteFile(path, kOld);

    WriteFile(leftover, Bytes(100, 'x'));
    ASSERT_TRUE(platform::WriteFileAtomically(path, kNew.data(), kNew.size()));
    EXPECT_EQ(Entries(folder.path()), std::vector<std::string>{"photo.jpg"});
    EXPECT_EQ(ReadFile(path), kNew);

    WriteFile(leftover, Bytes(100, 'x'));
    const platform::UniqueFd live(::open(leftover.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(live.get(), LOCK_EX), 0);
    ASSERT_TRUE(platform::WriteFileAtomically(path, kOld.data(), kOld.size()));
    EXPECT_EQ(Entries(folder.path()), (std::vector<std::string>{".photo.jpg.tmp", "photo.jpg"}));
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(ReadFile(leftover), Bytes(100, 'x'));
}

}  // namespace
}  // namespace mk::test
