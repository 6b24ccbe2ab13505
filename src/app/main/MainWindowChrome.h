#pragma once

#include <QImage>

#include <string>

// The header and footer of the main window as the controller's decisions drive them.
class MainWindowChrome {
public:
    virtual ~MainWindowChrome() = default;

    virtual void setTitle(const std::string& title) = 0;
    // Tab pictures and footer for a window state; the screen of that state into the content area.
    virtual void setTabPictures(int state) = 0;
    virtual void showScreen(int state) = 0;
    // A null image clears the picture (then scaled proportionally down); otherwise scaled to fill.
    virtual void setDeviceImage(const QImage& image) = 0;
    virtual void setDeviceProperty(const std::string& name, const std::string& version) = 0;
    virtual void showDeviceProperty() = 0;
    virtual void setMemory(unsigned value, bool figureVisible) = 0;
    virtual void setServerSyncIconVisible(bool visible) = 0;
    virtual void setDeviceSyncIconVisible(bool visible) = 0;
    // The line naming what the unit is busy with; an empty text hides it.
    virtual void setDeviceWorkText(const std::string& text) = 0;
    virtual void setLostServerIconVisible(bool visible) = 0;
    virtual void setSyncIconFrame(std::size_t frame) = 0;
    virtual void setCheckMarks(bool applicationUpdate, bool deviceUpdate) = 0;
    virtual void showVersionWindow() = 0;
    virtual void showLicenseWindow() = 0;
    // The menus' enabled states are computed again.
    virtual void refreshMenus() = 0;
    // While held, no press of a key or a mouse button and no drop reaches any window: nothing new can
    // start, and the windows still paint.
    virtual void holdUserInput(bool /*held*/) {}
    virtual void terminate() = 0;
};
