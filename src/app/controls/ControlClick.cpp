#include "app/controls/ControlClick.h"

bool ControlClick::isRightClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, bool ctrlSelects)
{
    if (button == Qt::RightButton) return true;
    if (button != Qt::LeftButton) return false;
    if (modifiers.testFlag(Qt::MetaModifier)) return true;
    return !ctrlSelects && modifiers.testFlag(Qt::ControlModifier);
}
