#pragma once

#include <functional>
#include <memory>
#include <optional>

class DemoUnit;
class QWidget;

// The demo tour's steps on the effect screen, each through the gestures a person makes: the update
// notice that comes after connecting and its OK, an effect loaded with the Load button, the option
// menu of a row, its delete question, the deleted row held by the unit, and the property sheet of a
// double-clicked row. Each act does nothing once its state is there, so the tour may repeat it.
class EffectTour {
public:
    // The effect the pool loads into the unit, the one deleted from it and the one whose properties show.
    static constexpr const char* kLoadedEffect = "NoiseGate";
    static constexpr const char* kDeletedEffect = "Compressor";
    static constexpr const char* kShownEffect = "Chorus";
    // Whether the unit holds the catalogue effect of this name loaded; none when its list lacks it.
    static std::optional<bool> unitHoldsLoaded(DemoUnit& unit, const char* name);

    static bool updateNoticeShown();
    static void closeUpdateNotice(QWidget& window);
    static void loadEffect(QWidget& window);
    static void openMenu(QWidget& window);
    // The option menu of the row of that effect, by a right click.
    static void openMenuOf(QWidget& window, const char* name);
    // The shown option menu's favourite button.
    static void clickFavourite(QWidget& window);
    static bool menuShown();
    static void askToDelete(QWidget& window);
    static bool deleteQuestionShown();
    static void confirmDelete(QWidget& window);
    static void showProperties(QWidget& window);
    static bool propertiesShown();
    static void closeProperties(QWidget& window);
};
