#pragma once

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <map>
#include <memory>

class EffectItem;

// The icon conversions of the effect list (the controller's queueTaskProgram): at most 30 at once, each
// over its own copy of the grey icon. The result is stored on its item on the main thread, then
// announced; an item asked for again while its conversion runs is not queued twice, and one whose icon
// cannot be converted is not tried again.
class EffectIconQueue final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConcurrentOperations = 30;

    explicit EffectIconQueue(QObject* parent = nullptr);
    ~EffectIconQueue() override;

    void convert(const std::shared_ptr<EffectItem>& item);
    int maxThreadCount() const { return pool_.maxThreadCount(); }
    // Waits for the running conversions (their results still arrive through the event loop).
    void waitForDone() { pool_.waitForDone(); }

signals:
    void iconConverted(std::shared_ptr<EffectItem> item);

private:
    QThreadPool pool_;
    // By owner, so a freed item's address taken by a new one never counts as seen.
    std::map<std::weak_ptr<EffectItem>, bool, std::owner_less<std::weak_ptr<EffectItem>>> seen_;
};
