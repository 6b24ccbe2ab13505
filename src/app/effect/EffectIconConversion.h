#pragma once

#include <QImage>
#include <QSize>

#include <optional>

class BitmapImage;

// Turns an effect's grey icon into the white one the list shows: the icon is redrawn at its size, then
// its dark opaque strokes become white and everything else transparent. Pure, so it runs on any thread.
class EffectIconConversion {
public:
    // The image redrawn into a new one of `size`; a null image for a source that is not valid.
    static QImage convertFromGrayColorImageToRGB(const QImage& image, const QSize& size);
    // Whether a pixel (components 0 to 1) becomes opaque white; every other pixel becomes transparent.
    static bool becomesWhite(double red, double green, double blue, double alpha);
    // The walk over every real pixel of the image.
    static QImage whitenedImage(const QImage& image);
    // The whole conversion of an item's icon; nothing when the icon cannot be drawn.
    static std::optional<BitmapImage> displayedIconFromIcon(const BitmapImage& icon);

    static QImage imageFromBitmap(const BitmapImage& bitmap);
    static std::optional<BitmapImage> bitmapFromImage(const QImage& image);
};
