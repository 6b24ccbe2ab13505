#pragma once

#include <string>

// Hands a document or a web page to the desktop's default application.
class HelpOpener {
public:
    virtual ~HelpOpener() = default;
    virtual void openFile(const std::string& path) = 0;
    virtual void openUrl(const std::string& url) = 0;
};
