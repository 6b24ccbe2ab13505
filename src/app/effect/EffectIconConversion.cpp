#include "app/effect/EffectIconConversion.h"

#include <QPainter>

#include "library/models/BitmapImage.h"

QImage EffectIconConversion::convertFromGrayColorImageToRGB(const QImage& image, const QSize& size)
{
    if (image.isNull() || size.isEmpty()) return {};
    QImage converted(size, QImage::Format_ARGB32);
    converted.fill(Qt::transparent);
    QPainter painter(&converted);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRect(QPoint(0, 0), size), image);
    painter.end();
    return converted;
}

bool EffectIconConversion::becomesWhite(double red, double green, double blue, double alpha)
{
    return red < 0.3 && green < 0.3 && blue < 0.3 && alpha == 1.0;
}

QImage EffectIconConversion::whitenedImage(const QImage& image)
{
    // The walk covers the bitmap's own pixels, whatever the screen's scale.
    QImage walked = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < walked.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(walked.scanLine(y));
        for (int x = 0; x < walked.width(); ++x) {
            const QRgb pixel = line[x];
            const bool white = becomesWhite(qRed(pixel) / 255.0, qGreen(pixel) / 255.0, qBlue(pixel) / 255.0,
                                            qAlpha(pixel) / 255.0);
            line[x] = white ? qRgba(255, 255, 255, 255) : qRgba(qRed(pixel), qGreen(pixel), qBlue(pixel), 0);
        }
    }
    return walked;
}

QImage EffectIconConversion::imageFromBitmap(const BitmapImage& bitmap)
{
    if (bitmap.width() == 0 || bitmap.height() == 0) return {};
    return QImage(bitmap.rgba().data(), static_cast<int>(bitmap.width()), static_cast<int>(bitmap.height()),
                  static_cast<qsizetype>(bitmap.width()) * 4, QImage::Format_RGBA8888)
        .copy();
}

std::optional<BitmapImage> EffectIconConversion::bitmapFromImage(const QImage& image)
{
    if (image.isNull()) return std::nullopt;
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    std::vector<std::uint8_t> pixels;
    pixels.reserve(static_cast<std::size_t>(rgba.width()) * static_cast<std::size_t>(rgba.height()) * 4);
    for (int y = 0; y < rgba.height(); ++y) {
        const auto* line = rgba.constScanLine(y);
        pixels.insert(pixels.end(), line, line + static_cast<std::size_t>(rgba.width()) * 4);
    }
    return BitmapImage::make(static_cast<std::uint32_t>(rgba.width()), static_cast<std::uint32_t>(rgba.height()),
                             std::move(pixels));
}

std::optional<BitmapImage> EffectIconConversion::displayedIconFromIcon(const BitmapImage& icon)
{
    const QImage source = imageFromBitmap(icon);
    const QImage converted = convertFromGrayColorImageToRGB(source, source.size());
    if (converted.isNull()) return std::nullopt;
    return bitmapFromImage(whitenedImage(converted));
}
