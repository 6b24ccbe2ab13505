#include "app/views/LicenseView.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTextDocument>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

#include "app/views/InterfaceTexts.h"

LicenseView::LicenseView(const std::string& resourcesDirectory, QWidget* parent)
    : QWidget(parent), licenseTextView_(new QPlainTextEdit(this))
{
    licenseTextView_->setReadOnly(true);
    licenseTextView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A grey line round the text, and the text kept 10 points off the top and bottom.
    licenseTextView_->setStyleSheet(QStringLiteral("QPlainTextEdit { border: 1px solid grey; padding: 10px 0px; }"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(licenseTextView_);
    // Only the program's resources hold its licence: without them nothing is read from wherever the
    // program was started, and the view says the text is missing.
    const auto text = resourcesDirectory.empty()
                          ? std::nullopt
                          : readLicenseText((std::filesystem::path(resourcesDirectory) / kLicenseFileName).string());
    licenseTextView_->setPlainText(text ? *text : InterfaceTexts::localizedString("Main_LicenseMissing"));
}

std::optional<QString> LicenseView::readLicenseText(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    QStringDecoder latin2("ISO-8859-2");
    if (!latin2.isValid()) return QString::fromLatin1(bytes);
    QString text = latin2.decode(bytes);
    if (latin2.hasError()) return std::nullopt;
    return text;
}

QSize LicenseView::sizeHint() const
{
    const QFontMetrics metrics(licenseTextView_->font());
    const QStringList lines = licenseTextView_->toPlainText().split(QLatin1Char('\n'));
    int longest = 0;
    for (const QString& line : lines) longest = std::max(longest, metrics.horizontalAdvance(line));
    const int document = int(licenseTextView_->document()->documentMargin()) * 2;
    const int frame = licenseTextView_->frameWidth() * 2;
    const int ruler = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QMargins margins = layout()->contentsMargins();
    // The sheet's 10-point padding above and below the text, and a line's slack for the last one.
    const int padding = 20 + metrics.lineSpacing();
    return {longest + document + frame + ruler + margins.left() + margins.right() + metrics.averageCharWidth(),
            int(lines.size()) * metrics.lineSpacing() + document + frame + padding + margins.top() + margins.bottom()};
}
