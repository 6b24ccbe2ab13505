#include "PoolShownMeter.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <sys/stat.h>

#include <cstdio>
#include <utility>

#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

PoolShownMeter::PoolShownMeter(std::chrono::steady_clock::time_point started, std::string dataFolder, QObject* parent)
    : QObject(parent), m_started(started), m_workingFolder(std::move(dataFolder) + "/Temp/Local"), m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &PoolShownMeter::poll);
    m_timer->start(2);
}

void PoolShownMeter::poll()
{
    const double now = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_started).count();
    struct stat info;
    if (m_loadMs < 0 && ::stat(m_workingFolder.c_str(), &info) == 0) {
        m_loadMs = now;
        std::printf("demo: the pool's load begins %.0f ms after the start\n", now);
        std::fflush(stdout);
    }
    PatchManagerViewController* screen = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* pool = top->findChild<PatchPoolOutlineView*>()) {
            screen = dynamic_cast<PatchManagerViewController*>(pool->backUpDelegate());
            if (screen != nullptr) break;
        }
    }
    if (screen == nullptr) return;
    // The last group with patches: every judgement of the whole pool reaches it last or with the rest.
    const PatchItem* last = nullptr;
    const auto& tree = screen->structureData();
    for (auto node = tree.rbegin(); node != tree.rend() && last == nullptr; ++node)
        if (*node && (*node)->isGroup && !(*node)->childDirectories.empty()) last = (*node)->childDirectories.back()->patchItem();
    if (last == nullptr) return;
    if (m_treeMs < 0) {
        m_treeMs = now;
        std::printf("demo: the pool's tree shows %.0f ms after the start\n", now);
        std::fflush(stdout);
    }
    if (last->effectDictionnary.empty()) return;
    m_timer->stop();
    std::printf("demo: the pool's marks and warnings show %.0f ms after the start, %.0f ms after its load began\n", now,
                m_loadMs < 0 ? -1.0 : now - m_loadMs);
    std::fflush(stdout);
}
