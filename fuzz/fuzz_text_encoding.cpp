// Names from the device are Shift-JIS; texts from files and servers must be UTF-8. Whatever Shift-JIS
// decodes to is valid UTF-8 that encodes again and decodes to the same text; the UTF-8 checks agree
// with each other and with a plain count of the characters.
#include <string>

#include "FuzzInput.h"
#include "platform/text/ShiftJis.h"
#include "platform/text/Utf8.h"

using platform::ShiftJis;
using platform::Utf8;
using fuzzinput::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (auto text = ShiftJis::decode(data, size)) {
        check(Utf8::isValid(*text), "decoded Shift-JIS is not UTF-8");
        auto bytes = ShiftJis::encode(*text);
        check(bytes.has_value(), "decoded Shift-JIS does not encode again");
        check(ShiftJis::decode(*bytes) == text, "Shift-JIS does not survive a round trip");
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool valid = Utf8::isValid(text);
    const std::size_t units = Utf8::utf16Length(text);
    if (Utf8::isAscii(text)) check(valid && units == size, "ASCII is not one unit a byte");
    if (valid) {
        // Every character starts with a non-continuation byte; four-byte ones take two units.
        std::size_t expected = 0;
        for (unsigned char c : text) expected += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
        check(units == expected, "UTF-16 length miscounts valid UTF-8");
        if (auto bytes = ShiftJis::encode(text))
            check(ShiftJis::decode(*bytes).has_value(), "encoded text does not decode");
    }
    check(units <= size, "more UTF-16 units than bytes");
    return 0;
}
