#include "device/transport/PatchObject.h"

PatchObject::PatchObject(std::int32_t groupNum_, std::int32_t bankNum_, std::int32_t patchNum_, std::string path_)
    : groupNum(groupNum_), bankNum(bankNum_), patchNum(patchNum_), path(std::move(path_))
{
}
