#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

// Turns the signals that end a desktop session or a terminal run (SIGTERM at logout or shutdown, SIGHUP
// when the terminal goes, SIGINT from Ctrl-C) into a call on the main thread, so the program ends through its
// termination routine (the device let go, the patch library saved) rather than being cut off. The
// handler only writes a byte to a socket that the main loop watches. One instance at a time; the
// signals' earlier handlers come back when it goes.
class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Whether the handlers are in place (a socket pair could be made).
    bool isInstalled() const { return notifier_ != nullptr; }

private:
    static void handle(int signal);
    void drain();

    std::function<void()> onSignal_;
    int sockets_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};
