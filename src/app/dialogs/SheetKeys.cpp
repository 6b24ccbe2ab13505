#include "app/dialogs/SheetKeys.h"

#include <Qt>

bool SheetKeys::reachesButtons(int key, bool fromEditedField)
{
    if (!fromEditedField) return true;
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}
