// Tests of the opening of pictures for reading: only regular files are
// opened, so nothing blocks on a FIFO or reads a device, and every reader of
// a picture in the core goes through that opening (and so also puts back
// the old content of an interrupted in-place write before it reads).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "engine/engine.h"
#include "engine/jpeg_support.h"
#include "metadata/section_reader.h"
#include "metadata/stamp_date.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform_test_helpers.h"

namespace mk::test {
namespace {

// A folder with a regular file, a link to it, a FIFO, a subfolder and a
// dangling link.
class Specials {
  public:
    Specials() {
        WriteFile(regular(), Bytes{0xFF, 0xD8, 0xFF, 0xD9});
        if (::symlink("photo.jpg", folder_.file("link.jpg").c_str()) != 0 ||
            ::mkfifo(fifo().c_str(), 0644) != 0 || ::mkdir(folder_.file("sub.jpg").c_str(), 0755) ||
            ::symlink("nowhere.jpg", folder_.file("dangling.jpg").c_str()) != 0)
            ADD_FAILURE() << "cannot make the special files";
    }
    std::string regular() const { return folder_.file("photo.jpg"); }
    std::string fifo() const { return folder_.file("fifo.jpg"); }
    std::string file(const char *name) const { return folder_.file(name); }

  private:
    DiskFolder folder_;
};

TEST(OpenRegularFile, OpensRegularFilesOnlyAndNeverBlocks) {
    Specials specials;
    struct Case {
        std::string path;
        int error;  // 0: opened
    };
    const Case cases[] = {
        {specials.regular(), 0},
        {specials.file("link.jpg"), 0},
        {specials.fifo(), EINVAL},
        {"/dev/zero", EINVAL},
        {"/dev/null", EINVAL},
        {specials.file("sub.jpg"), EISDIR},
        {specials.file("missing.jpg"), ENOENT},
        {specials.file("dangling.jpg"), ENOENT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        errno = 0;
        const platform::UniqueFd fd = platform::OpenRegularFile(c.path.c_str());
        if (c.error == 0) {
            ASSERT_TRUE(fd);
            EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0);
            unsigned char bytes[8] = {};
            EXPECT_EQ(::read(fd.get(), bytes, sizeof bytes), 4);
        } else {
            EXPECT_FALSE(fd);
            EXPECT_EQ(errno, c.error);
        }
    }
    const platform::FilePtr stream = platform::OpenRegularStream(specials.regular().c_str());
    ASSERT_TRUE(stream);
    EXPECT_EQ(std::fgetc(stream.get()), 0xFF);
    EXPECT_FALSE(platform::OpenRegularStream(specials.fifo().c_str()));
}

// Every reader of a picture refuses a FIFO (which would block it for good)
// and a device (which it would read without end, or take a time from) as a
// file it cannot open, and comes back at once. Each runs in a child that is
// stopped when it hangs.
TEST(OpenRegularFile, EveryReaderOfAPictureRefusesFifosAndDevices) {
    Specials specials;
    DiskFolder out;
    const std::string destination = out.file("out.jpg");
    struct Reader {
        const char *name;
        std::function<bool(const char *)> refuses;
    };
    const Reader readers[] = {
        {"whole file",
         [](const char *path) {
             engine::ByteBuffer data;
             return !engine::ReadWholeFile(path, &data);
         }},
        {"reverse marker probe",
         [](const char *path) {
             return engine::ProbeReverseMarker(path, nullptr) == engine::kCannotOpen;
         }},
        {"decode",
         [](const char *path) {
             int32_t width = 0, height = 0;
             return engine::ReadJpegFile(path, nullptr, &width, &height, nullptr) ==
                    engine::kCannotOpen;
         }},
        {"undo",
         [&](const char *path) {
             return engine::UndoStampedJpeg(path, destination.c_str(), nullptr) ==
                    engine::kCannotOpen;
         }},
        {"sections",
         [](const char *path) {
             return metadata::ReadSections(path).status == metadata::ReadStatus::kCannotOpen;
         }},
        {"file time",
         [](const char *path) { return metadata::SelectStampDate(path, 0).wYear == 0; }},
    };
    for (const Reader &reader : readers) {
        for (const std::string &path : {specials.fifo(), std::string("/dev/zero")}) {
            SCOPED_TRACE(std::string(reader.name) + " of " + path);
            EXPECT_EQ(RunInChild([&] { return reader.refuses(path.c_str()) ? 0 : 1; }, 10), 0);
        }
        // A regular file is opened (and then found wanting or not).
        EXPECT_FALSE(reader.refuses(specials.regular().c_str())) << reader.name;
    }
    EXPECT_FALSE(std::filesystem::exists(destination));
}

// A reader finds the copy left by an interrupted in-place write and reads
// the old content, which it put back.
TEST(OpenRegularFile, AReaderPutsBackTheOldContentOfAnInterruptedWrite) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    const Bytes old(4000, 'o');
    WriteFile(path, old);
    ASSERT_EQ(::link(path.c_str(), folder.file("same.jpg").c_str()), 0);
    {
        platform::AtomicFile file;
        file.StopCommitAt(platform::InPlaceStop::kHalfWritten);
        ASSERT_TRUE(file.Open(path));
        const Bytes fresh(9000, 'n');
        ASSERT_EQ(std::fwrite(fresh.data(), 1, fresh.size(), file.stream()), fresh.size());
        ASSERT_FALSE(file.Commit());
    }
    engine::ByteBuffer data;
    ASSERT_TRUE(engine::ReadWholeFile(folder.file("same.jpg").c_str(), &data));
    EXPECT_EQ(Bytes(data.data(), data.data() + data.size()), old);
    EXPECT_EQ(Entries(folder.path()), (std::vector<std::string>{"photo.jpg", "same.jpg"}));
}

}  // namespace
}  // namespace mk::test
