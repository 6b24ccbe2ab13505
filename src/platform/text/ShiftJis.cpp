#include "platform/text/ShiftJis.h"

#include <cerrno>
#include <iconv.h>

namespace platform {
namespace {

// One conversion with its own descriptor (a descriptor carries state and is not shared between
// threads). Returns nothing on any ill-formed or unconvertible input.
template <typename Out>
std::optional<Out> convert(const char* to, const char* from, const char* input, std::size_t size)
{
    iconv_t descriptor = ::iconv_open(to, from);
    if (descriptor == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    Out output;
    output.resize(size * 2 + 16);
    char* in = const_cast<char*>(input);
    std::size_t inLeft = size;
    std::size_t used = 0;
    bool ok = true;
    for (bool flushing = false;;) {
        char* out = reinterpret_cast<char*>(output.data()) + used;
        std::size_t outLeft = output.size() - used;
        std::size_t result = flushing ? ::iconv(descriptor, nullptr, nullptr, &out, &outLeft)
                                      : ::iconv(descriptor, &in, &inLeft, &out, &outLeft);
        used = output.size() - outLeft;
        if (result == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) {
                output.resize(output.size() * 2);
                continue;
            }
            ok = false;  // EILSEQ or EINVAL: unconvertible or cut off
            break;
        }
        // A count above zero means iconv substituted something irreversibly; treat that as a failure.
        if (result != 0) {
            ok = false;
            break;
        }
        if (flushing)
            break;
        flushing = true;
    }
    ::iconv_close(descriptor);
    if (!ok)
        return std::nullopt;
    output.resize(used);
    return output;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ShiftJis::encode(std::string_view utf8)
{
    return convert<std::vector<std::uint8_t>>("CP932", "UTF-8", utf8.data(), utf8.size());
}

std::optional<std::string> ShiftJis::decode(const std::uint8_t* bytes, std::size_t size)
{
    return convert<std::string>("UTF-8", "CP932", reinterpret_cast<const char*>(bytes), size);
}

}  // namespace platform
