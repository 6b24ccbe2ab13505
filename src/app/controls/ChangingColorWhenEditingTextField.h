#pragma once

#include <QClipboard>
#include <QLineEdit>
#include <QString>

#include <optional>

#include "app/controls/InputMethodComposition.h"
#include "app/controls/LineEditEditableText.h"

class EditingTextDelegate;
class QKeyEvent;

// The in-place editor of a name on the dark lists: white text while idle, black while edited. While it
// is edited it is the application delegate's edited text field, the main window's shortcuts are off and
// its key monitor (EditingKeyMonitor) gives it its own Ctrl+C, Ctrl+V, Ctrl+A, Escape and Ctrl+Return.
// Every change of its text (typing, deleting, pasting with Ctrl+V or the middle button, an input
// method's commit) is put to its delegate first; it takes no drops. An edit ends when
// it loses the focus (Escape, Ctrl+Return or a click elsewhere hand the focus to the list it sits in);
// it then leaves the field neither editable nor selectable until its owner makes it editable again.
class ChangingColorWhenEditingTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit ChangingColorWhenEditingTextField(QWidget* parent = nullptr);
    ~ChangingColorWhenEditingTextField() override;

    void setDelegate(EditingTextDelegate* delegate);
    EditingTextDelegate* delegate() const { return delegate_; }
    // The field's text as the text rules see it.
    EditableText& editableText() { return editableText_; }

    // The text before editing, which Escape brings back; set by the owner.
    const std::optional<QString>& originalText() const { return originalText_; }
    void setOriginalText(const std::optional<QString>& text) { originalText_ = text; }

    // From the first key of an edit on.
    bool isEditing() const { return isEditing_; }
    // A paste was applied in this edit.
    bool isPasted() const { return isPasted_; }
    // A key other than the handled shortcuts was pressed in this edit.
    bool isTypedWord() const { return isTypedWord_; }
    // Between taking the focus as an editable field and the end of that edit.
    bool isInEdit() const { return isInEdit_; }

    // A reload of the list the field sits in closes it: the field lets its edit go without ending it
    // (nothing commits, nothing is told), so that the field the list opens again goes on with it.
    void handOverEdit();
    // Goes on with the edit of `closed`, a field of the same cell that a reload closed: its text as
    // typed, its selection, and what the edit has seen so far. The original stays this field's own.
    void continueEditOf(const ChangingColorWhenEditingTextField& closed);

    // The key monitor's call for every key pressed in this field; true when it handled the key, which
    // then goes no further.
    bool keyDownEvent(QKeyEvent* event);

    // A focus-out that only lends the keys away (another window or a popup has them for a while): an
    // edit goes on through it.
    static bool isFocusLentAway(const QEvent& event);
    // The keys the monitor may handle.
    static bool isOwnShortcut(const QKeyEvent& event);
    // The list the control sits in, which takes the focus and the right clicks the control passes on.
    static QWidget* responderOf(QWidget* control);

signals:
    // The edit has ended: the owner commits or drops the text now.
    void editingEnded();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // Puts `replacement` over the selection when the delegate lets it; answers whether it did.
    bool replaceSelection(const QString& replacement);
    // Ctrl+V pastes the clipboard, the middle button the selection.
    void paste(QClipboard::Mode mode);
    // Hands the focus to the list, which ends the edit.
    void endEditing();
    void textDidEndEditing();
    void showLook(bool editing);

    EditingTextDelegate* delegate_ = nullptr;
    LineEditEditableText editableText_;
    InputMethodComposition composition_;
    std::optional<QString> originalText_;
    bool isEditing_ = false;
    bool isPasted_ = false;
    bool isTypedWord_ = false;
    bool isInEdit_ = false;
    // Handed over to the field a reload opens; its focus-out ends nothing.
    bool handedOver_ = false;
    // What a field closed by a reload had reached, taken on when this field's edit begins.
    struct Carried {
        int selectionStart;
        int selectionLength;
        int cursor;
        bool isEditing;
        bool isPasted;
        bool isTypedWord;
        // The same places in a text of `now` units instead of `before`.
        Carried fittedTo(int before, int now) const;
    };
    std::optional<Carried> carried_;
    Carried liveState() const;
    // Counts the starts of edits, so that a start's delayed select-all is not done over a carried edit.
    int editStarts_ = 0;
    void takeOnCarried();
};
