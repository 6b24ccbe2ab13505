#include "app/effect/EffectIconQueue.h"

#include <QPointer>

#include "app/effect/EffectIconConversion.h"
#include "common/HandOff.h"
#include "library/models/EffectItem.h"

EffectIconQueue::EffectIconQueue(QObject* parent) : QObject(parent)
{
    pool_.setMaxThreadCount(kMaxConcurrentOperations);
}

EffectIconQueue::~EffectIconQueue()
{
    pool_.clear();
    pool_.waitForDone();
}

void EffectIconQueue::convert(const std::shared_ptr<EffectItem>& item)
{
    if (!item || item->effectDisplayedIcon || !item->effectIcon) return;
    if (!seen_.emplace(item, true).second) return;
    pool_.start(handoff::carried([this, icon = *item->effectIcon, weak = std::weak_ptr<EffectItem>(item)] {
        auto converted = EffectIconConversion::displayedIconFromIcon(icon);
        // The queue outlives its running conversions (its end waits for them), and the call below is
        // dropped if the queue is gone before the event loop gets to it.
        QMetaObject::invokeMethod(
            this,
            handoff::carried([this, weak, converted = std::move(converted)] {
                const auto item = weak.lock();
                if (!item || !converted) return;
                item->effectDisplayedIcon = converted;
                emit iconConverted(item);
            }),
            Qt::QueuedConnection);
    }));
}
