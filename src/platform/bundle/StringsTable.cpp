#include "platform/bundle/StringsTable.h"

#include <cstdint>
#include <fstream>
#include <sstream>

#include "platform/text/Utf8.h"

namespace platform {
namespace {

class Parser {
public:
    Parser(std::string_view text, std::vector<std::string>* problems) : text_(text), problems_(problems)
    {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            at_ = 3;
    }

    std::map<std::string, std::string> run()
    {
        std::map<std::string, std::string> entries;
        while (skipBlankAndComments()) {
            std::size_t startLine = line_;
            entryLine_ = line_;
            resumeHere_ = false;
            std::string key, value;
            if (!readString(key) || !expect('=') || !readString(value) || !expect(';')) {
                // A token missing at the start of a later line is most likely the next entry: keep it.
                if (!resumeHere_)
                    skipRestOfLine();
                continue;
            }
            if (!entries.emplace(key, value).second) {
                report(startLine, "key \"" + key + "\" appears again; the later value is kept");
                entries[key] = value;
            }
        }
        return entries;
    }

private:
    std::string_view text_;
    std::vector<std::string>* problems_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
    std::size_t entryLine_ = 1;
    bool resumeHere_ = false;

    // Fails because the next token is not the one wanted; nothing of that token was consumed.
    bool failAtToken(const std::string& why)
    {
        resumeHere_ = line_ > entryLine_;
        return fail(why);
    }

    bool fail(const std::string& why)
    {
        report(line_, why);
        return false;
    }

    void report(std::size_t line, const std::string& why)
    {
        if (problems_ != nullptr)
            problems_->push_back("line " + std::to_string(line) + ": " + why);
    }

    // Moves to the next meaningful character; false at the end of the text.
    bool skipBlankAndComments()
    {
        while (at_ < text_.size()) {
            char c = text_[at_];
            if (c == '\n') {
                ++line_;
                ++at_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++at_;
            } else if (text_.substr(at_, 2) == "//") {
                skipRestOfLine();
            } else if (text_.substr(at_, 2) == "/*") {
                std::size_t end = text_.find("*/", at_ + 2);
                std::size_t stop = end == std::string_view::npos ? text_.size() : end + 2;
                for (std::size_t i = at_; i < stop; ++i)
                    line_ += text_[i] == '\n';
                if (end == std::string_view::npos)
                    report(line_, "comment not closed");
                at_ = stop;
            } else {
                return true;
            }
        }
        return false;
    }

    void skipRestOfLine()
    {
        while (at_ < text_.size() && text_[at_] != '\n')
            ++at_;
    }

    // Skips blanks and comments on the way to the next token, which must be `c`.
    bool expect(char c)
    {
        if (!skipBlankAndComments() || text_[at_] != c) {
            return failAtToken(std::string("expected '") + c + "'");
        }
        ++at_;
        return true;
    }

    bool readHex(std::uint32_t& value)
    {
        if (text_.size() - at_ < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[at_ + static_cast<std::size_t>(i)];
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        at_ += 4;
        return true;
    }

    bool readCodePoint(std::string& out)
    {
        std::uint32_t unit;
        if (!readHex(unit))
            return fail("\\U needs four hex digits");
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return fail("\\U escape holds a lone low surrogate");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            std::uint32_t low;
            if (text_.substr(at_, 2) != "\\U" && text_.substr(at_, 2) != "\\u")
                return fail("\\U escape holds a lone high surrogate");
            at_ += 2;
            if (!readHex(low) || low < 0xDC00 || low > 0xDFFF)
                return fail("\\U escape holds a broken surrogate pair");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        Utf8::append(out, unit);
        return true;
    }

    bool readString(std::string& out)
    {
        if (!skipBlankAndComments() || text_[at_] != '"') {
            return failAtToken("expected a quoted string");
        }
        ++at_;
        while (at_ < text_.size()) {
            char c = text_[at_++];
            if (c == '"') {
                if (!Utf8::isValid(out))
                    return fail("text is not UTF-8");
                return true;
            }
            if (c == '\n') {
                --at_;
                return fail("string not closed on its line");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                break;
            char escaped = text_[at_++];
            switch (escaped) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'U':
            case 'u':
                if (!readCodePoint(out))
                    return false;
                break;
            default:
                return fail(std::string("unknown escape \\") + escaped);
            }
        }
        return fail("string not closed");
    }
};

}  // namespace

StringsTable StringsTable::parse(std::string_view text, std::vector<std::string>* problems)
{
    StringsTable table;
    table.entries_ = Parser(text, problems).run();
    return table;
}

std::optional<StringsTable> StringsTable::load(const std::string& path, std::vector<std::string>* problems)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad())
        return std::nullopt;
    std::vector<std::string> found;
    StringsTable table = parse(contents.str(), &found);
    if (problems != nullptr)
        for (auto& problem : found)
            problems->push_back(path + ", " + problem);
    return table;
}

std::optional<std::string> StringsTable::value(const std::string& key) const
{
    auto found = entries_.find(key);
    if (found == entries_.end())
        return std::nullopt;
    return found->second;
}

}  // namespace platform
