// Feeds arbitrary bodies to the image response serializer; the first byte picks whether a PNG or a JPEG
// signature is put in front, so the fuzzer reaches both decoders at once.
#include <cstddef>
#include <cstdint>

#include "httpclient/serialization/ImageResponseSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    Bytes body;
    if (data[0] & 1)
        body = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    else if (data[0] & 2)
        body = {0xFF, 0xD8, 0xFF};
    body.insert(body.end(), data + 1, data + size);
    platform::URLResponse response;
    response.url = "http://fuzz/";
    response.statusCode = 200;
    response.setContentType((data[0] & 1) ? "image/png" : "image/jpeg");
    std::optional<platform::Error> error;
    (void)ImageResponseSerializer::serializer()->responseObjectForResponse(&response, body, &error);
    return 0;
}
