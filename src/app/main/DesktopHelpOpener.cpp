#include "app/main/DesktopHelpOpener.h"

#include <QDesktopServices>
#include <QUrl>

void DesktopHelpOpener::openFile(const std::string& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void DesktopHelpOpener::openUrl(const std::string& url)
{
    const QUrl link(QString::fromStdString(url), QUrl::StrictMode);
    if (link.isValid()) QDesktopServices::openUrl(link);
}
