#include "app/QtMainExecutor.h"

#include "common/HandOff.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <chrono>

QtMainExecutor::QtMainExecutor(QObject* context) : m_context(context), m_thread(std::this_thread::get_id()) {}

void QtMainExecutor::post(platform::Task task)
{
    QMetaObject::invokeMethod(m_context, handoff::carried(std::move(task)), Qt::QueuedConnection);
}

void QtMainExecutor::postAfter(platform::Duration delay, platform::Task task)
{
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
    auto* context = m_context;
    // QTimer must be started from the thread that owns the context, so hop there first.
    post([context, ms, task = std::move(task)]() mutable {
        QTimer::singleShot(static_cast<int>(ms < 0 ? 0 : ms), context, std::move(task));
    });
}

bool QtMainExecutor::isMainThread() const { return std::this_thread::get_id() == m_thread; }
