#include "DemoMeter.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr auto kInterval = std::chrono::milliseconds(2);

double millisecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

DemoMeter* DemoMeter::s_running = nullptr;

DemoMeter::DemoMeter(std::chrono::steady_clock::time_point started, QObject* parent)
    : QObject(parent), m_started(started), m_last(std::chrono::steady_clock::now()), m_timer(new QTimer(this))
{
    s_running = this;
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
    m_timer->start(kInterval);
}

DemoMeter::~DemoMeter()
{
    if (s_running == this) s_running = nullptr;
    std::fprintf(stderr, "demo: first window after %.1f ms; longest main-loop stall %.1f ms; peak resident %.1f MB\n",
                 m_firstWindowMs, m_longestStallMs, peakResidentMb());
}

void DemoMeter::tick()
{
    const auto now = std::chrono::steady_clock::now();
    // Until the window shows, the loop is still starting up: the wait for it is the first number.
    if (m_firstWindowMs < 0) {
        // The splash, then the main window: whichever shows first is what the user waits for.
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible()) m_firstWindowMs = millisecondsBetween(m_started, now);
    } else {
        const double late = millisecondsBetween(m_last, now) - static_cast<double>(kInterval.count());
        if (late > m_longestStallMs) m_longestStallMs = late;
    }
    m_last = now;
}

void DemoMeter::ownWorkEnded()
{
    if (s_running != nullptr) s_running->m_last = std::chrono::steady_clock::now();
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
