#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace platform {

// Fills a localised format with its arguments: "%@" takes a text, "%d" and "%ld" a whole number, "%%"
// is a percent sign. Arguments are used in order, and substituted text is never read again as a format,
// so a patch name holding "%" shows as it is. Any other "%" sequence is kept as written; a specifier
// without an argument left becomes nothing.
class StringFormat {
public:
    class Argument {
    public:
        Argument(std::string text) : value_(std::move(text)) {}
        Argument(std::string_view text) : value_(std::string(text)) {}
        Argument(const char* text) : value_(std::string(text)) {}
        template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer>>>
        Argument(Integer number) : value_(static_cast<std::int64_t>(number))
        {
        }
        std::string text() const;

    private:
        std::variant<std::string, std::int64_t> value_;
    };

    static std::string format(std::string_view format, std::initializer_list<Argument> arguments);
};

}  // namespace platform
