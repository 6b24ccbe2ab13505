// Feeds arbitrary bytes to the property-list reader, as XML, as binary (the first byte picks whether the
// binary header is put in front, so the fuzzer reaches the binary parser without having to find it), and
// what parses to the keyed unarchiver and back through both writers.
#include <cstddef>
#include <cstdint>

#include "platform/plist/KeyedUnarchiver.h"
#include "platform/plist/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    platform::Bytes input;
    if (data[0] & 1)
        input.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
    input.insert(input.end(), data + 1, data + size);

    auto value = platform::PropertyList::parse(input);
    if (!value)
        return 0;
    (void)platform::KeyedUnarchiver::unarchive(*value);
    for (auto format : {platform::PlistFormat::Xml, platform::PlistFormat::Binary}) {
        if (auto bytes = platform::PropertyList::serialize(*value, format))
            (void)platform::PropertyList::parse(*bytes);
    }
    return 0;
}
