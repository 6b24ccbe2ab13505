#pragma once

#include <QPoint>

#include <cstdint>
#include <string>
#include <vector>

class QWidget;

// The demo tour's drags on the patch screen, played as synthetic drag events with the views' own drag
// data: a reorder drag held over the device list (its marker), device rows held over a pool group (the
// pool's marker), device rows dropped below the pool's last row as a new group, and the seeded backup of
// the whole unit dropped on the list, which restores it. Each act does nothing once its state is there.
class DragTour {
public:
    static void holdReorderOverList(QWidget& window);
    static bool listMarkerShown();
    static void holdRowsOverPoolGroup(QWidget& window);
    static bool poolMarkerShown();
    static void dropRowsAsNewGroup(QWidget& window);
    static bool rowsDroppedAsGroup();
    static void dropBackupOnList(QWidget& window);
    // Rows of the device list dragged and dropped onto the list's row `atRow`: a reorder. With
    // `lookedAtOnTheWay`, another program asks the drag for its files before the drop, as a desktop under
    // the pointer may.
    static void dropListRowsOnList(QWidget& window, const std::vector<std::uint64_t>& rows, int atRow,
                                   bool lookedAtOnTheWay = false);
    // Top-level items of the pool, by name, dragged together and dropped onto the list's row `atRow`.
    static void dropPoolItemsOnList(QWidget& window, const std::vector<std::string>& names, int atRow,
                                    bool lookedAtOnTheWay = false);
    // Top-level items of the pool dragged into another program: the local files it is handed.
    static std::vector<std::string> dragPoolItemsOut(QWidget& window, const std::vector<std::string>& names);
    // Files of a file manager dropped onto the list's row `atRow`, or below the pool's last row.
    static void dropFilesOnList(QWidget& window, const std::vector<std::string>& paths, int atRow);
    static void dropFilesOnPool(QWidget& window, const std::vector<std::string>& paths);
    // The same onto the middle of the row of the pool's top-level item `name`; nothing without one.
    static void dropFilesOnPoolItem(QWidget& window, const std::vector<std::string>& paths, const std::string& name);
    static bool backupRestored();
    // Rows of the device list dragged to the list's bottom edge and held still there, the pointer too;
    // the point in the list's viewport where it is held.
    static QPoint holdListRowsAtTheListsBottom(QWidget& window, const std::vector<std::uint64_t>& rows);
    // The same at the pool's bottom edge, the pool scrolled to its top first.
    static QPoint holdListRowsAtThePoolsBottom(QWidget& window, const std::vector<std::uint64_t>& rows);
    // Lets go of a drag held over the views, dropping nothing.
    static void letGoOfTheHeldDrag(QWidget& window);
};
