#include "platform/bundle/Bundle.h"
#include "platform/bundle/Configuration.h"
#include "platform/bundle/Localizer.h"
#include "platform/bundle/StringFormat.h"
#include "platform/bundle/StringsTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

using platform::Bundle;
using platform::Configuration;
using platform::Localizer;
using platform::StringFormat;
using platform::StringsTable;

const Bundle kShipped{RIG_TEST_RESOURCES};

TEST(StringsTableTest, ReadsCommentsAndEscapesAndSkipsMalformedLines)
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
    const std::pair<const char*, const char*> expected[] = {
        {"plain", "value"}, {"quote", "say \"hi\" \\ done"}, {"controls", "a\nb\tc"}, {"kana", "\xE3\x81\x82\xE3\x81\x84"},
        {"guitar", "\xF0\x9F\x8E\xB8"}, {"utf8", "日本語 %@"}, {"two", "x"}, {"three", "y"}};
    for (const auto& [key, value] : expected) EXPECT_EQ(table.value(key), value) << key;
    EXPECT_EQ(table.entries().size(), 8u);
    EXPECT_FALSE(table.value("missing"));
    // Malformed lines are reported and skipped.
    problems.clear();
    auto broken = StringsTable::parse("\"a\" = \"1\";\n"
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
    EXPECT_EQ((std::vector{broken.value("a"), broken.value("b"), broken.value("c"), broken.value("d")}),
              (std::vector<std::optional<std::string>>{"again", "2", "4", "6"}));
    for (const char* key : {"open", "noSemicolon", "bare", "badEscape", "lone", "bytes", "tail"}) EXPECT_FALSE(broken.value(key)) << key;
    std::vector<std::string> lines;
    for (const auto& problem : problems) lines.push_back(problem.substr(0, problem.find(':')));
    EXPECT_EQ(lines, (std::vector<std::string>{"line 2", "line 5", "line 6", "line 7", "line 8", "line 9", "line 10", "line 12"}));
}

TEST(ConfigurationTest, ShippedTableHoldsEveryKeyWithItsDefaultAndBadValuesFallBackToIt)
{
    std::vector<std::string> problems;
    auto table = StringsTable::load(std::string(RIG_TEST_RESOURCES) + "/Configuration.strings", &problems);
    ASSERT_TRUE(table);
    EXPECT_TRUE(problems.empty());
    for (const auto& [key, value] : table->entries()) EXPECT_EQ(Configuration::defaultValue(key), value) << key;
    EXPECT_EQ(table->entries().size(), 11u);
    Configuration configuration = Configuration::load(kShipped);
    EXPECT_EQ(configuration.integer(Configuration::kTime_Of_Retry), 3);
    EXPECT_DOUBLE_EQ(configuration.floating(Configuration::kCommand_Time_Out), 3.0);
    EXPECT_EQ(configuration.string(Configuration::kServerURLAllQFX).rfind("https://", 0), 0u);

    // Missing or bad values fall back to the defaults, never to zero.
    Configuration empty;
    EXPECT_EQ(empty.integer(Configuration::kDownload_Time_Out), 60);
    EXPECT_EQ(empty.integer(Configuration::kCommand_Time_Out), 3);
    EXPECT_DOUBLE_EQ(empty.floating(Configuration::kCommand_Time_Out), 3.0);
    EXPECT_EQ(empty.integer(Configuration::kTime_Of_Reload_Buffer_Data), 2);
    EXPECT_EQ(empty.string("kUnknown"), "kUnknown");
    EXPECT_EQ(empty.integer("kUnknown"), 0);

    Configuration broken(StringsTable::parse("\"kCommand_Time_Out\" = \"0\";\n"
                                             "\"kDownload_Time_Out\" = \"soon\";\n"
                                             "\"kTime_Out_Of_Checking_Server\" = \"-5\";\n"
                                             "\"kTime_Of_Reload_Buffer_Data\" = \"4x\";\n"
                                             "\"kTime_Of_Retry\" = \"0\";\n"
                                             "\"kServerURLAppVersion\" = \"https://mirror.example/v\";\n"));
    EXPECT_DOUBLE_EQ(broken.floating(Configuration::kCommand_Time_Out), 3.0);
    EXPECT_EQ(broken.integer(Configuration::kDownload_Time_Out), 60);
    EXPECT_EQ(broken.integer(Configuration::kTime_Out_Of_Checking_Server), 10);
    EXPECT_EQ(broken.integer(Configuration::kTime_Of_Reload_Buffer_Data), 2);
    EXPECT_EQ(broken.integer(Configuration::kTime_Of_Retry), 0);  // no retries is a valid choice
    EXPECT_EQ(broken.string(Configuration::kServerURLAppVersion), "https://mirror.example/v");

    Configuration tuned(StringsTable::parse("\"kCommand_Time_Out\" = \" 1.5 \"; \"kTime_Of_Retry\" = \"5\";"));
    EXPECT_DOUBLE_EQ(tuned.floating(Configuration::kCommand_Time_Out), 1.5);
    EXPECT_EQ(tuned.integer(Configuration::kTime_Of_Retry), 5);
}

TEST(LocalizerTest, LooksUpTheLocalesLanguageThenEnglishThenKey)
{
    Localizer localizer("ja", StringsTable::parse("\"both\" = \"両方\";"), StringsTable::parse("\"both\" = \"Both\"; \"englishOnly\" = \"English\";"));
    EXPECT_EQ(localizer.text("both"), "両方");
    EXPECT_EQ(localizer.text("englishOnly"), "English");
    EXPECT_EQ(localizer.text("Main_Nowhere"), "Main_Nowhere");
    EXPECT_EQ(Localizer::load(kShipped, "ja").text("Common_Cancel"), "キャンセル");
    EXPECT_EQ(Localizer::load(kShipped, "en").text("Common_Cancel"), "Cancel");
    EXPECT_EQ(Localizer::load(Bundle(""), "ja").text("Common_Cancel"), "Common_Cancel");
    // The language comes from the locale that governs messages.
    const struct { const char *all, *messages, *lang, *language, *expected; } cases[] = {
        {"", "", "ja_JP.UTF-8", "", "ja"},   {"", "", "en_GB.UTF-8", "", "en"},    {"", "ja_JP.UTF-8", "en_US.UTF-8", "", "ja"},
        {"C", "ja_JP.UTF-8", "ja_JP.UTF-8", "", "en"}, {"", "", "en_US.UTF-8", "ja:en", "ja"}, {"", "", "C", "ja", "en"},
        {"", "", "", "", "en"},              {"", "", "jam_JM", "", "en"}};
    for (const auto& c : cases) {
        ::setenv("LC_ALL", c.all, 1);
        ::setenv("LC_MESSAGES", c.messages, 1);
        ::setenv("LANG", c.lang, 1);
        ::setenv("LANGUAGE", c.language, 1);
        EXPECT_EQ(Localizer::languageFromEnvironment(), c.expected) << c.all << "|" << c.messages << "|" << c.lang << "|" << c.language;
    }
}

// The interface texts of one language may not lack a key of the other, and a format must take the same
// arguments in both, or a dialog shows a raw key or the wrong value.
TEST(LocalizedTablesTest, EnglishAndJapaneseAgreeOnKeysAndFormatsThatSubstituteInOrder)
{
    auto english = kShipped.table(Localizer::kTableName, "en");
    auto japanese = kShipped.table(Localizer::kTableName, "ja");
    ASSERT_TRUE(english && japanese);
    auto specifiers = [](const std::string& text) {
        static const std::regex pattern("%(@|ld|d)");
        std::string found;
        for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) found += it->str() + " ";
        return found;
    };
    for (const auto& [key, text] : english->entries()) {
        auto other = japanese->value(key);
        ASSERT_TRUE(other) << key << " is missing from ja";
        EXPECT_EQ(specifiers(text), specifiers(*other)) << key;
    }
    for (const auto& [key, text] : japanese->entries()) EXPECT_TRUE(english->value(key)) << key << " is missing from en";
    for (const char* language : {"en", "ja"}) {
        std::vector<std::string> problems;
        StringsTable::load(std::string(RIG_TEST_RESOURCES) + "/" + language + ".lproj/Localizable.strings", &problems);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }
    // A format substitutes its arguments in order and never rereads what it substituted.
    EXPECT_EQ(StringFormat::format("Copy \"%@\" failed", {"100% Fuzz %@ %d"}), "Copy \"100% Fuzz %@ %d\" failed");
    EXPECT_EQ(StringFormat::format("%ld of %ld restored (%d%%)", {3, 40L, 7}), "3 of 40 restored (7%)");
    EXPECT_EQ(StringFormat::format("%@ uses %ld", {std::string("Drive"), -2}), "Drive uses -2");
    EXPECT_EQ(StringFormat::format("left %@ and %@", {"one"}), "left one and ");
    EXPECT_EQ(StringFormat::format("keep %s %5d 100%", {"x"}), "keep %s %5d 100%");
    EXPECT_EQ(StringFormat::format("", {}), "");
}

TEST(BundleTest, ResourcesComeFromTheEnvironmentFirst)
{
    ::setenv("RIG_RESOURCES", RIG_TEST_RESOURCES, 1);
    EXPECT_EQ(Bundle::locateResources(), RIG_TEST_RESOURCES);
    EXPECT_TRUE(Bundle::main().table(Configuration::kTableName));
    EXPECT_FALSE(Bundle::main().table("NoSuchTable"));
}
