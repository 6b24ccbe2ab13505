#pragma once

#include <QPointer>
#include <QWidget>

#include "app/main/MainDialogs.h"

class ShowingDialogQueue;

// The main window's sheets on the dialog queue, with the texts of the interface language.
class QueueMainDialogs final : public MainDialogs {
public:
    QueueMainDialogs(ShowingDialogQueue& dialogQueue, QWidget* window) : dialogQueue_(dialogQueue), window_(window) {}

    void setWindow(QWidget* window) { window_ = window; }
    ShowingDialogQueue& dialogQueue() const { return dialogQueue_; }
    void showInformation(const std::string& key, const std::optional<std::string>& argument = {},
                         Action completion = {}) override;
    void clearAllDialog() override;
    // Until the effect screen's own update sheet lands, the updates are listed as one message.
    void showEffectUpdateSheet(const std::vector<UpdatedEffect>& updatedEffectItems) override;
    void showDuplicatingFileNameAlert(const std::string& fileName, Action keepBoth, Action replace) override;

    // The localised text of `key`, used as a format with `argument` when one is given.
    static QString textOf(const std::string& key, const std::optional<std::string>& argument = {});

private:
    ShowingDialogQueue& dialogQueue_;
    QPointer<QWidget> window_;
};
