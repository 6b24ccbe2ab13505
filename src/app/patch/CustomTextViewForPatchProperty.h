#pragma once

#include <QPlainTextEdit>

#include "app/controls/InputMethodComposition.h"
#include "app/controls/PlainTextEditEditableText.h"

class EditingTextDelegate;

// The comment view of the patch property sheet. It handles Ctrl+C, Ctrl+V and Ctrl+A itself. A paste
// (Ctrl+V, the middle button, the menu) and a drop are put to the delegate's rule first and, taken or
// not, the delegate hears that the text may have changed. F2 focuses it, every other change of its
// text (typing, an input method's commit) is put to the delegate before it is made, and its selection
// collapses once the focus moves on in its window (another window taking the keys leaves it be).
class CustomTextViewForPatchProperty final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CustomTextViewForPatchProperty(QWidget* parent = nullptr);

    void setDelegate(EditingTextDelegate* delegate);
    EditingTextDelegate* delegate() const { return delegate_; }
    // The view's text as the text rules see it.
    EditableText& editableText() { return editableText_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void paste(const QString& pasted);
    void collapseSelection();

    EditingTextDelegate* delegate_ = nullptr;
    PlainTextEditEditableText editableText_;
    InputMethodComposition composition_;
};
