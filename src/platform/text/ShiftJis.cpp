#include "platform/text/ShiftJis.h"

#include "platform/text/TextEncoding.h"

namespace platform {

std::optional<std::vector<std::uint8_t>> ShiftJis::encode(std::string_view utf8)
{
    return TextEncoding::encode(utf8, "CP932");
}

std::optional<std::string> ShiftJis::decode(const std::uint8_t* bytes, std::size_t size)
{
    return TextEncoding::decode(bytes, size, "CP932");
}

}  // namespace platform
