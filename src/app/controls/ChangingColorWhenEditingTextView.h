#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <functional>
#include <optional>

#include "app/controls/InputMethodComposition.h"
#include "app/controls/PlainTextEditEditableText.h"

class EditingTextDelegate;

// The in-place editor of a comment, which may hold line breaks: white text on the list while idle,
// black on white while it has the focus. While edited it is the application delegate's edited text
// view and the main window's shortcuts are off; it has its own Ctrl+C, Ctrl+V and Escape, and every
// change of its text (typing, Ctrl+V, the middle button's paste, an input method's commit) is put to
// its delegate first, so a refused text never reaches the layout. It takes no drops. Its text sits centred in the
// first 45 points of its height, worked out once per edit.
class ChangingColorWhenEditingTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr qreal kMaximumCentringHeight = 45.0;

    explicit ChangingColorWhenEditingTextView(QWidget* parent = nullptr);
    ~ChangingColorWhenEditingTextView() override;

    void setDelegate(EditingTextDelegate* delegate);
    EditingTextDelegate* delegate() const { return delegate_; }
    EditableText& editableText() { return editableText_; }

    // Whether the view may be edited now; unset means it may.
    void setCanBeEdit(std::function<bool()> canBeEdit) { canBeEdit_ = std::move(canBeEdit); }
    const std::optional<QString>& originalText() const { return originalText_; }
    void setOriginalText(const std::optional<QString>& text) { originalText_ = text; }

    bool isEditing() const { return isEditing_; }
    bool isPasted() const { return isPasted_; }
    bool isTypedWord() const { return isTypedWord_; }
    bool isAlligned() const { return alligned_; }
    qreal verticalInset() const { return inset_; }

    // Back to the idle look and state.
    void clearTextView();
    // The text becomes the original text, when there is one.
    void revertTextViewString();

    // A reload of the list the view sits in closes it: the view lets its edit go without ending it
    // (nothing commits, nothing is told), so that the view the list opens again goes on with it.
    void handOverEdit();
    // Goes on with the edit of `closed`, a view of the same cell that a reload closed: its text as typed,
    // its selection, and what the edit has seen so far. The original stays this view's own.
    void continueEditOf(const ChangingColorWhenEditingTextView& closed);

    // The top inset that centres a text of `textHeight` in `height`, at most the first 45 points of it;
    // never negative.
    static qreal verticalInsetFor(qreal height, qreal textHeight);

signals:
    // The view has given up the focus and its edit: the owner commits or drops the text now.
    void editingEnded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // The wheel scrolls the list behind the comment, never the comment itself.
    void wheelEvent(QWheelEvent* event) override;
    // The middle button's paste comes this way.
    void insertFromMimeData(const QMimeData* source) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool mayBeEdited() const { return !canBeEdit_ || canBeEdit_(); }
    bool replaceSelection(const QString& replacement);
    void showLook(bool editing);
    void handFocusToList();

    EditingTextDelegate* delegate_ = nullptr;
    PlainTextEditEditableText editableText_;
    InputMethodComposition composition_;
    std::function<bool()> canBeEdit_;
    std::optional<QString> originalText_;
    bool alligned_ = false;
    bool isEditing_ = false;
    bool isPasted_ = false;
    bool isTypedWord_ = false;
    qreal inset_ = 0;
    // Handed over to the view a reload opens; its focus-out ends nothing.
    bool handedOver_ = false;
    // What a view closed by a reload had reached, taken on when this view's edit begins.
    struct Carried {
        int anchor;
        int position;
        bool isPasted;
        bool isTypedWord;
    };
    std::optional<Carried> carried_;
    void takeOnCarried();
};
