// The text rules against a pasted, dropped or committed megabyte: each must refuse it well within the
// 100 ms an edit may hold the interface, in both interface languages and for group names full of line
// separators. A megabyte of kana is the worst case of the name rule, which would try it in Latin letters.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "library/text/GroupNameTextEditingManagement.h"
#include "library/text/PatchCommentTextEditingManagement.h"
#include "library/text/PatchNameTextEditingManagement.h"

namespace {

constexpr std::size_t kMegabyte = 1 << 20;

class Editor final : public EditableText {
public:
    std::string string() const override { return "c"; }
    void setString(const std::string&) override {}
    void setSelectedRange(TextRange) override {}
    bool delegateShouldChangeText(const std::vector<TextRange>&, const std::vector<std::string>&) override
    {
        return false;
    }
};

std::string repeated(const std::string& piece)
{
    std::string text;
    while (text.size() < kMegabyte) text += piece;
    return text;
}

void refuse(benchmark::State& state, const std::string& pasted, const char* language, int rule)
{
    Editor editor;
    TextRuleContext context;
    context.language = language;
    for (auto _ : state) {
        bool taken = false;
        switch (rule) {
            case 0:
                taken = PatchCommentTextEditingManagement::patchCommentInTextView(editor, {{1, 0}}, {pasted}, context);
                break;
            case 1:
                taken = PatchNameTextEditingManagement::patchNameInTextView(editor, {{1, 0}}, {pasted}, context);
                break;
            default:
                taken = GroupNameTextEditingManagement::groupNameInTextView(editor, {{1, 0}}, {pasted});
                break;
        }
        if (taken) state.SkipWithError("a megabyte was taken");
        benchmark::DoNotOptimize(taken);
    }
}

void BM_CommentMegabyteEnglish(benchmark::State& state) { refuse(state, repeated("a"), "en", 0); }
void BM_CommentMegabyteJapanese(benchmark::State& state) { refuse(state, repeated("\xE6\xBC\xA2"), "ja", 0); }
void BM_NameMegabyteOfKana(benchmark::State& state) { refuse(state, repeated("\xE3\x81\x8B"), "en", 1); }
void BM_GroupNameMegabyteOfSeparators(benchmark::State& state) { refuse(state, repeated("\xE2\x80\xA8\n"), "en", 2); }

}  // namespace

BENCHMARK(BM_CommentMegabyteEnglish)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommentMegabyteJapanese)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameMegabyteOfKana)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GroupNameMegabyteOfSeparators)->Unit(benchmark::kMillisecond);
