#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/text/GroupNameTextEditingManagement.h"
#include "library/text/PatchCommentTextEditingManagement.h"
#include "library/text/PatchNameTextEditingManagement.h"
#include "platform/text/Utf8.h"

namespace {

// An editor that applies what its delegate (the group name rule) lets through.
class Editor final : public EditableText {
public:
    explicit Editor(std::string text) : text_(std::move(text)) {}
    std::string string() const override { return text_; }
    void setString(const std::string& text) override { text_ = text; }
    void setSelectedRange(TextRange range) override { caret = range.location; }
    bool delegateShouldChangeText(const std::vector<TextRange>& ranges, const std::vector<std::string>& replacements) override
    {
        return GroupNameTextEditingManagement::groupNameInTextView(*this, ranges, replacements);
    }

    std::size_t caret = 0;

private:
    std::string text_;
};

enum class Rule { Name, Comment, Group };

// Unpaired surrogates as the interface hands them to the rules: their own three bytes, not UTF-8.
const std::string kLoneHigh = "\xED\xA0\x80";
const std::string kLoneLow = "\xED\xB0\x80";

struct Typing {
    Rule rule;
    std::string language;
    std::string before;
    std::string typed;
    bool pasted;
    bool answer;
    std::string after;  // the text once the editor applied a change it was allowed to
};

}  // namespace

TEST(TextRules, TypingFilters)
{
    const std::string kana = "\xE3\x81\x8B\xE3\x81\x8D";  // two kana: "kaki"
    const std::string kanji = "\xE6\xBC\xA2";
    const Typing cases[] = {
        {Rule::Name, "en", "ABCDEFGHIJ", "K", false, false, "ABCDEFGHIJ"},
        {Rule::Name, "en", "ABC", "", false, true, "AB"},
        {Rule::Name, "en", "", "ABCDEFGHIJKL", true, false, ""},
        {Rule::Name, "en", "AB", kana, false, false, "ABkaki"},
        {Rule::Name, "ja", "AB", kana, false, false, "ABkaki"},
        {Rule::Name, "en", "AB", "\xC3\xA9", false, false, "AB"},
        {Rule::Name, "en", "AB", "/", false, true, "AB/"},
        {Rule::Comment, "en", "", std::string(200, 'a'), false, true, std::string(200, 'a')},
        {Rule::Comment, "en", "x", kanji, false, false, "x"},
        {Rule::Comment, "ja", "x", kanji, false, true, "x" + kanji},
        {Rule::Comment, "ja", "x", "\xF0\x9F\x8E\xB8", false, false, "x"},
        // Stored, a minus sign would read back as the full-width hyphen-minus: refused, never "shown changed".
        {Rule::Comment, "ja", "x", "\xE2\x88\x92" "5dB", true, false, "x"},
        {Rule::Comment, "ja", "x", "\xE3\x80\x9C", false, true, "x\xE3\x80\x9C"},
        // The file drops a NUL, so a comment never takes one; an emoji is one character, refused whole.
        {Rule::Comment, "en", "x", std::string("\0", 1), true, false, "x"},
        {Rule::Comment, "ja", "x", std::string("a\0", 2), false, false, "x"},
        {Rule::Comment, "en", "x", "\xF0\x9F\x8E\xB8", false, false, "x"},
        {Rule::Name, "en", "ABCDEFGHI", "\xF0\x9F\x8E\xB8", false, false, "ABCDEFGHI"},
        {Rule::Comment, "en", "x", std::string(1 << 20, 'a'), false, false, "x"},
        {Rule::Group, "en", "ab", "c\nd\xE2\x80\xA8" "e", true, false, "abcde"},
        {Rule::Group, "en", std::string(50, 'g'), "h", false, false, std::string(50, 'g')},
        {Rule::Group, "en", std::string(49, 'g'), "h", false, true, std::string(49, 'g') + "h"},
        // Half a character (an unpaired surrogate as the interface passes it on) is refused by every rule.
        {Rule::Comment, "ja", "ab", kLoneHigh, false, false, "ab"},
        {Rule::Comment, "en", "ab", kLoneLow, false, false, "ab"},
        {Rule::Name, "en", "AB", kLoneLow, false, false, "AB"},
        {Rule::Group, "en", "ab", kLoneHigh, false, false, "ab"},
        {Rule::Group, "en", "ab", "c\n" + kLoneHigh, true, false, "ab"},
    };
    for (const Typing& c : cases) {
        Editor editor(c.before);
        const TextRange range{platform::Utf8::utf16Length(c.before) - (c.typed.empty() ? 1 : 0), c.typed.empty() ? 1U : 0U};
        TextRuleContext context;
        context.language = c.language;
        context.pasteboardString = [&c]() -> std::optional<std::string> {
            if (c.pasted) return c.typed;
            return std::nullopt;
        };
        bool answer = false;
        switch (c.rule) {
            case Rule::Name:
                answer = PatchNameTextEditingManagement::patchNameInTextView(editor, {range}, {c.typed}, context);
                break;
            case Rule::Comment:
                answer = PatchCommentTextEditingManagement::patchCommentInTextView(editor, {range}, {c.typed}, context);
                break;
            case Rule::Group:
                answer = GroupNameTextEditingManagement::groupNameInTextView(editor, {range}, {c.typed});
                break;
        }
        if (answer) editor.setString(*TextRange::replacing(c.before, range, c.typed));
        EXPECT_EQ(answer, c.answer) << c.before << " + " << c.typed;
        EXPECT_EQ(editor.string(), c.after) << c.before << " + " << c.typed;
        if (!answer && editor.string() != c.before) {
            EXPECT_EQ(editor.caret, platform::Utf8::utf16Length(editor.string()));
        }
    }
}

TEST(TextRules, EndOfEditingTellsEachRefusalByItsOwnMessage)
{
    std::vector<std::string> sheets;
    TextRuleContext context;
    context.showDialogWithInformation = [&](const std::string& text) { sheets.push_back(text); };
    context.localizedString = [](const std::string& key) { return "text of " + key; };

    const std::string kanji = "\xE6\xBC\xA2";
    std::string hundredKanji;
    for (int i = 0; i < 100; ++i) hundredKanji += kanji;
    struct End {
        bool comment;
        std::string language;
        std::string text;
        const char* message;  // none: taken
    };
    const End ends[] = {
        {false, "en", "Lead", nullptr},
        {false, "en", " ", nullptr},
        {false, "en", "", "Patch_InvalidPatchName"},
        {false, "en", "a/b", "Patch_InvalidPatchName"},
        // A name can reach a field by ways no key press takes, so the typing limits hold here too.
        {false, "en", "ABCDEFGHIJK", "Patch_LongPatchName"},
        {false, "en", "Caf\xC3\xA9", "Patch_NonAsciiPatchName"},
        {false, "en", "\xF0\x9F\x8E\xB8", "Patch_NonAsciiPatchName"},
        {false, "en", "ab" + kLoneHigh, "Patch_BrokenCharacterInPatchName"},
        {true, "en", "a/b", nullptr},
        {true, "en", std::string(200, 'a'), nullptr},
        {true, "en", std::string(201, 'a'), "Patch_LongPatchComment"},
        {true, "en", std::string("x\0y", 3), "Patch_NulInPatchComment"},
        {true, "en", "Caf\xC3\xA9", "Patch_NonAsciiPatchComment"},
        {true, "ja", hundredKanji, nullptr},
        {true, "ja", hundredKanji + kanji, "Patch_LongPatchComment"},
        {true, "ja", std::string("x\0y", 3), "Patch_NulInPatchComment"},
        {true, "ja", "\xF0\x9F\x8E\xB8", "Patch_UnencodablePatchComment"},
        {true, "ja", "\xE2\x88\x92" "5dB", "Patch_UnencodablePatchComment"},
        {true, "ja", kanji + kLoneLow, "Patch_BrokenCharacterInPatchComment"},
        {true, "en", "ab" + kLoneHigh, "Patch_BrokenCharacterInPatchComment"},
    };
    for (const End& c : ends) {
        SCOPED_TRACE(c.language + " " + c.text.substr(0, 16) + " " + std::to_string(c.text.size()));
        sheets.clear();
        context.language = c.language;
        EXPECT_EQ(c.comment ? PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextField(c.text, true, context)
                            : PatchNameTextEditingManagement::patchNameTextShouldEndEditing(c.text, true, context),
                  !c.message);
        EXPECT_EQ(sheets, c.message ? std::vector<std::string>{std::string("text of ") + c.message} : std::vector<std::string>{});
    }

    sheets.clear();
    EXPECT_FALSE(PatchNameTextEditingManagement::patchNameTextShouldEndEditing("a?b", false, context));
    EXPECT_FALSE(PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextField(
        std::string(201, 'a'), false, context));
    EXPECT_TRUE(GroupNameTextEditingManagement::groupNameTextShouldEndEditing("a.b", true, context));
    for (const char* bad : {".hidden", "", "a|b", "x\"y"})
        EXPECT_FALSE(GroupNameTextEditingManagement::groupNameTextShouldEndEditing(bad, true, context)) << bad;
    EXPECT_FALSE(GroupNameTextEditingManagement::groupNameTextShouldEndEditing("a:b", false, context));
    EXPECT_EQ(sheets, (std::vector<std::string>{"text of Patch_InvalidGroupName", "text of Patch_InvalidGroupName",
                                                "text of Patch_InvalidGroupName", "text of Patch_InvalidGroupName"}));
    sheets.clear();
    EXPECT_FALSE(GroupNameTextEditingManagement::groupNameTextShouldEndEditing("Live" + kLoneHigh, true, context));
    EXPECT_EQ(sheets, (std::vector<std::string>{"text of Patch_BrokenCharacterInGroupName"}));
}
