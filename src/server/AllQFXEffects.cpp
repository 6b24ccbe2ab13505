#include "server/AllQFXEffects.h"

#include "server/ServerJSON.h"

AllQFXEffects AllQFXEffects::initWithDic(const nlohmann::json& dic)
{
    AllQFXEffects effect;
    effect.typeEffectString_ = ServerJSON::stringValue(dic, "type");
    effect.typeEffect_ = byteDataFromHexString(effect.typeEffectString_);
    effect.fileName_ = ServerJSON::stringValue(dic, "fileName");
    effect.version_ = ServerJSON::stringValue(dic, "version");
    return effect;
}

std::array<uint8_t, 4> AllQFXEffects::byteDataFromHexString(const std::string& text)
{
    return ServerJSON::littleEndianBytes<4>(ServerJSON::scanHex(text, 32));
}
