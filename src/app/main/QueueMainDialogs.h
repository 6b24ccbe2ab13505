#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

#include "app/main/MainDialogs.h"

class EffectUpdateSheet;
class ShowingDialogQueue;

// The main window's sheets on the dialog queue, with the texts of the interface language.
class QueueMainDialogs final : public MainDialogs {
public:
    // Makes the effect screen's update sheet; the sheet goes with its view.
    using EffectUpdateSheetFactory = std::function<EffectUpdateSheet*()>;

    QueueMainDialogs(ShowingDialogQueue& dialogQueue, QWidget* window) : dialogQueue_(dialogQueue), window_(window) {}

    void setWindow(QWidget* window) { window_ = window; }
    ShowingDialogQueue& dialogQueue() const { return dialogQueue_; }
    void showInformation(const std::string& key, const std::optional<std::string>& argument = {},
                         Action completion = {}) override;
    void clearAllDialog() override;
    void setEffectUpdateSheetFactory(EffectUpdateSheetFactory factory) { makeEffectUpdateSheet_ = std::move(factory); }
    // Queues the update sheet, made once and filled with the whole list each time it shows.
    void showEffectUpdateSheet(const std::vector<UpdatedEffect>& updatedEffectItems) override;
    void showDuplicatingFileNameAlert(const std::string& fileName, Action keepBoth, Action replace,
                                      Action unanswered) override;

    // The localised text of `key`, used as a format with `argument` when one is given.
    static QString textOf(const std::string& key, const std::optional<std::string>& argument = {});

private:
    ShowingDialogQueue& dialogQueue_;
    QPointer<QWidget> window_;
    EffectUpdateSheetFactory makeEffectUpdateSheet_;
    // The sheet lives as long as its view, which the sheet window may delete.
    EffectUpdateSheet* updatedEffectView_ = nullptr;
    QPointer<QWidget> updatedEffectViewContent_;
};
