// Feeds arbitrary bytes to the icon (ICO, CUR) reader: it must refuse what it cannot read, within the pixel bound,
// and never read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image/ICOReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string reason;
    (void)platform::ICOReader::decode(data, size, reason);
    return 0;
}
