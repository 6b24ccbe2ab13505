#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>

#include "app/controls/RightClickButton.h"
#include "app/controls/ScalingWidthTextField.h"
#include "app/controls/SubclassButtonCell.h"
#include "app/controls/UnchangedTextColorButton.h"
#include "app/shell/AppDelegate.h"
#include "support/app/TestApplication.h"

namespace {

class ThemedButtons : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
    void TearDown() override { AppDelegate::getInstance().setIsShowingDialog(false); }
};

void click(QWidget& widget, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), button, button, modifiers);
    QCoreApplication::sendEvent(&widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), button, Qt::NoButton, modifiers);
    QCoreApplication::sendEvent(&widget, &release);
}

TEST_F(ThemedButtons, EachButtonReleaseSendsItsActionOnceWhileEnabled)
{
    RightClickButton button(QStringLiteral("Undo"));
    button.resize(80, 24);
    int left = 0;
    int right = 0;
    button.setAction([&] { ++left; });
    button.setRightAction([&] { ++right; });
    click(button, Qt::LeftButton);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(right, 0);
    click(button, Qt::RightButton);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(right, 1);
    button.setEnabled(false);
    click(button, Qt::LeftButton);
    click(button, Qt::RightButton);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(right, 1);
}

TEST_F(ThemedButtons, TitleColoursFollowTheEnabledState)
{
    EXPECT_EQ(SubclassButtonCell::titleColor(true), QColor(Qt::white));
    EXPECT_EQ(SubclassButtonCell::titleColor(false), QColor(170, 170, 170));
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
