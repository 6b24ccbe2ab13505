// Strings tables are read from files the user or a translator may have edited. Whatever table a text
// gives, the table written out again with escapes reads back to the same entries without a problem.
#include <string>

#include "FuzzInput.h"
#include "platform/bundle/StringsTable.h"

using platform::StringsTable;
using fuzzinput::check;

namespace {

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> problems;
    const StringsTable table =
        StringsTable::parse(std::string_view(reinterpret_cast<const char*>(data), size), &problems);
    std::string written;
    for (const auto& [key, value] : table.entries()) {
        check(table.value(key) == value, "an entry is not found by its key");
        written += quoted(key) + " = " + quoted(value) + ";\n";
    }
    std::vector<std::string> again;
    check(StringsTable::parse(written, &again).entries() == table.entries(), "a written table reads back differently");
    check(again.empty(), "a written table has problems");
    return 0;
}
