// Feeds arbitrary bodies to the JSON response serializer; the first byte picks the character set the
// response names, the null removal and whether fragments are allowed.
#include <cstddef>
#include <cstdint>

#include "httpclient/serialization/JSONResponseSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const char* const kTypes[] = {"application/json", "application/json; charset=iso-8859-1",
                                         "text/json; charset=utf-16", "text/javascript; charset=bogus"};
    platform::URLResponse response;
    response.url = "http://fuzz/";
    response.statusCode = (data[0] & 0x10) ? 404 : 200;
    response.setContentType(kTypes[data[0] & 3]);
    auto serializer = JSONResponseSerializer::serializerWithReadingOptions((data[0] & 4) ? 4 : 0);
    serializer->removesKeysWithNullValues = data[0] & 8;
    std::optional<platform::Error> error;
    (void)serializer->responseObjectForResponse(&response, Bytes(data + 1, data + size), &error);
    return 0;
}
