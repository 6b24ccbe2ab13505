// Header lines and Content-Type values come straight from servers. The first line of the input is a
// header line, the rest a Content-Type value. A field read from a line reads back the same when written
// in the usual form, and a Content-Type reads back the same from what was made of it.
#include <string>

#include "FuzzInput.h"
#include "platform/url/URLResponse.h"

using platform::URLResponse;
using fuzzinput::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto cut = input.find('\n');
    const std::string_view line = input.substr(0, cut == std::string_view::npos ? input.size() : cut + 1);

    if (auto field = URLResponse::headerField(line)) {
        const auto& [name, value] = *field;
        check(name.find(':') == std::string::npos, "a field name holds ':'");
        check(value.empty() || (value.front() != ' ' && value.front() != '\t'), "a value starts with a blank");
        check(value.empty() || (value.back() != '\r' && value.back() != '\n'), "a value keeps its line end");
        check(URLResponse::headerField(name + ": " + value + "\r\n") == field, "a field does not read back");
    }

    URLResponse response;
    response.setContentType(std::string(input.substr(line.size())));
    const std::string mime = response.mimeType;
    check(mime.find(';') == std::string::npos, "a MIME type holds ';'");
    for (char c : mime) check(!(c >= 'A' && c <= 'Z'), "a MIME type is not lower case");
    check(mime.empty() || (mime.front() != ' ' && mime.back() != ' '), "a MIME type keeps its blanks");
    if (response.textEncodingName) check(!response.textEncodingName->empty(), "an empty charset is kept");

    URLResponse again;
    std::string made = mime;
    if (response.textEncodingName) made += "; charset=\"" + *response.textEncodingName + "\"";
    again.setContentType(made);
    check(again.mimeType == mime && again.textEncodingName == response.textEncodingName,
          "a Content-Type does not read back");
    return 0;
}
