#include "platform/bundle/StringFormat.h"

namespace platform {

std::string StringFormat::Argument::text() const
{
    if (const auto* number = std::get_if<std::int64_t>(&value_))
        return std::to_string(*number);
    return std::get<std::string>(value_);
}

std::string StringFormat::format(std::string_view format, std::initializer_list<Argument> arguments)
{
    std::string out;
    auto next = arguments.begin();
    auto take = [&] { return next != arguments.end() ? (next++)->text() : std::string(); };
    for (std::size_t at = 0; at < format.size();) {
        if (format[at] != '%') {
            out += format[at++];
            continue;
        }
        std::string_view rest = format.substr(at + 1);
        if (rest.substr(0, 1) == "%") {
            out += '%';
            at += 2;
        } else if (rest.substr(0, 1) == "@" || rest.substr(0, 1) == "d") {
            out += take();
            at += 2;
        } else if (rest.substr(0, 2) == "ld") {
            out += take();
            at += 3;
        } else {
            out += format[at++];
        }
    }
    return out;
}

}  // namespace platform
