// mkquill run as a process in temporary folders: its output bytes, exit
// statuses, file expansion, destination naming and the settings program.
//
// The test files hold no JPEG data, so the batch reports a failure for every
// one of them and each shows up as an "Error - " line whatever the state of
// the stamping operations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "MK_Core.h"
#include "test_support.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

using mk::test::TempDir;
using mk::test::WriteFile;

const std::string kBanner = "Mirelkanzoar command-line tool.\r\n";
const std::string kUsage =
    "Usage: mkquill.exe options infiles\r\n"
    "  e.g. mkquill.exe t1.jpg t2.jpg test*.jpg \r\n"
    "  infiles: list of file names, wildcards supported\r\n"
    "  options:\r\n"
    "   -S stamp[default]\r\n"
    "   -U undo stamp\r\n"
    "   -R recursive \r\n"
    "   -D show settings dlialog before file operations\r\n"
    "   -O overwrite existing files\r\n"
    "   -Pstr prefix for processed files [stamp_]\r\n"
    "   -Lfile load settings from .mks file\r\n"
    "   -L use default settings\r\n"
    "   -V0 silent \r\n";
const std::string kFinished = "\nFinished.\n";
const std::string kCantOpen = "Can't open settings file";

// The level-4 line of a failed stamp.
std::string Stamp(const std::string &destination) {
    return "Error -  Stamp:  " + destination + "\r\n";
}
std::string Undo(const std::string &destination) {
    return "Error -  Undo Stamp:  " + destination + "\r\n";
}

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;
};

// Exit status of a run in which at least one file failed: every run here
// whose files hold no JPEG data.
constexpr int kFilesFailed = 2;

// Every test runs the tool in work/ of its own temporary folder, with the
// user's and the system's configuration folders pointed at cfg/ and sys/.
class CliTest : public ::testing::Test {
  protected:
    CliTest() {
        fs::create_directories(Work());
        fs::create_directories(temp_.path() / "cfg");
        fs::create_directories(temp_.path() / "sys");
    }

    fs::path Work() const { return temp_.path() / "work"; }

    // A file under work/ (its folders created) holding no JPEG.
    void Touch(const std::string &name) {
        const fs::path path = Work() / name;
        fs::create_directories(path.parent_path());
        WriteFile(path, std::string("not a picture"));
    }
    void Folder(const std::string &name) { fs::create_directories(Work() / name); }

    // Names the settings program in the system store.
    void StoreProgramPath(const std::string &path) {
        const fs::path key = temp_.path() / "sys/Tarvelin/Mirelkanzoar/2.7";
        fs::create_directories(key);
        WriteFile(key / "SettingsModFilename", path + std::string(1, '\0'));
    }

    // A shell script under the temporary folder (outside work/).
    std::string Script(const std::string &name, const std::string &body) {
        const fs::path path = temp_.path() / name;
        WriteFile(path, "#!/bin/sh\n" + body);
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }

    // A running tool: its process and the reading end of its standard output.
    struct Started {
        pid_t pid = -1;
        int out = -1;
    };

    Started Start(const std::vector<std::string> &args) const {
        const std::string program = std::string(MK_BUILD_DIR) + "/cli/mkquill";
        std::vector<std::string> env;
        for (char **e = environ; *e != nullptr; ++e) {
            const std::string_view entry = *e;
            if (entry.starts_with("XDG_CONFIG_HOME=") || entry.starts_with("XDG_CONFIG_DIRS=") ||
                entry.starts_with("HOME="))
                continue;
            env.emplace_back(entry);
        }
        env.push_back("XDG_CONFIG_HOME=" + (temp_.path() / "cfg").string());
        env.push_back("XDG_CONFIG_DIRS=" + (temp_.path() / "sys").string());
        env.push_back("HOME=" + temp_.path().string());

        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char *> envp;
        for (const auto &e : env) envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        const std::string cwd = Work().string();
        const std::string errors = Errors();

        Started started;
        int fds[2];
        if (::pipe(fds) != 0) {
            ADD_FAILURE() << "pipe failed";
            return started;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0) ::dup2(err, STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            if (::chdir(cwd.c_str()) != 0) ::_exit(126);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        started.pid = child;
        started.out = fds[0];
        return started;
    }

    // Reads the rest of the tool's output and waits for it to end.
    Outcome Finish(Started started, std::string out = {}) const {
        Outcome outcome;
        outcome.out = std::move(out);
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(started.out, buffer, sizeof buffer)) != 0) {
            if (got < 0) {
                if (errno == EINTR) continue;
                break;
            }
            outcome.out.append(buffer, static_cast<size_t>(got));
        }
        ::close(started.out);
        int status = 0;
        while (::waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
        }
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (fs::exists(Errors())) {
            const auto bytes = mk::test::ReadFile(Errors());
            outcome.err.assign(bytes.begin(), bytes.end());
        }
        return outcome;
    }

    Outcome Run(const std::vector<std::string> &args) const { return Finish(Start(args)); }

    std::string Errors() const { return (temp_.path() / "stderr.txt").string(); }

    TempDir temp_;
};

TEST_F(CliTest, NoArgumentsPrintsBannerAndUsage) {
    const Outcome r = Run({});
    EXPECT_EQ(r.out, kBanner + kUsage);
    EXPECT_EQ(r.status, 255);
}

TEST_F(CliTest, OnlyOptionsOrNoMatchIsLikeNoArguments) {
    Touch("a.jpg");
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"-S", "-O", "-V0"}, {"nothing*.jpg"}, {"-R", "missing.jpg", "-L"}}) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.out, kBanner + kUsage) << args[0];
        EXPECT_EQ(r.status, 255) << args[0];
    }
}

TEST_F(CliTest, UnknownOptionIsReportedAndSkipped) {
    Touch("a.jpg");
    Outcome r = Run({"-q", "a.jpg", "/Z"});
    EXPECT_EQ(r.out, kBanner + "Unknown option q\r\nUnknown option Z\r\n" + Stamp("stamp_a.jpg") +
                         kFinished);
    EXPECT_EQ(r.status, kFilesFailed);

    // Printed at every level, and before the usage when nothing matched.
    r = Run({"-V0", "-x"});
    EXPECT_EQ(r.out, kBanner + "Unknown option x\r\n" + kUsage);
    EXPECT_EQ(r.status, 255);

    // A lone introducer has no letter: it stands for itself, never a NUL byte.
    r = Run({"-", "/"});
    EXPECT_EQ(r.out, kBanner + "Unknown option -\r\nUnknown option /\r\n" + kUsage);
}

struct OperationCase {
    std::vector<std::string> args;
    std::string lines;
};

TEST_F(CliTest, OperationOptionsAndDestinations) {
    Touch("a.jpg");
    Touch("photos/b.jpg");
    const std::vector<OperationCase> cases = {
        {{"a.jpg"}, Stamp("stamp_a.jpg")},
        {{"-s", "a.jpg"}, Stamp("stamp_a.jpg")},
        {{"/S", "a.jpg"}, Stamp("stamp_a.jpg")},
        {{"-U", "-Sfoo", "a.jpg"}, Stamp("stamp_a.jpg")},
        {{"-u", "a.jpg"}, Undo("a.jpg")},
        {{"-SR", "a.jpg"}, Stamp("stamp_a.jpg")},
        // Undo always works in place; prefix and -O do not matter.
        {{"-U", "-Pold_", "a.jpg"}, Undo("a.jpg")},
        {{"-O", "a.jpg"}, Stamp("a.jpg")},
        {{"-Pold_", "a.jpg"}, Stamp("old_a.jpg")},
        {{"-P", "a.jpg"}, Stamp("stamp_a.jpg")},
        {{"-P   ", "a.jpg"}, Stamp("stamp_a.jpg")},
        {{"-Pone two", "a.jpg"}, Stamp("onea.jpg")},
        {{"-Pa_", "-Pb_", "a.jpg"}, Stamp("b_a.jpg")},
        {{"photos/b.jpg", "-Pnew_"}, Stamp("photos/new_b.jpg")},
        {{"-O", "photos/*.JPG"}, Stamp("photos/b.jpg")},
    };
    for (const auto &c : cases) {
        const Outcome r = Run(c.args);
        EXPECT_EQ(r.out, kBanner + c.lines + kFinished) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r.status, kFilesFailed);
    }
}

struct VerbosityCase {
    std::string option;
    std::string output;
};

TEST_F(CliTest, VerbosityLevels) {
    Touch("a.jpg");
    Touch("b.jpg");
    const std::string lines4 = Stamp("stamp_a.jpg") + Stamp("stamp_b.jpg");
    const std::string lines3 = "Error -  Stamp:  stamp_a.jpg\rError -  Stamp:  stamp_b.jpg\r";
    const std::vector<VerbosityCase> cases = {
        {"-V0", kBanner},
        {"-V-1", kBanner},
        {"-V1", kBanner},
        {"-V2", kBanner + kFinished},
        {"-V3", kBanner + lines3 + kFinished},
        {"-V3x", kBanner + lines3 + kFinished},
        {"-V4", kBanner + lines4 + kFinished},
        {"-V99", kBanner + lines4 + kFinished},
        // Nothing readable as a number: the level stays 4.
        {"-V", kBanner + lines4 + kFinished},
        {"-Vx", kBanner + lines4 + kFinished},
        {"/v3", kBanner + lines3 + kFinished},
    };
    for (const auto &c : cases) {
        const Outcome r = Run({c.option, "*.jpg"});
        EXPECT_EQ(r.out, c.output) << c.option;
        EXPECT_EQ(r.status, kFilesFailed) << c.option;
    }
    // The last occurrence wins.
    EXPECT_EQ(Run({"-V0", "*.jpg", "-V2"}).out, kBanner + kFinished);
}

TEST_F(CliTest, MissingOrWrongSettingsFile) {
    Touch("a.jpg");
    WriteFile(Work() / "short.mks", std::string(720, '\0'));
    std::string wrong(721, '\0');
    wrong[0] = 1;
    WriteFile(Work() / "wrong.mks", wrong);
    for (const std::string name : {"missing.mks", "short.mks", "wrong.mks"}) {
        Outcome r = Run({"-L" + name, "a.jpg"});
        EXPECT_EQ(r.out, kBanner + kCantOpen) << name;
        EXPECT_EQ(r.status, 1) << name;
        r = Run({"-V1", "-L" + name, "a.jpg"});
        EXPECT_EQ(r.out, kBanner + kCantOpen) << name;
        r = Run({"-V0", "-L" + name, "a.jpg"});
        EXPECT_EQ(r.out, kBanner) << name;
        EXPECT_EQ(r.status, 1) << name;
    }
}

TEST_F(CliTest, ValidSettingsFileRunsTheBatch) {
    Touch("a.jpg");
    Setts settings;
    MK_SettsLoadDefaults(&settings);
    ASSERT_EQ(MK_SettsSaveToFile(&settings, (Work() / "good.mks").c_str()), 0);
    const Outcome r = Run({"-Lgood.mks", "a.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp("stamp_a.jpg") + kFinished);
    EXPECT_EQ(r.status, kFilesFailed);
    // The last -Lfile wins.
    EXPECT_EQ(Run({"-Lgood.mks", "-Lmissing.mks", "a.jpg"}).status, 1);
    EXPECT_EQ(Run({"-Lmissing.mks", "-Lgood.mks", "a.jpg"}).status, kFilesFailed);
}

TEST_F(CliTest, DefaultSettingsBeatSettingsFile) {
    Touch("a.jpg");
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"-L", "-Lmissing.mks", "a.jpg"}, {"-Lmissing.mks", "a.jpg", "-l"}}) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.out, kBanner + Stamp("stamp_a.jpg") + kFinished);
        EXPECT_EQ(r.status, kFilesFailed);
    }
    // A value must be attached: "-L name" is -L and a pattern.
    Touch("name");
    const Outcome r = Run({"-L", "name"});
    EXPECT_EQ(r.out, kBanner + Stamp("stamp_name") + kFinished);
}

TEST_F(CliTest, RecursionIsDepthFirstPreOrderAndSkipsDotFolders) {
    for (const char *name : {"b.jpg", "A.JPG", "c.txt", "sub1/x.jpg", "sub1/deep/y.jpg",
                             "Sub0/z.Jpg", ".hidden/h.jpg", "sub1/.git/g.jpg", "zz/w.jpg"})
        Touch(name);
    Folder("empty");
    const std::string expected = kBanner + Stamp("stamp_A.JPG") + Stamp("stamp_b.jpg") +
                                 Stamp("Sub0/stamp_z.Jpg") + Stamp("sub1/stamp_x.jpg") +
                                 Stamp("sub1/deep/stamp_y.jpg") + Stamp("zz/stamp_w.jpg") +
                                 kFinished;
    Outcome r = Run({"-R", "*.jpg"});
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, kFilesFailed);

    // -R counts for the patterns after it only.
    r = Run({"*.jpg", "-R"});
    EXPECT_EQ(r.out, kBanner + Stamp("stamp_A.JPG") + Stamp("stamp_b.jpg") + kFinished);
    r = Run({"b.jpg", "-R", "w.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp("stamp_b.jpg") + Stamp("zz/stamp_w.jpg") + kFinished);
}

TEST_F(CliTest, StarListsFoldersAndDotEntriesInNameOrder) {
    for (const char *name : {"b.jpg", "_u.jpg", "A.jpg", "a.JPG"}) Touch(name);
    Folder("Dir");
    const Outcome r = Run({"-O", "*"});
    // Upper-cased byte order puts '_' after the letters; names equal but for
    // case come in byte order ("A.jpg" before "a.JPG").
    EXPECT_EQ(r.out, kBanner + Stamp(".") + Stamp("..") + Stamp("A.jpg") + Stamp("a.JPG") +
                         Stamp("b.jpg") + Stamp("Dir") + Stamp("_u.jpg") + kFinished);
    EXPECT_EQ(Run({"-O", ".*"}).out, kBanner + Stamp(".") + Stamp("..") + kFinished);
}

TEST_F(CliTest, MatchingIgnoresCaseAndTakesBracketsLiterally) {
    for (const char *name : {"IMG_0001.JPG", "img_0002.jpeg", "a.jpg", "[ab].jpg", "x1.jpg"})
        Touch(name);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"*.jpg", Stamp("a.jpg") + Stamp("IMG_0001.JPG") + Stamp("x1.jpg") + Stamp("[ab].jpg")},
        {"img_????.*", Stamp("IMG_0001.JPG") + Stamp("img_0002.jpeg")},
        {"[ab].jpg", Stamp("[ab].jpg")},
        {"A.JPG", Stamp("a.jpg")},
        {"?.jpg", Stamp("a.jpg")},
    };
    for (const auto &[pattern, lines] : cases)
        EXPECT_EQ(Run({"-O", pattern}).out, kBanner + lines + kFinished) << pattern;
}

TEST_F(CliTest, PatternWithFolderPartKeepsIt) {
    for (const char *name :
         {"photos/IMG_1.JPG", "photos/sub/IMG_2.jpg", "photos/.cache/IMG_3.jpg", "IMG_9.jpg"})
        Touch(name);
    Outcome r = Run({"photos/img_*.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp("photos/stamp_IMG_1.JPG") + kFinished);

    r = Run({"-R", "photos/img_*.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp("photos/stamp_IMG_1.JPG") +
                         Stamp("photos/sub/stamp_IMG_2.jpg") + kFinished);

    r = Run({"-O", "./photos/../IMG_*"});
    EXPECT_EQ(r.out, kBanner + Stamp("./photos/../IMG_9.jpg") + kFinished);

    // An absolute pattern is a pattern, although it begins with '/'.
    const std::string absolute = (Work() / "photos").string();
    r = Run({"-R", absolute + "/IMG_*.JPG"});
    EXPECT_EQ(r.out, kBanner + Stamp(absolute + "/stamp_IMG_1.JPG") +
                         Stamp(absolute + "/sub/stamp_IMG_2.jpg") + kFinished);

    // Wildcards in the folder part match nothing.
    EXPECT_EQ(Run({"phot*/IMG_1.JPG"}).out, kBanner + kUsage);
}

TEST_F(CliTest, SourceListGrowsPastItsFirstKilobyte) {
    std::vector<std::string> names;
    std::string lines;
    for (int i = 0; i < 80; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "picture_with_a_rather_long_name_%03d.jpg", i);
        names.emplace_back(name);
        Touch(name);
        lines += Stamp(std::string("stamp_") + name);
    }
    // 80 entries of 39 bytes: about three times the first buffer.
    Outcome r = Run({"*.jpg"});
    EXPECT_EQ(r.out, kBanner + lines + kFinished);
    // The same, named one by one.
    std::vector<std::string> args = names;
    r = Run(args);
    EXPECT_EQ(r.out, kBanner + lines + kFinished);
}

TEST_F(CliTest, PathsTooLongAreReportedWholeNeverCut) {
    // A source of more than 259 bytes: the batch refuses it, and the line
    // shows the whole path.
    const std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e');
    const std::string name = std::string(30, 'n') + ".jpg";
    Touch(deep + "/" + name);
    Outcome r = Run({"-R", "-O", "n*.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp(deep + "/" + name) + kFinished);

    // A prefix that makes the destination too long is kept whole.
    Touch("a.jpg");
    const std::string prefix(300, 'p');
    r = Run({"-P" + prefix, "a.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp(prefix + "a.jpg") + kFinished);
    EXPECT_EQ(r.status, kFilesFailed);
}

TEST_F(CliTest, SettingsProgramRunsBeforeTheFilesAndIsWaitedFor) {
    Touch("a.jpg");
    const std::string program =
        Script("settings.sh", "echo \"started $# $0\"\nsleep 1\necho \"finished\"\n");
    StoreProgramPath(program);
    Outcome r = Run({"a.jpg", "-D"});
    EXPECT_EQ(r.out,
              kBanner + "started 0 " + program + "\nfinished\n" + Stamp("stamp_a.jpg") + kFinished);
    EXPECT_EQ(r.status, kFilesFailed);

    // It runs after the lists are built and before the settings file is read.
    r = Run({"-D", "-Lmissing.mks", "a.jpg"});
    EXPECT_EQ(r.out, kBanner + "started 0 " + program + "\nfinished\n" + kCantOpen);
    EXPECT_EQ(r.status, 1);

    // With no file found it does not run.
    r = Run({"-D", "none.jpg"});
    EXPECT_EQ(r.out, kBanner + kUsage);
}

TEST_F(CliTest, SettingsProgramThatCannotStartIsPassedOver) {
    Touch("a.jpg");
    // Nothing stored.
    Outcome r = Run({"-D", "a.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp("stamp_a.jpg") + kFinished);
    EXPECT_EQ(r.status, kFilesFailed);
    // A wrong path.
    StoreProgramPath((Work() / "no-such-program").string());
    r = Run({"-D", "a.jpg"});
    EXPECT_EQ(r.out, kBanner + Stamp("stamp_a.jpg") + kFinished);
    EXPECT_EQ(r.status, kFilesFailed);
}

}  // namespace

namespace {

// Copies a corpus picture under work/ (writable, as the corpus is not).
void CopyPicture(const fs::path &work, const std::string &name, const std::string &as) {
    const fs::path to = work / as;
    fs::copy_file(mk::test::CorpusDir() / name, to);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace

// Standard output stays as it was; each failed file gets a line with its
// reason on standard error, and the exit status tells whether any failed.
TEST_F(CliTest, FailuresAreToldOnStandardErrorAndInTheStatus) {
    CopyPicture(Work(), "casio_ex-z3_mm.jpg", "a.jpg");
    Touch("b.jpg");
    Folder("c.jpg");
    Outcome r = Run({"-L", "a.jpg", "b.jpg", "c.jpg"});
    EXPECT_EQ(r.out, kBanner + " Stamp:  stamp_a.jpg\r\n" + Stamp("stamp_b.jpg") +
                         Stamp("stamp_c.jpg") + kFinished);
    EXPECT_EQ(r.err,
              "mkquill: b.jpg: not a JPEG file\n"
              "mkquill: c.jpg: a folder, not a picture\n");
    EXPECT_EQ(r.status, kFilesFailed);

    r = Run({"-L", "-O", "a.jpg"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    // Stamped once, and re-stamping is off by default.
    r = Run({"-L", "-U", "a.jpg"});
    EXPECT_EQ(r.status, 0);
    r = Run({"-L", "-U", "a.jpg"});
    EXPECT_EQ(r.err, "mkquill: a.jpg: has no stamp\n");
    EXPECT_EQ(r.status, kFilesFailed);
}

// Ctrl-C stops the batch after the file being processed: the files done are
// reported (each line reaches the pipe as its file ends), the rest are left
// untouched, nothing half-written stays behind, and the status says why.
TEST_F(CliTest, InterruptStopsAfterTheCurrentFile) {
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        CopyPicture(Work(), "canon_eos450d_12mp.jpg", "p" + std::to_string(100 + i) + ".jpg");
    const auto original = mk::test::ReadFile(Work() / "p100.jpg");
    Started started = Start({"-L", "-O", "p*.jpg"});
    // Waits for the first per-file line, then interrupts.
    std::string out;
    char buffer[4096];
    while (out.find("Stamp:") == std::string::npos) {
        const ssize_t got = ::read(started.out, buffer, sizeof buffer);
        if (got <= 0) break;
        out.append(buffer, static_cast<size_t>(got));
    }
    ASSERT_NE(out.find("Stamp:"), std::string::npos) << out;
    ::kill(started.pid, SIGINT);
    const Outcome r = Finish(started, out);
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_NE(r.err.find("stopped by signal"), std::string::npos) << r.err;

    size_t reported = 0;
    for (size_t at = 0; (at = r.out.find("Stamp:", at)) != std::string::npos; ++at) ++reported;
    EXPECT_LT(reported, size_t{kFiles});
    size_t untouched = 0, entries = 0;
    for (const auto &entry : fs::directory_iterator(Work())) {
        ++entries;
        if (mk::test::ReadFile(entry.path()) == original) ++untouched;
    }
    EXPECT_EQ(entries, size_t{kFiles});  // no temporary files
    EXPECT_EQ(untouched, kFiles - reported);
}
