#pragma once

#include <QObject>

#include <chrono>
#include <string>
#include <vector>

class QEvent;
class QTimer;

// What the user feels of a run, measured from inside it: how long after the program began its first window
// (the splash) showed, the main loop's longest stall (a 2 ms timer's worst lateness), and the peak resident memory.
// Beside the stall it tells how much of it the main thread spent running (the rest it waited: on the display
// server, or for a processor), and the most running time between two ticks, which is the program's own work
// in one stretch. Each action of the user (a press of a mouse button or of a key other than a modifier, and a
// drop, which ends a drag long after its press) is timed until its result is on the screen: to the end of the
// last repaint that follows it before the next action or a second without one, with the longest stall while it
// lasted, and the longest run of the main thread in it. Every stall past a frame (16 ms) is told as it ends. The start's own longest stall and run, up to the first
// action, are told apart. It reports on standard error as the program ends.
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Action {
        std::string input;
        double repaintedMs = -1;
        double longestStallMs = 0;
        double longestRunningMs = 0;  // the main thread's longest run between two ticks while it lasted
    };
    void tick();
    void startAction(const std::string& input, std::chrono::steady_clock::time_point now);
    void endAction();

    std::vector<Action> m_actions;
    bool m_actionOpen = false;
    bool m_paintSinceTick = false;
    std::chrono::steady_clock::time_point m_actionStarted;
    std::chrono::steady_clock::time_point m_lastRepaint;

    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_last;
    double m_lastRunningMs = 0;
    QTimer* m_timer;
    double m_firstWindowMs = -1;
    double m_longestStallMs = 0;
    double m_runningInLongestStallMs = 0;
    double m_longestRunningMs = 0;
    // The same two, up to the user's first action: the start on its own.
    double m_longestStallAtStartMs = 0;
    double m_longestRunningAtStartMs = 0;
    static DemoMeter* s_running;
};
