#include "server/AppDetail.h"

#include "server/ServerJSON.h"

AppDetail AppDetail::initWithDic(const nlohmann::json& dic)
{
    AppDetail app;
    app.appName_ = ServerJSON::stringValue(dic, "appName");
    app.appVersion_ = ServerJSON::stringValue(dic, "appVersion");
    app.appVersionWin_ = ServerJSON::stringValue(dic, "appVersionWin");
    app.appVersionMac_ = ServerJSON::stringValue(dic, "appVersionMac");
    return app;
}
