// The device's effect list file: parse, write back (never shorter than read), parse the result again.
// Names are stored with zero bytes skipped, so a crafted name may reread as a marker: shapes may differ.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/formats/OKVQFXList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    OKVQFXList list = OKVQFXList::initWithByteData(data, int64_t(size));
    const Bytes written = list.getByteData();
    if (written.size() < size)
        abort();
    OKVQFXList again = OKVQFXList::initWithByteData(written);
    if (again.getByteData().size() != written.size())
        abort();
    return 0;
}
