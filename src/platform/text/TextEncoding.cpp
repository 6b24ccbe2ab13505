#include "platform/text/TextEncoding.h"

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

std::optional<std::vector<std::uint8_t>> TextEncoding::encode(std::string_view utf8, const std::string& charset)
{
    return convert<std::vector<std::uint8_t>>(charset.c_str(), "UTF-8", utf8.data(), utf8.size());
}

std::optional<std::string> TextEncoding::decode(const std::uint8_t* bytes, std::size_t size, const std::string& charset)
{
    return convert<std::string>("UTF-8", charset.c_str(), reinterpret_cast<const char*>(bytes), size);
}

bool TextEncoding::isKnown(const std::string& charset)
{
    iconv_t descriptor = ::iconv_open("UTF-8", charset.c_str());
    if (descriptor == reinterpret_cast<iconv_t>(-1))
        return false;
    ::iconv_close(descriptor);
    return true;
}

}  // namespace platform
