// Tests of AtomicFile: a file being written has no name in its folder until
// it is committed, so neither a reader nor an interrupted process ever finds
// a half-written or leftover file; the file a path names keeps its identity
// (owner, group, mode, extended attributes and ACLs, every hard link, the
// symbolic links that lead to it); an in-place write that is interrupted
// is undone by the next open.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/xattr.h>

#include <cstring>
#include <optional>

#include "platform/atomic_file.h"
#include "platform/files.h"
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

// --- The identity of the file written ---

// A user and groups of nobody on the machine, for files owned by another.
constexpr uid_t kOtherUser = 12345;
constexpr gid_t kOtherGroup = 12345;
constexpr gid_t kForeignGroup = 4242;
constexpr gid_t kThirdGroup = 4243;
constexpr time_t kOldTime = 1300000000;

#define SKIP_UNLESS_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user"

void SetOldTime(const std::string &path) {
    const timespec times[2] = {{kOldTime, 0}, {kOldTime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// The copy an in-place write keeps beside the file while it writes.
std::string BackupBeside(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".backup-" +
           std::to_string(StatOf(path).st_ino);
}

std::optional<Bytes> Attribute(const std::string &path, const char *name) {
    const ssize_t size = ::lgetxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return std::nullopt;
    Bytes value(static_cast<size_t>(size));
    if (::lgetxattr(path.c_str(), name, value.data(), value.size()) != size) return std::nullopt;
    return value;
}

// The bytes of a POSIX ACL as the kernel keeps them in an extended
// attribute: version 2, then (tag, permissions, id) per entry, sorted.
struct AclEntry {
    uint16_t tag;
    uint16_t perm;
    uint32_t id;
};
constexpr uint32_t kNoId = 0xFFFFFFFF;
Bytes AclBytes(std::initializer_list<AclEntry> entries) {
    Bytes bytes;
    const auto put = [&](uint32_t value, int size) {
        for (int k = 0; k < size; ++k) bytes.push_back(uint8_t(value >> (8 * k)));
    };
    put(2, 4);
    for (const AclEntry &e : entries) {
        put(e.tag, 2);
        put(e.perm, 2);
        put(e.id, 4);
    }
    return bytes;
}
// user::rw- user:12345:rw- group::r-- mask::rw- other::r--; the mode shows
// the mask as the group's bits (0664).
const Bytes kAccessAcl = AclBytes({{0x01, 6, kNoId},
                                   {0x02, 6, kOtherUser},
                                   {0x04, 4, kNoId},
                                   {0x10, 6, kNoId},
                                   {0x20, 4, kNoId}});
// A folder default that gives new files an ACL with a named user.
const Bytes kDefaultAcl = AclBytes({{0x01, 7, kNoId},
                                    {0x02, 7, kOtherUser},
                                    {0x04, 5, kNoId},
                                    {0x10, 7, kNoId},
                                    {0x20, 5, kNoId}});

bool SetAttribute(const std::string &path, const char *name, const Bytes &value) {
    return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

// Runs `body` in a child process as kOtherUser with only the group `group`
// (root only); returns what the body returned.
int RunAsOtherUser(gid_t group, const std::function<int()> &body) {
    return RunInChild([&] {
        if (::setgroups(1, &group) != 0 || ::setresgid(group, group, group) != 0 ||
            ::setresuid(kOtherUser, kOtherUser, kOtherUser) != 0)
            return 100;
        return body();
    });
}

struct OwnerCase {
    const char *name;
    mode_t folderMode;
    gid_t folderGroup;
    mode_t fileMode;
    gid_t fileGroup;
};

// Root writing another user's file: the file stays theirs, with its group
// (also in a folder whose setgid bit would give a new file the folder's
// group) and its setuid and setgid bits.
TEST(AtomicFileIdentity, AnotherUsersFileKeepsItsOwnerGroupAndMode) {
    SKIP_UNLESS_ROOT();
    const OwnerCase cases[] = {
        {"plain", 0755, 0, 0640, kOtherGroup},
        {"setgid folder", 02775, kForeignGroup, 0664, kOtherGroup},
        {"setuid file", 0755, 0, 04755, kOtherGroup},
        {"setuid and setgid file in a setgid folder", 02775, kForeignGroup, 06750, kThirdGroup},
    };
    for (const OwnerCase &c : cases) {
        SCOPED_TRACE(c.name);
        DiskFolder folder;
        const std::string sub = folder.file("pictures");
        ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
        ASSERT_EQ(::chown(sub.c_str(), 0, c.folderGroup), 0);
        ASSERT_EQ(::chmod(sub.c_str(), c.folderMode), 0);
        const std::string path = sub + "/photo.jpg";
        WriteFile(path, kOld);
        ASSERT_EQ(::chown(path.c_str(), kOtherUser, c.fileGroup), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.fileMode), 0);

        ASSERT_TRUE(platform::WriteFileAtomically(path, kNew.data(), kNew.size()));
        const struct stat st = StatOf(path);
        EXPECT_EQ(st.st_uid, kOtherUser);
        EXPECT_EQ(st.st_gid, c.fileGroup);
        EXPECT_EQ(st.st_mode & 07777, c.fileMode);
        EXPECT_EQ(ReadFile(path), kNew);
        EXPECT_EQ(Entries(sub), std::vector<std::string>{"photo.jpg"});
    }
}

// Extended attributes and an access ACL stay exactly as they were (without
// the ACL the mode's group bits, which show its mask, would give the owning
// group write access); an ACL the folder would give a new file is not taken.
TEST(AtomicFileIdentity, ExtendedAttributesAndAclsStayAsTheyWere) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    WriteFile(path, kOld);
    const Bytes note = {'k', 'e', 'e', 'p'};
    if (!SetAttribute(path, "user.note", note))
        GTEST_SKIP() << "the build folder's file system keeps no user attributes";
    if (!SetAttribute(path, "system.posix_acl_access", kAccessAcl))
        GTEST_SKIP() << "the build folder's file system keeps no ACLs";
    const mode_t mode = StatOf(path).st_mode;
    ASSERT_EQ(mode & 0777, 0664u);

    ASSERT_TRUE(platform::WriteFileAtomically(path, kNew.data(), kNew.size()));
    EXPECT_EQ(ReadFile(path), kNew);
    EXPECT_EQ(Attribute(path, "user.note"), note);
    EXPECT_EQ(Attribute(path, "system.posix_acl_access"), kAccessAcl);
    EXPECT_EQ(StatOf(path).st_mode, mode);

    // A plain file in a folder that gives new files an ACL stays plain.
    const std::string plain = folder.file("plain.jpg");
    WriteFile(plain, kOld);
    ASSERT_EQ(::chmod(plain.c_str(), 0644), 0);
    ASSERT_TRUE(SetAttribute(folder.path().string(), "system.posix_acl_default", kDefaultAcl));
    ASSERT_TRUE(platform::WriteFileAtomically(plain, kNew.data(), kNew.size()));
    EXPECT_EQ(ReadFile(plain), kNew);
    EXPECT_FALSE(Attribute(plain, "system.posix_acl_access"));
    EXPECT_EQ(StatOf(plain).st_mode & 07777, 0644u);
}

// Every name of a hard-linked file sees the new content; the file keeps
// its owner and mode, and no copy is left beside it.
TEST(AtomicFileIdentity, EveryNameOfAHardLinkedFileSeesTheNewContent) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    const std::string other = folder.file("same.jpg");
    WriteFile(path, kOld);
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const struct stat before = StatOf(path);

    platform::AtomicFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.writesInPlace());
    Write(file, kNew);
    ASSERT_TRUE(file.Commit());

    const struct stat after = StatOf(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(ReadFile(path), kNew);
    EXPECT_EQ(ReadFile(other), kNew);
    EXPECT_EQ(Entries(folder.path()), (std::vector<std::string>{"photo.jpg", "same.jpg"}));

    // Shorter content leaves nothing of the longer one behind.
    ASSERT_TRUE(platform::WriteFileAtomically(other, kOld.data(), kOld.size()));
    EXPECT_EQ(ReadFile(path), kOld);
}

// A symbolic link stays a link (also a chain of them, relative or absolute)
// and the file it leads to is written; a dangling link gets its target.
TEST(AtomicFileIdentity, ASymbolicLinkStaysALinkAndItsTargetIsWritten) {
    DiskFolder folder;
    const std::string sub = folder.file("originals");
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    const std::string real = sub + "/photo.jpg";
    WriteFile(real, kOld);
    ASSERT_EQ(::symlink("originals/photo.jpg", folder.file("near.jpg").c_str()), 0);
    ASSERT_EQ(::symlink(folder.file("near.jpg").c_str(), folder.file("far.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("far.jpg", folder.file("farther.jpg").c_str()), 0);

    ASSERT_TRUE(
        platform::WriteFileAtomically(folder.file("farther.jpg"), kNew.data(), kNew.size()));
    EXPECT_EQ(ReadFile(real), kNew);
    for (const char *name : {"near.jpg", "far.jpg", "farther.jpg"})
        EXPECT_TRUE(S_ISLNK(StatOf(folder.file(name)).st_mode)) << name;
    EXPECT_EQ(std::filesystem::read_symlink(folder.file("farther.jpg")), "far.jpg");
    EXPECT_EQ(Entries(folder.path()),
              (std::vector<std::string>{"far.jpg", "farther.jpg", "near.jpg", "originals"}));
    EXPECT_EQ(Entries(sub), std::vector<std::string>{"photo.jpg"});

    ASSERT_EQ(::symlink("originals/new.jpg", folder.file("dangling.jpg").c_str()), 0);
    ASSERT_TRUE(
        platform::WriteFileAtomically(folder.file("dangling.jpg"), kOld.data(), kOld.size()));
    EXPECT_TRUE(S_ISLNK(StatOf(folder.file("dangling.jpg")).st_mode));
    EXPECT_EQ(ReadFile(sub + "/new.jpg"), kOld);

    ASSERT_EQ(::symlink("loop.jpg", folder.file("loop.jpg").c_str()), 0);
    platform::AtomicFile file;
    EXPECT_FALSE(file.Open(folder.file("loop.jpg")));
    EXPECT_EQ(errno, ELOOP);
}

// Read-only files are written as they are, replaced or in place, and keep
// their mode; as their owner too, for whom the in-place write lifts the
// read-only state only while it opens the file.
TEST(AtomicFileIdentity, AReadOnlyFileGetsItsModeBackInBothWays) {
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "in place" : "replaced");
        DiskFolder folder;
        const std::string path = folder.file("photo.jpg");
        WriteFile(path, kOld);
        if (linked) {
            ASSERT_EQ(::link(path.c_str(), folder.file("same.jpg").c_str()), 0);
        }
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        const auto write = [&] {
            platform::AtomicFile file;
            if (!file.Open(path) || file.writesInPlace() != linked) return 2;
            if (std::fwrite(kNew.data(), 1, kNew.size(), file.stream()) != kNew.size()) return 3;
            return file.Commit() ? 0 : 4;
        };
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(folder.path().c_str(), kOtherUser, kOtherGroup), 0);
            ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
            EXPECT_EQ(RunAsOtherUser(kOtherGroup, write), 0);
        } else {
            EXPECT_EQ(write(), 0);
        }
        EXPECT_EQ(StatOf(path).st_mode & 07777, 0444u);
        EXPECT_EQ(ReadFile(path), kNew);
        if (linked) {
            EXPECT_EQ(ReadFile(folder.file("same.jpg")), kNew);
        }
    }
}

// A user who may not give a new file the old one's group writes the file
// in place rather than change its group.
TEST(AtomicFileIdentity, AUserWhoCannotKeepTheGroupWritesInPlace) {
    SKIP_UNLESS_ROOT();
    DiskFolder folder;
    ASSERT_EQ(::chown(folder.path().c_str(), kOtherUser, kOtherGroup), 0);
    const std::string path = folder.file("photo.jpg");
    WriteFile(path, kOld);
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kThirdGroup), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    const ino_t inode = StatOf(path).st_ino;
    EXPECT_EQ(RunAsOtherUser(kOtherGroup,
                             [&] {
                                 platform::AtomicFile file;
                                 if (!file.Open(path)) return 1;
                                 if (!file.writesInPlace()) return 2;
                                 std::fwrite(kNew.data(), 1, kNew.size(), file.stream());
                                 return file.Commit() ? 0 : 3;
                             }),
              0);
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_ino, inode);
    EXPECT_EQ(st.st_uid, kOtherUser);
    EXPECT_EQ(st.st_gid, kThirdGroup);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(ReadFile(path), kNew);
    EXPECT_EQ(Entries(folder.path()), std::vector<std::string>{"photo.jpg"});
}

// A writable file in a folder that takes no new files is written in place;
// the copy of the old content waits in the user's state folder meanwhile.
TEST(AtomicFileIdentity, AFileInAFolderThatTakesNoNewFilesIsWrittenInPlace) {
    SKIP_UNLESS_ROOT();
    DiskFolder folder;
    const std::string pictures = folder.file("pictures");
    const std::string state = folder.file("state");
    ASSERT_EQ(::mkdir(pictures.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(state.c_str(), 0755), 0);
    ASSERT_EQ(::chown(state.c_str(), kOtherUser, kOtherGroup), 0);
    const std::string path = pictures + "/photo.jpg";
    WriteFile(path, kOld);
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
    EXPECT_EQ(RunAsOtherUser(
                  kOtherGroup,
                  [&] {
                      ::setenv("XDG_STATE_HOME", state.c_str(), 1);
                      return platform::WriteFileAtomically(path, kNew.data(), kNew.size()) ? 0 : 1;
                  }),
              0);
    EXPECT_EQ(ReadFile(path), kNew);
    EXPECT_EQ(Entries(pictures), std::vector<std::string>{"photo.jpg"});
    EXPECT_EQ(Entries(state + "/Tarvelin/Mirelkanzoar/backups"), std::vector<std::string>{});
}

// --- Interrupted in-place writes ---

struct StopCase {
    const char *name;
    platform::InPlaceStop stop;
};
const StopCase kStops[] = {
    {"after the copy", platform::InPlaceStop::kAfterBackup},
    {"half written", platform::InPlaceStop::kHalfWritten},
    {"written, copy not removed", platform::InPlaceStop::kAfterWrite},
};

// Stops an in-place write of `path` at `stop`; the copy of the old content
// is then there, and the file holds the old, the partly written or the new
// content.
void Interrupt(const std::string &path, platform::InPlaceStop stop) {
    platform::AtomicFile file;
    file.StopCommitAt(stop);
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.writesInPlace());
    Write(file, kNew);
    EXPECT_FALSE(file.Commit());
}

// Whatever moment an in-place write was interrupted at, the next open of
// the file for writing finds the copy, puts the old content and time back,
// removes the copy and then writes as asked.
TEST(AtomicFileInterrupted, TheNextOpenPutsTheOldContentBackFirst) {
    for (const StopCase &c : kStops) {
        SCOPED_TRACE(c.name);
        DiskFolder folder;
        const std::string path = folder.file("photo.jpg");
        WriteFile(path, kOld);
        ASSERT_EQ(::link(path.c_str(), folder.file("same.jpg").c_str()), 0);
        SetOldTime(path);
        const std::string backup = BackupBeside(path);

        Interrupt(path, c.stop);
        EXPECT_EQ(ReadFile(backup), kOld);
        EXPECT_EQ(StatOf(backup).st_mtim.tv_sec, kOldTime);
        const Bytes left = ReadFile(path);
        if (c.stop == platform::InPlaceStop::kAfterBackup) {
            EXPECT_EQ(left, kOld);
        } else if (c.stop == platform::InPlaceStop::kAfterWrite) {
            EXPECT_EQ(left, kNew);
        } else {
            EXPECT_NE(left, kOld);
            EXPECT_NE(left, kNew);
        }

        platform::AtomicFile file;
        ASSERT_TRUE(file.Open(path));
        EXPECT_EQ(ReadFile(path), kOld);
        EXPECT_EQ(StatOf(path).st_mtim.tv_sec, kOldTime);
        EXPECT_EQ(Entries(folder.path()), (std::vector<std::string>{"photo.jpg", "same.jpg"}));
        const Bytes next(5000, 'x');
        Write(file, next);
        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(ReadFile(folder.file("same.jpg")), next);
    }
}

// The copy is found from any path that leads to the file, and also by an
// explicit recovery.
TEST(AtomicFileInterrupted, RecoveryFindsTheCopyThroughALinkOrWhenAsked) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    WriteFile(path, kOld);
    ASSERT_EQ(::link(path.c_str(), folder.file("same.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("photo.jpg", folder.file("link.jpg").c_str()), 0);

    Interrupt(path, platform::InPlaceStop::kHalfWritten);
    EXPECT_EQ(platform::RecoverInterruptedWrite(folder.file("link.jpg").c_str()),
              platform::Recovery::kRestored);
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(platform::RecoverInterruptedWrite(path.c_str()), platform::Recovery::kNothing);
    EXPECT_EQ(Entries(folder.path()),
              (std::vector<std::string>{"link.jpg", "photo.jpg", "same.jpg"}));
}

// A copy whose writer is still at work (it holds the copy's lock) is left
// alone and the file is refused meanwhile; a copy named for another inode
// (a file that had the name before) is never put onto this one.
TEST(AtomicFileInterrupted, ALiveWriteOrAnotherFilesCopyIsLeftAlone) {
    DiskFolder folder;
    const std::string path = folder.file("photo.jpg");
    WriteFile(path, kNew);
    const std::string backup = BackupBeside(path);
    WriteFile(backup, kOld);
    {
        const platform::UniqueFd live(::open(backup.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(live.get(), LOCK_EX), 0);
        platform::AtomicFile file;
        EXPECT_FALSE(file.Open(path));
        EXPECT_EQ(errno, EBUSY);
        EXPECT_EQ(ReadFile(path), kNew);
        EXPECT_EQ(ReadFile(backup), kOld);
    }
    ASSERT_EQ(::rename(backup.c_str(), folder.file(".photo.jpg.backup-1").c_str()), 0);
    ASSERT_TRUE(platform::WriteFileAtomically(path, kNew.data(), 10));
    EXPECT_EQ(ReadFile(path), Bytes(kNew.begin(), kNew.begin() + 10));
    EXPECT_EQ(ReadFile(folder.file(".photo.jpg.backup-1")), kOld);
}

// Where the copy had to go to the user's state folder, the next open finds
// it there.
TEST(AtomicFileInterrupted, ACopyInTheStateFolderIsFoundToo) {
    SKIP_UNLESS_ROOT();
    DiskFolder folder;
    const std::string pictures = folder.file("pictures");
    const std::string state = folder.file("state");
    ASSERT_EQ(::mkdir(pictures.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(state.c_str(), 0755), 0);
    ASSERT_EQ(::chown(state.c_str(), kOtherUser, kOtherGroup), 0);
    const std::string path = pictures + "/photo.jpg";
    WriteFile(path, kOld);
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
    EXPECT_EQ(RunAsOtherUser(kOtherGroup,
                             [&] {
                                 ::setenv("XDG_STATE_HOME", state.c_str(), 1);
                                 {
                                     platform::AtomicFile file;
                                     file.StopCommitAt(platform::InPlaceStop::kHalfWritten);
                                     if (!file.Open(path)) return 1;
                                     std::fwrite(kNew.data(), 1, kNew.size(), file.stream());
                                     if (file.Commit()) return 2;
                                 }
                                 if (ReadFile(path) == kOld) return 3;
                                 return platform::RecoverInterruptedWrite(path.c_str()) ==
                                                platform::Recovery::kRestored
                                            ? 0
                                            : 4;
                             }),
              0);
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(Entries(pictures), std::vector<std::string>{"photo.jpg"});
    EXPECT_EQ(Entries(state + "/Tarvelin/Mirelkanzoar/backups"), std::vector<std::string>{});
}

}  // namespace
}  // namespace mk::test
