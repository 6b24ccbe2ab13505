#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "app/controls/RightClickButton.h"
#include "app/controls/ScalingWidthTextField.h"
#include "app/controls/SubclassButtonCell.h"
#include "app/controls/UnchangeLayoutCell.h"
#include "app/controls/UnchangedTextColorButton.h"
#include "app/shell/AppDelegate.h"
#include "support/app/Events.h"
#include "support/app/TestApplication.h"

namespace {

class ThemedButtons : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
    void TearDown() override { AppDelegate::getInstance().setIsShowingDialog(false); }
};

TEST_F(ThemedButtons, EachButtonReleaseSendsItsActionOnceWhileEnabled)
{
    RightClickButton button(QStringLiteral("Undo"));
    button.resize(80, 24);
    int left = 0, right = 0;
    button.setAction([&] { ++left; });
    button.setRightAction([&] { ++right; });
    testing_app::click(&button);
    EXPECT_EQ(std::pair(left, right), std::pair(1, 0));
    testing_app::click(&button, {5, 5}, Qt::RightButton);
    EXPECT_EQ(std::pair(left, right), std::pair(1, 1));
    button.setEnabled(false);
    testing_app::click(&button);
    testing_app::click(&button, {5, 5}, Qt::RightButton);
    EXPECT_EQ(std::pair(left, right), std::pair(1, 1));
}

// A pointer's press on a menu button leaves the keys with the text being typed (its Undo must not commit
// that text first); Tab still reaches the button, and Space there runs its action once.
TEST_F(ThemedButtons, APressLeavesTheKeysWithTheTypingAndTabStillReachesTheButton)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    auto* button = new RightClickButton(QStringLiteral("Undo"), &window);
    layout->addWidget(field);
    layout->addWidget(button);
    int clicks = 0;
    button->setAction([&] { ++clicks; });
    ASSERT_TRUE(testing_app::activate(window));
    field->setFocus(Qt::MouseFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), field);
    int lostFocus = 0;
    QObject::connect(field, &QLineEdit::editingFinished, [&] { ++lostFocus; });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(lostFocus, 0);
    testing_app::key(field, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), button);
    testing_app::tap(button, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_EQ(clicks, 2);
}

TEST_F(ThemedButtons, TitleColoursFollowTheEnabledState)
{
    SubclassButtonCell cell(QStringLiteral("Save"));
    cell.setEnabled(false);
    EXPECT_EQ(cell.palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(170, 170, 170));
    cell.setEnabled(true);
    EXPECT_EQ(cell.palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::white));
    EXPECT_EQ(UnchangedTextColorButton::titleColor(false, Qt::blue), QColor(Qt::white));
    EXPECT_EQ(UnchangedTextColorButton::titleColor(true, Qt::blue), QColor(Qt::blue));
    UnchangedTextColorButton backup(QStringLiteral("Backup All"));
    backup.setEnabled(false);
    EXPECT_EQ(backup.palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::white));
}

// A title lower than the title area sits centred on the button's whole height; one that fills the area,
// or would pass it, keeps the area as it is; no title measures nothing and sits at the middle.
TEST_F(ThemedButtons, TitlesCentreOnTheButtonsHeightByTheirMeasuredHeight)
{
    const QRectF bounds(0, 0, 100, 40);
    const QRectF area(4, 4, 92, 32);
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(area, bounds, 16), QRectF(4, 12, 92, 16));
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(area, bounds, 32), area);
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(area, bounds, 50), area);
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(area, bounds, 0), QRectF(4, 20, 92, 0));
    // Off the frame's origin, the centre is the frame's.
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(QRectF(14, 24, 92, 32), QRectF(10, 20, 100, 40), 10),
              QRectF(14, 35, 92, 10));
    UnchangeLayoutCell button(QStringLiteral("Load"));
    button.resize(120, 60);
    const QRectF title = button.titleRectForBounds(QRectF(button.rect()));
    EXPECT_NEAR(title.center().y(), 30.0, 0.5);
    EXPECT_NEAR(title.height(), button.fontMetrics().height(), 2.0);
    // A title that wraps to several lines in a narrow frame is measured whole, and still centred.
    button.setText(QStringLiteral("a title long enough to wrap over several lines"));
    const QRectF wrapped = button.titleRectForBounds(QRectF(button.rect()));
    EXPECT_GT(wrapped.height(), 2 * button.fontMetrics().height() - 1);
    EXPECT_NEAR(wrapped.center().y(), 30.0, 0.5);
    button.setText(QString());
    EXPECT_EQ(button.titleRectForBounds(QRectF(button.rect())).height(), 0.0);
    // Drawn, the title's ink lies as far from the top as from the bottom.
    button.setText(QStringLiteral("Load"));
    QPalette colours = button.palette();
    colours.setColor(QPalette::ButtonText, Qt::black);
    colours.setColor(QPalette::Button, Qt::white);
    colours.setColor(QPalette::Window, Qt::white);
    button.setPalette(colours);
    button.setFlat(true);
    const QImage drawn = button.grab().toImage();
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 20; x < drawn.width() - 20; ++x)
            if (qGray(drawn.pixel(x, y)) < 100) {
                if (top < 0) top = y;
                bottom = y;
            }
    ASSERT_GE(top, 0);
    EXPECT_NEAR((top + bottom) / 2.0, 30.0, 3.0) << top << " " << bottom;
}

TEST_F(ThemedButtons, WrappedTextsSizeToTheirWidth)
{
    EXPECT_EQ(ScalingWidthTextField::wrappingBounds(true, QSizeF(200, 30)), QRectF(0, 0, 196, 10000));
    EXPECT_EQ(ScalingWidthTextField::wrappingBounds(true, QSizeF(200, 1)), std::nullopt);
    EXPECT_EQ(ScalingWidthTextField::wrappingBounds(false, QSizeF(200, 30)), std::nullopt);
    ScalingWidthTextField text(QStringLiteral("a text long enough to wrap over several lines at this width"));
    const QSize unwrapped = text.sizeHint();
    text.setWordWrap(true);
    text.resize(120, 20);
    const QSize wrapped = text.sizeHint();
    EXPECT_LE(wrapped.width(), 116);
    EXPECT_GT(wrapped.height(), unwrapped.height());
}

}  // namespace
