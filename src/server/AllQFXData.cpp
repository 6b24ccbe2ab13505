#include "server/AllQFXData.h"

#include "server/ServerJSON.h"

AllQFXData AllQFXData::initWithDic(const nlohmann::json& dic)
{
    AllQFXData data;
    if (!dic.is_object())
        return data;
    if (auto url = dic.find("qfx_url"); url != dic.end() && url->is_string())
        data.qfx_url_ = url->get<std::string>();
    data.modelsList_.emplace();
    for (const nlohmann::json* model : ServerJSON::objectElements(dic, "models")) {
        data.modelsList_->push_back(AllQFXModels::initWithDic(*model));
        data.wrongKinds_ = data.wrongKinds_ || data.modelsList_->back().hasWrongKinds();
    }
    data.wrongKinds_ = data.wrongKinds_ || ServerJSON::holdsWrongKind(dic, "qfx_url", ServerJSON::Kind::String) ||
                       ServerJSON::holdsWrongKind(dic, "models", ServerJSON::Kind::ObjectList);
    return data;
}
