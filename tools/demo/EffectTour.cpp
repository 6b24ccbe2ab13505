#include "EffectTour.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>

#include "DemoCatalogue.h"
#include "DemoUnit.h"
#include "app/controls/RightClickButton.h"
#include "app/dialogs/ConfirmationView.h"
#include "app/effect/EffectPropertyViewController.h"
#include "app/effect/EffectUpdateView.h"
#include "app/effect/OptionMenuForEffectViewController.h"

namespace {

// The first shown widget of the type in any window of the program.
template <typename Widget>
Widget* shown()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        for (Widget* widget : top->findChildren<Widget*>())
            if (widget->isVisible()) return widget;
    }
    return nullptr;
}

QTableView* effectList(QWidget& window) { return window.findChild<QTableView*>(QStringLiteral("EffectTable")); }

// The list row showing the effect; -1 when none does.
int rowOf(QTableView& table, const char* name)
{
    for (int row = 0; row < table.model()->rowCount(); ++row)
        if (table.model()->index(row, 1).data().toString() == QLatin1String(name)) return row;
    return -1;
}

void send(QWidget* target, QEvent::Type type, const QPoint& point, Qt::MouseButton button)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(point), target->mapToGlobal(QPointF(point)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

QModelIndex findPoolRow(const QAbstractItemModel& model, const QString& text, const QModelIndex& parent = {})
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        // A new effect's title carries its mark after the name.
        const QString title = index.data().toString();
        if (title == text || title.startsWith(text + QLatin1Char(' '))) return index;
        if (const QModelIndex found = findPoolRow(model, text, index); found.isValid()) return found;
    }
    return {};
}

}  // namespace

std::optional<bool> EffectTour::unitHoldsLoaded(DemoUnit& unit, const char* name)
{
    for (const DemoCatalogue::Effect& effect : DemoCatalogue::models().front().effects)
        if (effect.name == name) return unit.isEffectLoaded(effect.type);
    return std::nullopt;
}

bool EffectTour::updateNoticeShown() { return shown<EffectUpdateView>() != nullptr; }

void EffectTour::closeUpdateNotice(QWidget&)
{
    if (EffectUpdateView* notice = shown<EffectUpdateView>()) notice->okButton()->click();
}

void EffectTour::loadEffect(QWidget& window)
{
    auto* pool = window.findChild<QTreeView*>(QStringLiteral("EffectPool"));
    auto* load = window.findChild<QPushButton*>(QStringLiteral("savingToDeviceButton"));
    if (pool == nullptr || load == nullptr || pool->model() == nullptr) return;
    const QModelIndex effect = findPoolRow(*pool->model(), QLatin1String(kLoadedEffect));
    if (!effect.isValid()) return;
    if (!pool->isExpanded(effect.parent())) {
        send(pool->viewport(), QEvent::MouseButtonPress, pool->visualRect(effect.parent()).center(), Qt::LeftButton);
        send(pool->viewport(), QEvent::MouseButtonRelease, pool->visualRect(effect.parent()).center(), Qt::LeftButton);
    }
    const QPoint at = pool->visualRect(effect).center();
    send(pool->viewport(), QEvent::MouseButtonPress, at, Qt::LeftButton);
    send(pool->viewport(), QEvent::MouseButtonRelease, at, Qt::LeftButton);
    if (load->isEnabled()) load->click();
}

void EffectTour::openMenu(QWidget& window) { openMenuOf(window, kDeletedEffect); }

void EffectTour::openMenuOf(QWidget& window, const char* name)
{
    QTableView* table = effectList(window);
    const int row = table != nullptr ? rowOf(*table, name) : -1;
    if (row < 0) return;
    const QPoint at = table->visualRect(table->model()->index(row, 2)).center();
    send(table->viewport(), QEvent::MouseButtonPress, at, Qt::RightButton);
    send(table->viewport(), QEvent::MouseButtonRelease, at, Qt::RightButton);
}

bool EffectTour::menuShown() { return shown<OptionMenuForEffectViewController>() != nullptr; }

void EffectTour::askToDelete(QWidget&)
{
    if (auto* menu = shown<OptionMenuForEffectViewController>()) menu->deletingOrRecoveryButton()->click();
}

void EffectTour::clickFavourite(QWidget&)
{
    if (auto* menu = shown<OptionMenuForEffectViewController>()) menu->favoriteButton()->click();
}

bool EffectTour::deleteQuestionShown() { return shown<ConfirmationView>() != nullptr; }

void EffectTour::confirmDelete(QWidget&)
{
    if (ConfirmationView* question = shown<ConfirmationView>()) question->firstButton()->click();
}

void EffectTour::showProperties(QWidget& window)
{
    QTableView* table = effectList(window);
    const int row = table != nullptr ? rowOf(*table, kShownEffect) : -1;
    if (row < 0) return;
    const QPoint at = table->visualRect(table->model()->index(row, 2)).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                    QEvent::MouseButtonRelease})
        send(table->viewport(), type, at, Qt::LeftButton);
}

bool EffectTour::propertiesShown() { return shown<EffectPropertyViewController>() != nullptr; }

void EffectTour::closeProperties(QWidget&)
{
    if (auto* sheet = shown<EffectPropertyViewController>()) sheet->okButton()->click();
}
