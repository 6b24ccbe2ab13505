// Feeds arbitrary bytes through every server document; none of them may throw or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/AllQFXData.h"
#include "server/AppsVersion.h"
#include "server/ModelsVersion.h"
#include "server/ServerJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto object = ServerJSON::objectFromData(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!object)
        return 0;
    AllQFXData catalogue = AllQFXData::initWithDic(*object);
    (void)catalogue.copy().isError();
    (void)AppsVersion::initWithDic(*object).copy();
    (void)ModelsVersion::initWithDic(*object).copy();
    return 0;
}
