#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class EffectItem;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The sheet of one effect's properties: its name, category, version, use count and comment, which it
// only shows. OK (or Return) runs the dismiss action. Made without an effect it keeps its own texts. A use
// count not known (the unit's patch list is still being read) shows as "-", never as a false 0.
class EffectPropertyViewController final : public QWidget {
    Q_OBJECT
public:
    explicit EffectPropertyViewController(std::shared_ptr<EffectItem> effectItem, bool isUsedTimesKnown = true,
                                          QWidget* parent = nullptr);
    ~EffectPropertyViewController() override;

    const std::shared_ptr<EffectItem>& effectItem() const { return effectItem_; }
    void setDismissActionBlock(std::function<void()> block) { dismissActionBlock_ = std::move(block); }
    void okButtonClick();

    QPushButton* okButton() const { return okButton_; }
    QLabel* effectNameLabel() const { return effectNameLabel_; }
    QLabel* effectCategoryLabel() const { return effectCategoryLabel_; }
    QLabel* effectVersionLabel() const { return effectVersionLabel_; }
    QLabel* effectNameTextLabel() const { return effectNameTextLabel_; }
    QLabel* effectCategoryTextLabel() const { return effectCategoryTextLabel_; }
    QLabel* effectVersionTextLabel() const { return effectVersionTextLabel_; }
    QLabel* effectUsedTimesLabel() const { return effectUsedTimesLabel_; }
    QPlainTextEdit* effectCommentTextView() const { return effectCommentTextView_; }

private:
    void viewDidLoad();

    std::shared_ptr<EffectItem> effectItem_;
    bool isUsedTimesKnown_;
    std::function<void()> dismissActionBlock_;
    QPushButton* okButton_;
    QLabel* effectNameLabel_;
    QLabel* effectCategoryLabel_;
    QLabel* effectVersionLabel_;
    QLabel* effectNameTextLabel_;
    QLabel* effectCategoryTextLabel_;
    QLabel* effectVersionTextLabel_;
    QLabel* effectUsedTimesLabel_;
    QPlainTextEdit* effectCommentTextView_;
};
