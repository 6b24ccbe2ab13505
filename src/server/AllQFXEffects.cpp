#include "server/AllQFXEffects.h"

#include "platform/files/SafeName.h"
#include "server/ServerJSON.h"

AllQFXEffects AllQFXEffects::initWithDic(const nlohmann::json& dic)
{
    AllQFXEffects effect;
    effect.typeEffectString_ = ServerJSON::stringValue(dic, "type");
    effect.typeEffect_ = byteDataFromHexString(effect.typeEffectString_);
    effect.fileName_ = ServerJSON::stringValue(dic, "fileName");
    effect.version_ = ServerJSON::stringValue(dic, "version");
    // The type names the effect's folder, and the store sweeps every folder no effect names: an effect
    // without a usable one would have its folder swept.
    using Kind = ServerJSON::Kind;
    effect.wrongKinds_ = ServerJSON::holdsWrongKind(dic, "fileName", Kind::String) ||
                         ServerJSON::holdsWrongKind(dic, "version", Kind::String) ||
                         !platform::SafeName::check(effect.typeEffectString_);
    return effect;
}

std::array<uint8_t, 4> AllQFXEffects::byteDataFromHexString(const std::string& text)
{
    return ServerJSON::littleEndianBytes<4>(ServerJSON::scanHex(text, 32));
}
