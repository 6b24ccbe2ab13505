#pragma once

class QWidget;

// The demo tour's steps through the patch screen's option menus and property sheets, each by the
// mouse as the user would: the device list's menu, the pool's menu, Delete from it, the property sheet
// of a device patch with its effects, and the sheet of the backup of the whole unit. Each act does
// nothing once its state is there, so the tour may repeat it.
class MenuTour {
public:
    // The device slot whose menu and sheet the tour opens.
    static constexpr int kListRow = 4;

    static void openListMenu(QWidget& window);
    static bool listMenuShown();
    static void openPoolMenu(QWidget& window);
    static bool poolMenuShown();
    static void deleteFromPoolMenu(QWidget& window);
    // The pool menu of the top-level item of that name, opened by a right click on its row.
    static void openPoolMenuOfItem(QWidget& window, const char* name);
    // Delete chosen from the pool menu of the top-level item of that name.
    static void deleteFromPoolMenuOf(QWidget& window, const char* name);
    static bool patchDeleted();
    static void openPatchSheet(QWidget& window);
    static bool patchSheetShown();
    static void openBackupGroupSheet(QWidget& window);
    static bool backupGroupSheetShown();
};
