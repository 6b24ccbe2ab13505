#pragma once

#include "app/main/HelpOpener.h"

// Opens documents and pages with the desktop's default applications.
class DesktopHelpOpener final : public HelpOpener {
public:
    void openFile(const std::string& path) override;
    void openUrl(const std::string& url) override;
};
