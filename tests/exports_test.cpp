// The shared library's outside: only MK_ calls are exported, and neither the
// library nor the command-line tool depends on Qt.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

namespace {

std::string Output(const std::string &command) {
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

TEST(Exports, OnlyMkCallsLeaveTheLibrary) {
    const std::string symbols =
        Output("nm -D --defined-only " MK_BUILD_DIR "/core/libMK_Core.so | awk '{print $3}'");
    std::istringstream lines(symbols);
    std::string name;
    int count = 0;
    while (std::getline(lines, name)) {
        if (name.empty()) continue;
        ++count;
        EXPECT_EQ(name.rfind("MK_", 0), 0u) << name;
    }
    EXPECT_GE(count, 10);
}

TEST(Exports, LibraryAndToolNeedNoQt) {
    struct Case {
        const char *file;
        const char *expected;  // a library it must need
    };
    for (const auto &[file, expected] : {Case{MK_BUILD_DIR "/core/libMK_Core.so", "libjpeg"},
                                         Case{MK_BUILD_DIR "/cli/mkquill", "libMK_Core"}}) {
        const std::string needed = Output(std::string("readelf -d ") + file + " | grep NEEDED");
        EXPECT_NE(needed.find(expected), std::string::npos) << file << ": " << needed;
        EXPECT_EQ(needed.find("Qt"), std::string::npos) << file << ": " << needed;
    }
}

}  // namespace
