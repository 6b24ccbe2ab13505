#pragma once

#include <QInputMethodEvent>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

class EditableText;
class EditingTextDelegate;
class QLineEdit;
class QPlainTextEdit;

// One editor's input-method compositions. What a composition shows is cut, at a whole character, to the
// room the field's limit leaves: a composition of a megabyte held the interface for minutes, and no
// commit that long could be taken anyway. And as the editor removes its selection the moment a
// composition shows, the text it held then comes back when the composition ends with nothing taken.
class InputMethodComposition {
public:
    // The editor as an event of the input method finds it.
    struct Editor {
        QString text;
        int selectionStart = 0;
        int selectionLength = 0;
        int cursor = 0;
    };
    struct Outcome {
        // A commit stayed in the event the editor took.
        bool committed = false;
        // What the editor held when the composition began, to put back: it ended with nothing taken.
        std::optional<Editor> putBack;
    };

    // Puts `event`'s commit to its rule (`check`: whether a commit stays in the event), then hands the
    // event to the editor's own handling (`take`), its composition cut to the room `longest` UTF-16 units
    // leave; `textNow` reads the editor's text.
    Outcome handle(QInputMethodEvent& event, const Editor& before, std::size_t longest,
                   const std::function<bool(QInputMethodEvent&)>& check, const std::function<QString()>& textNow,
                   const std::function<void(QInputMethodEvent&)>& take);
    // The same with the rule of an editor's delegate.
    Outcome handle(QInputMethodEvent& event, const Editor& before, EditingTextDelegate* delegate, EditableText& editor,
                   const std::function<QString()>& textNow, const std::function<void(QInputMethodEvent&)>& take);

    static Editor stateOf(const QPlainTextEdit& editor);
    static Editor stateOf(const QLineEdit& editor);
    // The text and selection back as they were; the editor's delegate is not asked again.
    static void putBack(QPlainTextEdit& editor, const Editor& state);
    static void putBack(QLineEdit& editor, const Editor& state);

    // The UTF-16 units a composition may show in an editor holding `before` whose text may be `longest`
    // units long: the selection goes when the composition shows.
    static std::size_t roomFor(const Editor& before, std::size_t longest);
    // `event` with its composition cut to `room` UTF-16 units at a whole character and its attributes
    // kept inside what is left; null when it fits.
    static std::unique_ptr<QInputMethodEvent> bounded(const QInputMethodEvent& event, std::size_t room);

private:
    std::optional<Editor> began_;
    bool composing_ = false;
};
