#include "DemoMeter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

namespace {

constexpr auto kInterval = std::chrono::milliseconds(2);
// An action without a repaint for this long has shown its result.
constexpr double kActionQuietMs = 1000;
// A stall longer than a frame at 60 frames a second is told as it happens.
constexpr double kFrameMs = 16;

double millisecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The calling thread's processor time so far.
double runningMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

DemoMeter* DemoMeter::s_running = nullptr;

DemoMeter::DemoMeter(std::chrono::steady_clock::time_point started, QObject* parent)
    : QObject(parent), m_started(started), m_last(std::chrono::steady_clock::now()), m_lastRunningMs(runningMs()),
      m_timer(new QTimer(this))
{
    s_running = this;
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
    m_timer->start(kInterval);
    qApp->installEventFilter(this);
}

DemoMeter::~DemoMeter()
{
    if (s_running == this) s_running = nullptr;
    endAction();
    for (std::size_t i = 0; i < m_actions.size(); ++i) {
        const Action& action = m_actions[i];
        if (action.repaintedMs < 0)
            std::fprintf(stderr, "demo: action %zu (%s) repainted nothing\n", i + 1, action.input.c_str());
        else
            std::fprintf(stderr,
                         "demo: action %zu (%s) repainted after %.1f ms; longest stall in it %.1f ms; longest run of "
                         "the main thread in it %.1f ms\n",
                         i + 1, action.input.c_str(), action.repaintedMs, action.longestStallMs,
                         action.longestRunningMs);
    }
    std::fprintf(stderr,
                 "demo: before the first action: longest main-loop stall %.1f ms; longest run of the main thread "
                 "between two ticks %.1f ms\n",
                 m_longestStallAtStartMs, m_longestRunningAtStartMs);
    std::fprintf(stderr,
                 "demo: first window after %.1f ms; longest main-loop stall %.1f ms (the main thread running %.1f ms "
                 "of the %.1f ms between its ticks); longest run of the main thread between two ticks %.1f ms; "
                 "peak resident %.1f MB\n",
                 m_firstWindowMs, m_longestStallMs, m_runningInLongestStallMs,
                 m_longestStallMs + static_cast<double>(kInterval.count()), m_longestRunningMs, peakResidentMb());
}

void DemoMeter::tick()
{
    const auto now = std::chrono::steady_clock::now();
    const double running = runningMs();
    // Until the window shows, the loop is still starting up: the wait for it is the first number.
    if (m_firstWindowMs < 0) {
        // The splash, then the main window: whichever shows first is what the user waits for.
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible()) m_firstWindowMs = millisecondsBetween(m_started, now);
    } else {
        const double late = millisecondsBetween(m_last, now) - static_cast<double>(kInterval.count());
        // Each stall a frame would see, with when it ended on the monotonic clock, so a profile recorded
        // on that clock (perf record -k CLOCK_MONOTONIC) can be cut to it.
        if (late > kFrameMs)
            std::fprintf(stderr, "demo: stall of %.1f ms (the main thread running %.1f ms) ended at %.6f s\n", late,
                         running - m_lastRunningMs, std::chrono::duration<double>(now.time_since_epoch()).count());
        if (late > m_longestStallMs) {
            m_longestStallMs = late;
            m_runningInLongestStallMs = running - m_lastRunningMs;
        }
        m_longestRunningMs = std::max(m_longestRunningMs, running - m_lastRunningMs);
        if (m_actions.empty()) {
            m_longestStallAtStartMs = std::max(m_longestStallAtStartMs, late);
            m_longestRunningAtStartMs = std::max(m_longestRunningAtStartMs, running - m_lastRunningMs);
        }
        if (m_actionOpen) {
            Action& action = m_actions.back();
            action.longestStallMs = std::max(action.longestStallMs, late);
            action.longestRunningMs = std::max(action.longestRunningMs, running - m_lastRunningMs);
            // The tick runs after the paint it follows: the repaint has ended by now.
            if (m_paintSinceTick) {
                m_lastRepaint = now;
                action.repaintedMs = millisecondsBetween(m_actionStarted, now);
            }
            const auto since = action.repaintedMs < 0 ? m_actionStarted : m_lastRepaint;
            if (millisecondsBetween(since, now) > kActionQuietMs) endAction();
        }
        m_paintSinceTick = false;
    }
    m_last = now;
    m_lastRunningMs = running;
}

bool DemoMeter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress: {
        if (!event->spontaneous() || !watched->isWidgetType()) break;
        // A modifier held for a chord or a Shift-click is not an action of its own.
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta) break;
        }
        // A key press reaches every widget on the way to its target: only the first one starts the action.
        const auto now = std::chrono::steady_clock::now();
        if (m_actionOpen && millisecondsBetween(m_actionStarted, now) < 1.0) break;
        endAction();
        std::string input = "mouse press";
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            input = "key " + QKeySequence(key->keyCombination()).toString().toStdString();
        }
        startAction(input, now);
        break;
    }
    // A drag's press is long past when it lands: the drop is the action the user waits on.
    // A drop the target's child passes on to it is the same drop.
    case QEvent::Drop: {
        const auto now = std::chrono::steady_clock::now();
        if (m_actionOpen && millisecondsBetween(m_actionStarted, now) < 1.0) break;
        endAction();
        startAction("drop", now);
        break;
    }
    case QEvent::Paint:
        if (m_actionOpen) m_paintSinceTick = true;
        break;
    default:
        break;
    }
    return false;
}

void DemoMeter::startAction(const std::string& input, std::chrono::steady_clock::time_point now)
{
    m_actions.push_back({input});
    m_actionOpen = true;
    m_actionStarted = now;
    m_paintSinceTick = false;
}

void DemoMeter::endAction() { m_actionOpen = false; }

void DemoMeter::ownWorkEnded()
{
    if (s_running == nullptr) return;
    s_running->m_last = std::chrono::steady_clock::now();
    s_running->m_lastRunningMs = runningMs();
}

double DemoMeter::peakResidentMb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}
