#include "platform/bundle/StringsTable.h"

#include <gtest/gtest.h>

namespace {

using platform::StringsTable;

TEST(StringsTableTest, ReadsCommentsAndEscapes)
{
    std::vector<std::string> problems;
    auto table = StringsTable::parse("\xEF\xBB\xBF/* header\n spanning lines */\n"
                                     "\"plain\" = \"value\"; // trailing comment\n"
                                     "\"quote\"=\"say \\\"hi\\\" \\\\ done\";\n"
                                     "  \"controls\" /* inside */ = \"a\\nb\\tc\";\n"
                                     "\"kana\" = \"\\U3042\\u3044\";\n"
                                     "\"guitar\" = \"\\UD83C\\UDFB8\";\n"
                                     "\"utf8\" = \"日本語 %@\";\n"
                                     "\"two\" = \"x\"; \"three\" = \"y\";\n",
                                     &problems);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(table.value("plain"), "value");
    EXPECT_EQ(table.value("quote"), "say \"hi\" \\ done");
    EXPECT_EQ(table.value("controls"), "a\nb\tc");
    EXPECT_EQ(table.value("kana"), "\xE3\x81\x82\xE3\x81\x84");
    EXPECT_EQ(table.value("guitar"), "\xF0\x9F\x8E\xB8");
    EXPECT_EQ(table.value("utf8"), "日本語 %@");
    EXPECT_EQ(table.value("three"), "y");
    EXPECT_EQ(table.entries().size(), 8u);
    EXPECT_FALSE(table.value("missing"));
}

TEST(StringsTableTest, MalformedLinesAreReportedAndSkipped)
{
    std::vector<std::string> problems;
    auto table = StringsTable::parse("\"a\" = \"1\";\n"
                                     "\"open\" = \"never closed;\n"    // line 2
                                     "\"b\" = \"2\";\n"
                                     "\"noSemicolon\" = \"3\"\n"        // line 4: the next line still loads
                                     "\"c\" = \"4\";\n"
                                     "bare = \"5\";\n"                   // line 6
                                     "\"badEscape\" = \"\\q\";\n"       // line 7
                                     "\"lone\" = \"\\UD800\";\n"        // line 8
                                     "\"bytes\" = \"\xC3\";\n"          // line 9: not UTF-8
                                     "\"a\" = \"again\";\n"             // line 10: duplicate, later wins
                                     "\"d\" = \"6\";\n"
                                     "\"tail\" = ",
                                     &problems);
    EXPECT_EQ(table.value("a"), "again");
    EXPECT_EQ(table.value("b"), "2");
    EXPECT_EQ(table.value("c"), "4");
    EXPECT_EQ(table.value("d"), "6");
    for (const char* key : {"open", "noSemicolon", "bare", "badEscape", "lone", "bytes", "tail"})
        EXPECT_FALSE(table.value(key)) << key;
    ASSERT_EQ(problems.size(), 8u);
    std::vector<std::string> lines;
    for (const auto& problem : problems)
        lines.push_back(problem.substr(0, problem.find(':')));
    EXPECT_EQ(lines, (std::vector<std::string>{"line 2", "line 5", "line 6", "line 7", "line 8", "line 9",
                                               "line 10", "line 12"}));
}

}  // namespace
