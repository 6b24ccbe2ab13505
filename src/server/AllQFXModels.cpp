#include "server/AllQFXModels.h"

#include "server/ServerJSON.h"

using nlohmann::json;

template <typename Table>
static std::optional<Table> hexTable(const json& dic, const char* key, Table (*convert)(const std::string&))
{
    const std::string text = ServerJSON::stringValue(dic, key);
    if (text.empty())
        return std::nullopt;
    return convert(text);
}

AllQFXModels AllQFXModels::initWithDic(const json& dic)
{
    AllQFXModels model;
    model.modelIDString_ = ServerJSON::stringValue(dic, "modelId");
    model.modelIdInt_ = getIntFromString(model.modelIDString_);
    model.modelName_ = ServerJSON::stringValue(dic, "modelName");
    model.jpegImage_ = ServerJSON::stringValue(dic, "jpegImage");
    model.qfxGenerationModel_ = hexTable(dic, "qfxGeneration", &byteDataFromHexString);
    model.qfxSupportRegionsModel_ = hexTable(dic, "qfxSupportRegions", &byteDataLongFromHexString);
    model.ptcGenerationModel_ = hexTable(dic, "ptcGeneration", &byteDataFromHexString);
    model.ptcSupportRegionsModel_ = hexTable(dic, "ptcSupportRegions", &byteDataLongFromHexString);
    if (const json* levels = ServerJSON::arrayValue(dic, "qfxRegionLevels"); levels && !levels->empty())
        model.qfxRegionLevelsModel_ = convertToByteArrayWithArray(*levels);
    model.qfxMaxNumOfUnit_ = ServerJSON::integerValue(dic, "qfxMaxNumOfUnit");
    model.ptcMaxNumOfUnit_ = ServerJSON::integerValue(dic, "ptcMaxNumOfUnit");
    for (const json* effect : ServerJSON::objectElements(dic, "effects")) {
        model.effectsList_.push_back(AllQFXEffects::initWithDic(*effect));
        model.wrongKinds_ = model.wrongKinds_ || model.effectsList_.back().hasWrongKinds();
    }
    using Kind = ServerJSON::Kind;
    for (const char* key : {"modelId", "modelName", "jpegImage", "qfxGeneration", "qfxSupportRegions", "ptcGeneration",
                            "ptcSupportRegions"})
        model.wrongKinds_ = model.wrongKinds_ || ServerJSON::holdsWrongKind(dic, key, Kind::String);
    model.wrongKinds_ = model.wrongKinds_ || ServerJSON::holdsWrongKind(dic, "qfxRegionLevels", Kind::NumberList) ||
                        ServerJSON::holdsWrongKind(dic, "qfxMaxNumOfUnit", Kind::Number) ||
                        ServerJSON::holdsWrongKind(dic, "ptcMaxNumOfUnit", Kind::Number) ||
                        ServerJSON::holdsWrongKind(dic, "effects", Kind::ObjectList);
    return model;
}

int32_t AllQFXModels::getIntFromString(const std::string& text)
{
    return ServerJSON::modelIdFromHexString(text);
}

AllQFXModels::Bytes4 AllQFXModels::byteDataFromHexString(const std::string& text)
{
    return AllQFXEffects::byteDataFromHexString(text);
}

AllQFXModels::Bytes8 AllQFXModels::byteDataLongFromHexString(const std::string& text)
{
    return ServerJSON::littleEndianBytes<8>(ServerJSON::scanHex(text, 64));
}

AllQFXModels::RegionLevels AllQFXModels::convertToByteArrayWithArray(const json& array)
{
    RegionLevels table{};
    if (!array.is_array())
        return table;
    for (size_t i = 0; i < table.size() && i < array.size(); ++i)
        table[i] = static_cast<uint8_t>(ServerJSON::integerOf(array[i]));
    return table;
}
