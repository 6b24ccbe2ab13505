// Patch records from the device and from files: any record accepted must write back to a record that is
// accepted again and keeps its name and effects.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/formats/OKVPatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto patch = OKVPatch::initWithData(data, int64_t(size));
    if (!patch)
        return 0;
    const Bytes written = patch->getByteData();
    if (written.size() > size_t(OKVPatch::kMaxPatchDataSize))
        return 0; // padding may push a record at the limit over it; writing refuses such a record
    auto again = OKVPatch::initWithData(written);
    if (!again || again->effectTypes() != patch->effectTypes() || again->prm().content() != patch->prm().content())
        abort();
    return 0;
}
