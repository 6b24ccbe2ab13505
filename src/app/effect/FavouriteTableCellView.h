#pragma once

#include <QColor>
#include <QRect>

#include <functional>

class QPainter;

// The star of the effect list ("FavouriteButtonCell"): grey for an ordinary effect, yellow for a
// favourite. Its callback is set by the list's data source for the row the cell is filled for.
class FavouriteTableCellView {
public:
    static constexpr const char* kIdentifier = "FavouriteButtonCell";

    static QColor starColor(bool isFavourite);

    void clearCellView();
    void didClickFavouriteButton();
    void setSetFavouriteAction(std::function<void()> action) { setFavouriteAction_ = std::move(action); }
    void setIsFavourite(bool isFavourite) { isFavourite_ = isFavourite; }
    bool isFavourite() const { return isFavourite_; }

    static QRect favouriteButtonRect(const QRect& rect);
    void paint(QPainter& painter, const QRect& rect) const;

private:
    std::function<void()> setFavouriteAction_;
    bool isFavourite_ = false;
};
