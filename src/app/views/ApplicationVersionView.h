#pragma once

#include <QWidget>

#include <optional>
#include <string>

class QLabel;

// The version window's content: the interface language's "System Version: " and the program's version.
class ApplicationVersionView final : public QWidget {
    Q_OBJECT
public:
    explicit ApplicationVersionView(std::optional<std::string> version, QWidget* parent = nullptr);

    // The line shown: empty when there is no version.
    static QString versionText(const std::optional<std::string>& version);
    QLabel* appVersionTextField() const { return appVersionTextField_; }

private:
    QLabel* appVersionTextField_;
};
