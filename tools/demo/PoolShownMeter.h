#pragma once

#include <QObject>

#include <chrono>
#include <string>

class QTimer;

// When the large pool shows, measured from inside the run: the moment its load began (its working folder
// "Temp/Local" appears in the data folder), the moment its tree is in the patch screen, and
// the moment its marks and warnings are (the last patch of the last group holds its effect list, which the
// unit's judgement sets with the mark and the warning of every patch at once). Each is told on standard
// output as it comes, in milliseconds after the program began, and the last also after the load began.
class PoolShownMeter : public QObject {
public:
    PoolShownMeter(std::chrono::steady_clock::time_point started, std::string dataFolder, QObject* parent);

private:
    void poll();

    std::chrono::steady_clock::time_point m_started;
    std::string m_workingFolder;
    double m_loadMs = -1;
    double m_treeMs = -1;
    QTimer* m_timer;
};
