// Splitting at spaces only, and reading game number, environment token and elevation.
#include <gtest/gtest.h>

#include "app/command_line.h"

using Tokens = std::vector<std::wstring>;

TEST(CommandLine, SplitsAtSpacesOnly) {
    EXPECT_EQ(splitCommandLine(L""), Tokens{});
    EXPECT_EQ(splitCommandLine(L"123 _qa"), (Tokens{L"123", L"_qa"}));
    EXPECT_EQ(splitCommandLine(L"123  --elevated"), (Tokens{L"123", L"", L"--elevated"}));
    EXPECT_EQ(splitCommandLine(L"123 "), Tokens{L"123"});
    EXPECT_EQ(splitCommandLine(L"123  "), (Tokens{L"123", L""}));
    EXPECT_EQ(splitCommandLine(L"12\t3 \"x y\""), (Tokens{L"12\t3", L"\"x", L"y\""}));
    EXPECT_EQ(splitCommandLine(L" "), Tokens{L""});
}

TEST(CommandLine, ReadsTokens) {
    struct Case {
        const wchar_t* text;
        bool hasGameNo;
        const wchar_t* gameNo;
        const wchar_t* env;
        bool elevated;
    };
    const Case cases[] = {
        {L"", false, L"", L"", false},
        {L"123 _qa extra", true, L"123", L"extra", false},
        {L"123 --elevated", true, L"123", L"", true},
        {L"123  --elevated", true, L"123", L"", true},
        {L"123 --elevated ", true, L"123", L"", true},
        {L"123 _qa --elevated", true, L"123", L"_qa", true},
        {L"123 --elevated _qa", true, L"123", L"_qa", true},
        {L"--elevated 123", true, L"--elevated", L"123", false},
        {L"123 --Elevated", true, L"123", L"--Elevated", false},
        {L"12\t_qa", true, L"12\t_qa", L"", false},
        {L"\"77\" _qa  ", true, L"\"77\"", L"_qa", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case: " << std::wstring(c.text).size() << " chars");
        const CommandLine read = readCommandLine(splitCommandLine(c.text));
        EXPECT_EQ(read.hasGameNo, c.hasGameNo);
        EXPECT_EQ(read.gameNo, c.gameNo);
        EXPECT_EQ(read.env, c.env);
        EXPECT_EQ(read.elevated, c.elevated);
    }
}
