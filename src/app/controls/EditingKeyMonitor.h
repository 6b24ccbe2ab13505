#pragma once

#include <QObject>
#include <QPointer>

class ChangingColorWhenEditingTextField;

// The one application-wide key filter a name field installs while it is edited: every key pressed in
// that field goes to its keyDownEvent() first, and what it handled goes no further. It is the field's
// child, so it goes with the field and never calls a field that is gone.
class EditingKeyMonitor final : public QObject {
    Q_OBJECT
public:
    // The monitor installed now; none when no field is edited.
    static EditingKeyMonitor* installed();
    // Installs a monitor for `field` unless one is installed; answers the new one, or none.
    static EditingKeyMonitor* installFor(ChangingColorWhenEditingTextField* field);
    // Removes the installed monitor if it is `field`'s.
    static void removeFor(const ChangingColorWhenEditingTextField* field);

    ChangingColorWhenEditingTextField* field() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit EditingKeyMonitor(ChangingColorWhenEditingTextField* field);

    ChangingColorWhenEditingTextField* field_;
    // Whether the field is still there.
    QPointer<QObject> fieldObject_;
};
