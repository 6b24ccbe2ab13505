#include "server/ModelsVersion.h"

#include "server/ServerJSON.h"

ModelsVersion ModelsVersion::initWithDic(const nlohmann::json& dic)
{
    ModelsVersion document;
    for (const nlohmann::json* model : ServerJSON::objectElements(dic, "models"))
        document.modelsList_.push_back(ModelDetail::initWithDic(*model));
    return document;
}
