#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <string>

class QPlainTextEdit;

// The licence window's content: the program's "license.txt", read-only and scrollable.
class LicenseView final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kLicenseFileName = "license.txt";

    // Shows the licence file of `resourcesDirectory`; without resources, or when the file cannot be read,
    // the view says the licence text is missing.
    explicit LicenseView(const std::string& resourcesDirectory, QWidget* parent = nullptr);

    // The file's text, read as ISO Latin-2, or nothing when it cannot be read.
    static std::optional<QString> readLicenseText(const std::string& path);
    QPlainTextEdit* licenseTextView() const { return licenseTextView_; }
    // Room for the whole text: its longest line and all its lines, in the view's font.
    QSize sizeHint() const override;

private:
    QPlainTextEdit* licenseTextView_;
};
