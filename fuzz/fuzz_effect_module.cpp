// Effect module files arrive from servers and devices: the reader must stay inside the given bytes.
#include <cstddef>
#include <cstdint>

#include "device/formats/OKVEffect.h"
#include "device/formats/OKVSimpleEffect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (auto effect = OKVEffect::initWithData(data, int64_t(size)))
        (void)effect->copy();
    (void)OKVSimpleEffect::initWithData(data, int64_t(size));
    return 0;
}
