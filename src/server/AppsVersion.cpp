#include "server/AppsVersion.h"

#include "server/ServerJSON.h"

AppsVersion AppsVersion::initWithDic(const nlohmann::json& dic)
{
    AppsVersion document;
    for (const nlohmann::json* app : ServerJSON::objectElements(dic, "apps"))
        document.appsList_.push_back(AppDetail::initWithDic(*app));
    return document;
}
