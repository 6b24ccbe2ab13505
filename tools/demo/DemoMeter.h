#pragma once

#include <QObject>

#include <chrono>

class QTimer;

// What the user feels of a run, measured from inside it: how long after the program began its first window
// (the splash) showed, the main loop's longest stall (a 2 ms timer's worst lateness), and the peak resident memory.
// It reports on standard error as the program ends.
class DemoMeter : public QObject {
public:
    // `started` is the moment the process began its work.
    DemoMeter(std::chrono::steady_clock::time_point started, QObject* parent);
    ~DemoMeter() override;

    double firstWindowMs() const { return m_firstWindowMs; }
    double longestStallMs() const { return m_longestStallMs; }
    // The demo's own work on the main loop (a picture of the window) has just ended: the loop's wait for it
    // is not the program's stall, so the meter counts from now on. Does nothing while no meter runs.
    static void ownWorkEnded();
    // The process's peak resident memory in MB, from /proc; 0 where it cannot be read.
    static double peakResidentMb();

private:
    void tick();

    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_last;
    QTimer* m_timer;
    double m_firstWindowMs = -1;
    double m_longestStallMs = 0;
    static DemoMeter* s_running;
};
