#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/Bytes.h"

// The four header values of an effect module the effect pool keeps per effect.
class OKVSimpleEffect {
public:
    OKVSimpleEffect() = default;
    // Straight from a file's bytes; nothing when they end before the name field does.
    static std::optional<OKVSimpleEffect> initWithData(const uint8_t* data, int64_t sizeData);

    void setDataUseUnitNum(uint32_t units) { useUnitNum_ = uint8_t(units); }
    void setDataType(uint32_t type) { type_ = type; }
    // Keeps at most 13 bytes of the name and 4 of the version.
    void setDataTypeName(const std::string& name) { typeName_ = name.substr(0, 13); }
    void setDataVersion(const std::string& version) { version_ = version.substr(0, 4); }

    uint8_t useUnitNum() const { return useUnitNum_; }
    uint32_t type() const { return type_; }
    const std::string& typeName() const { return typeName_; }
    const std::string& version() const { return version_; }

private:
    uint8_t useUnitNum_ = 0;
    uint32_t type_ = 0;
    std::string typeName_;
    std::string version_;
};
