#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <string>

// How a second start reaches the copy of the program that holds the data folder: the holder listens on
// a local socket named after the folder (in the abstract namespace, so nothing is left on disk and a
// crashed holder leaves no stale name), and a second start knocks on it to have the first window raised.
// Main thread.
class RunningInstance final : public QObject {
    Q_OBJECT
public:
    // Listens for knocks for `folder`; each one calls `raise` on the main loop. Without the socket the
    // program runs on; a knock then simply finds nobody.
    RunningInstance(const std::string& folder, std::function<void()> raise);
    ~RunningInstance() override;

    bool listening() const { return listener_ >= 0; }
    // A second start's knock; answers whether a holder took it.
    static bool knock(const std::string& folder);
    // The socket's name for a folder: the program's name and a digest of the folder's path.
    static std::string socketName(const std::string& folder);

private:
    void accept();

    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> raise_;
};
