// Localised formats are filled with names from the device and the server. A substituted text is never
// read again as a format, so the result is never longer than the format and the arguments together,
// and a lone "%@" gives its argument back unchanged.
#include <cstring>
#include <string>

#include "FuzzInput.h"
#include "platform/bundle/StringFormat.h"

using platform::StringFormat;
using fuzzinput::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::int64_t number = 0;
    if (size >= 8) {
        std::memcpy(&number, data, sizeof number);
        data += 8;
        size -= 8;
    }
    const auto texts = fuzzinput::parts(data, size, 3);
    const auto& format = texts[0];
    const std::string a(texts[1]);
    const std::string b(texts[2]);
    const std::string out = StringFormat::format(format, {a, number, b});
    check(out.size() <= format.size() + a.size() + b.size() + 20, "the result outgrows format and arguments");
    check(StringFormat::format("%@", {a}) == a, "a substituted text was changed");
    check(StringFormat::format("%ld", {number}) == std::to_string(number), "a number is misprinted");
    check(StringFormat::format(format, {}).size() <= format.size(), "a format without arguments grows");
    return 0;
}
