#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A key/value table in the strings format: `"key" = "value";` entries, /* */ and // comments, and the
// escapes \" \\ \n \t \r and \UXXXX (\uXXXX too; a surrogate pair makes one character). A string may not
// run over a line end. A malformed entry is reported (with its line) and skipped; the rest still loads.
class StringsTable {
public:
    StringsTable() = default;

    static StringsTable parse(std::string_view text, std::vector<std::string>* problems = nullptr);
    // Nothing when the file cannot be read; a file that reads but holds bad lines still gives a table.
    static std::optional<StringsTable> load(const std::string& path, std::vector<std::string>* problems = nullptr);

    std::optional<std::string> value(const std::string& key) const;
    const std::map<std::string, std::string>& entries() const { return entries_; }

private:
    std::map<std::string, std::string> entries_;
};

}  // namespace platform
