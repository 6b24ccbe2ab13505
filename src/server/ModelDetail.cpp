#include "server/ModelDetail.h"

#include "server/ServerJSON.h"

ModelDetail ModelDetail::initWithDic(const nlohmann::json& dic)
{
    ModelDetail model;
    model.modelIdInt_ = intFromHexString(ServerJSON::stringValue(dic, "modelId"));
    model.modelVersion_ = ServerJSON::stringValue(dic, "modelVersion");
    return model;
}

int32_t ModelDetail::intFromHexString(const std::string& text)
{
    return ServerJSON::modelIdFromHexString(text);
}
