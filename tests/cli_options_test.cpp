// Option recognition and the option values of mkquill.
#include "options.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace mk::cli {
namespace {

TEST(CliOptions, IsOption) {
    const std::vector<std::pair<const char *, bool>> cases = {
        {"-S", true},
        {"/S", true},
        {"-", true},
        {"/", true},
        {"-Lsub/a.mks", true},
        {"/Pnew_", true},
        {"a.jpg", false},
        {"*.jpg", false},
        {"/abs/*.jpg", false},
        {"//a.jpg", false},
        {"photos/-a.jpg", false},
        {"", false},
    };
    for (const auto &[argument, expected] : cases)
        EXPECT_EQ(IsOption(argument), expected) << argument;
}

TEST(CliOptions, ScanWordReadsLikePercentS) {
    const std::vector<std::pair<const char *, std::optional<std::string>>> cases = {
        {"", std::nullopt}, {"   ", std::nullopt}, {"old_", "old_"}, {"  lead", "lead"},
        {"one two", "one"}, {"tab\there", "tab"},  {"a\nb", "a"},
    };
    for (const auto &[text, expected] : cases) EXPECT_EQ(ScanWord(text), expected) << text;
    // Never cut short.
    const std::string longWord(1000, 'w');
    EXPECT_EQ(ScanWord(longWord.c_str()), longWord);
}

TEST(CliOptions, ScanIntegerReadsLikePercentD) {
    const std::vector<std::pair<const char *, std::optional<int32_t>>> cases = {
        {"0", 0},
        {"3", 3},
        {"3x", 3},
        {"-1", -1},
        {"+2", 2},
        {" 7", 7},
        {"007", 7},
        {"", std::nullopt},
        {"x", std::nullopt},
        {"-", std::nullopt},
        {"0x10", 0},
        {"99999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
    };
    for (const auto &[text, expected] : cases) EXPECT_EQ(ScanInteger(text), expected) << text;
}

TEST(CliOptions, DefaultState) {
    const RunState state;
    EXPECT_EQ(state.verbosity, 4);
    EXPECT_EQ(state.operation, OP_STAMP);
    EXPECT_EQ(state.prefix, "stamp_");
    EXPECT_FALSE(state.showSettings);
    EXPECT_FALSE(state.overwrite);
    EXPECT_FALSE(state.defaultSettings);
    EXPECT_FALSE(state.recursive);
    EXPECT_EQ(state.settingsFile, "");
}

// The state after applying the arguments in order, printed for comparison.
std::string Describe(const RunState &s) {
    return "V" + std::to_string(s.verbosity) + " op" + std::to_string(s.operation) + " P[" +
           s.prefix + "] D" + std::to_string(s.showSettings) + " O" + std::to_string(s.overwrite) +
           " L" + std::to_string(s.defaultSettings) + " R" + std::to_string(s.recursive) + " F[" +
           s.settingsFile + "]";
}

struct ApplyCase {
    std::vector<const char *> arguments;
    std::string state;
};

TEST(CliOptions, ApplyOption) {
    const std::string base = "V4 op1 P[stamp_] D0 O0 L0 R0 F[]";
    const std::vector<ApplyCase> cases = {
        {{}, base},
        {{"-U"}, "V4 op2 P[stamp_] D0 O0 L0 R0 F[]"},
        {{"/u"}, "V4 op2 P[stamp_] D0 O0 L0 R0 F[]"},
        {{"-U", "-s"}, base},
        {{"-U", "-Sxyz"}, base},
        {{"-SR"}, base},
        {{"-r"}, "V4 op1 P[stamp_] D0 O0 L0 R1 F[]"},
        {{"-d"}, "V4 op1 P[stamp_] D1 O0 L0 R0 F[]"},
        {{"-Dx"}, "V4 op1 P[stamp_] D1 O0 L0 R0 F[]"},
        {{"-o"}, "V4 op1 P[stamp_] D0 O1 L0 R0 F[]"},
        {{"-Pold_"}, "V4 op1 P[old_] D0 O0 L0 R0 F[]"},
        {{"-pOld_"}, "V4 op1 P[Old_] D0 O0 L0 R0 F[]"},
        {{"-Pold_", "-P"}, "V4 op1 P[old_] D0 O0 L0 R0 F[]"},
        {{"-Pold_", "-P  "}, "V4 op1 P[old_] D0 O0 L0 R0 F[]"},
        {{"-Pa", "-Pb"}, "V4 op1 P[b] D0 O0 L0 R0 F[]"},
        {{"-P x y"}, "V4 op1 P[x] D0 O0 L0 R0 F[]"},
        {{"-L"}, "V4 op1 P[stamp_] D0 O0 L1 R0 F[]"},
        {{"/l"}, "V4 op1 P[stamp_] D0 O0 L1 R0 F[]"},
        {{"-La.mks"}, "V4 op1 P[stamp_] D0 O0 L0 R0 F[a.mks]"},
        {{"-La.mks", "-Lb.mks"}, "V4 op1 P[stamp_] D0 O0 L0 R0 F[b.mks]"},
        {{"-L", "-La.mks"}, "V4 op1 P[stamp_] D0 O0 L1 R0 F[a.mks]"},
        // A blank value is not "nothing after the letter".
        {{"-L "}, base},
        {{"-V0"}, "V0 op1 P[stamp_] D0 O0 L0 R0 F[]"},
        {{"-v3x"}, "V3 op1 P[stamp_] D0 O0 L0 R0 F[]"},
        {{"-V-1"}, "V-1 op1 P[stamp_] D0 O0 L0 R0 F[]"},
        {{"-V0", "-Vx"}, "V0 op1 P[stamp_] D0 O0 L0 R0 F[]"},
        {{"-V0", "-V"}, "V0 op1 P[stamp_] D0 O0 L0 R0 F[]"},
    };
    for (const auto &c : cases) {
        RunState state;
        for (const char *argument : c.arguments)
            EXPECT_TRUE(ApplyOption(argument, state)) << argument;
        EXPECT_EQ(Describe(state), c.state) << (c.arguments.empty() ? "" : c.arguments[0]);
    }
}

TEST(CliOptions, UnknownLettersLeaveTheStateAlone) {
    for (const char *argument : {"-q", "-Q", "/x", "-1", "-", "/", "--", "-?"}) {
        RunState state;
        EXPECT_FALSE(ApplyOption(argument, state)) << argument;
        EXPECT_EQ(Describe(state), Describe(RunState{})) << argument;
    }
}

}  // namespace
}  // namespace mk::cli
