#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main/MainWindowChrome.h"
#include "app/main/MainWindowLogic.h"
#include "app/main/OptionMenuState.h"
#include "app/main/QueueMainDialogs.h"
#include "app/shell/MainWindowController.h"

class AppDelegate;
class EffectScreen;
class HelpOpener;
class MainCoordinator;
class MemoryLevelIndicator;
class PatchScreen;
class QAction;
class QLabel;
class QMenu;
class QVBoxLayout;
class ShowDeviceIconImageView;
class ShowingDialogQueue;
class UserInputHold;

// The main window's content: header (title, device picture, memory gauge, synchronisation and
// lost-server icons), the two screen tabs and the eject button, the screen shown, the footer, the
// menus and the two interface timers. Its decisions are MainWindowLogic's; this class only draws
// them and turns clicks, menu choices, timer ticks and window events into calls on it. Main thread.
class QFXMainController final : public QObject,
                                public MainWindowLogic,
                                public MainWindowController,
                                private MainWindowChrome {
    Q_OBJECT
public:
    static constexpr int kServerCheckInterval = 5000;  // ms
    static constexpr int kSyncAnimationInterval = 100;  // ms

    struct Collaborators {
        AppDelegate& appDelegate;
        MainCoordinator& coordinator;
        ShowingDialogQueue& dialogQueue;
        HelpOpener& opener;
        std::unique_ptr<EffectScreen> effectManager;
        std::unique_ptr<PatchScreen> patchManager;
        std::filesystem::path optionPath;
        std::string version;
        std::string resourcesDirectory;
        std::string language;
        std::string historyUrlEn;
        std::string historyUrlJp;
        // The effect screen's update sheet, made when the first update notice shows.
        QueueMainDialogs::EffectUpdateSheetFactory makeEffectUpdateSheet;
        // Where the options file is written; empty: on the main thread.
        OptionMenuState::Writer writeOptions;
    };

    explicit QFXMainController(Collaborators collaborators);
    ~QFXMainController() override;

    // ---- MainWindowController ----
    QWidget* view() override { return view_; }
    QWidget* viewForIndicator() override { return viewForIndicator_; }
    int state() const override { return MainWindowLogic::state(); }
    void setReloadBufferDataTimer() override { MainWindowLogic::setReloadBufferDataTimer(); }
    std::optional<std::string> saveDataBeforeClosing() override { return MainWindowLogic::saveDataBeforeClosing(); }
    void saveDataLater() override { MainWindowLogic::saveDataLater(); }
    void showClosingSave() override { MainWindowLogic::showClosingSave(); }
    void closingSaveEnded() override { MainWindowLogic::closingSaveEnded(); }
    void noteQuitAsked() override { MainWindowLogic::noteQuitAsked(); }
    void refuseUnitEdits() override { MainWindowLogic::signalEndAsked(); }
    std::vector<std::shared_ptr<PatchItem>> getPatchItemsInPatchList() const override
    {
        return MainWindowLogic::getPatchItemsInPatchList();
    }
    bool isPatchListLoaded() const override { return MainWindowLogic::isPatchListLoaded(); }
    void reloadEffectListIfNeeded() override { MainWindowLogic::reloadEffectListIfNeeded(); }
    void ejectDevice() override { MainWindowLogic::ejectDevice(); }
    std::string deviceName() const override { return MainWindowLogic::deviceName(); }

    EffectScreen& effectManager() { return *effectManager_; }
    PatchScreen& patchManager() { return *patchManager_; }
    QAction* menuAction(MenuAction action) const { return actions_.value(static_cast<int>(action)); }
    // The two option items, checked while their option is on.
    QAction* appUpdateMenuItem() const { return menuAction(MenuAction::InformUpdatingApplication); }
    QAction* deviceUpdateMenuItem() const { return menuAction(MenuAction::InformUpdatingDevice); }
    QMenu* controlMenu() const { return controlMenu_; }
    QMenu* helpMenu() const { return helpMenu_; }
    QLabel* appTittle() const { return appTittle_; }
    QLabel* serverSyncIcon() const { return serverSyncIcon_; }
    QLabel* deviceSyncIcon() const { return deviceSyncIcon_; }
    QLabel* lostingServerConnectionImageView() const { return lostingServerConnectionImageView_; }
    QLabel* memoryCurrentPercentLabel() const { return memoryCurrentPercentLabel_; }
    QLabel* memoryUnitDesctiptionLabel() const { return memoryUnitDesctiptionLabel_; }
    MemoryLevelIndicator* memoryLevelIndicator() const { return memoryLevelIndicator_; }
    QPushButton* ejectButton() const { return ejectButton_; }
    QLabel* deviceWorkLabel() const { return deviceWorkLabel_; }
    QPushButton* effectManagerButton() const override { return effectManagerButton_; }
    QPushButton* patchManagerButton() const { return patchManagerButton_; }
    QWidget* appVersionWindow() const { return appVersionWindow_; }
    QWidget* appLicenseWindow() const { return appLicenseWindow_; }
    // An information window's size: its content's, wide enough for its title beside the title bar's
    // buttons, and never beyond the screen's room.
    static QSize infoWindowSize(const QSize& content, int titleWidth, const QRect& available);
    QTimer& checkConnectionStatusTimer() { return checkConnectionStatusTimer_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildView();
    void buildMenus();
    QAction* addMenuAction(QMenu* menu, const QString& title, MenuAction action);
    void showInfoWindow(QPointer<QWidget>& window, const std::string& titleKey, QWidget* content);

    // ---- MainWindowChrome ----
    void setTitle(const std::string& title) override;
    void setTabPictures(int state) override;
    void showScreen(int state) override;
    void setDeviceImage(const QImage& image) override;
    void setDeviceProperty(const std::string& name, const std::string& version) override;
    void showDeviceProperty() override;
    void setMemory(unsigned value, bool figureVisible) override;
    void setServerSyncIconVisible(bool visible) override;
    void setDeviceSyncIconVisible(bool visible) override;
    void setDeviceWorkText(const std::string& text) override;
    void setLostServerIconVisible(bool visible) override;
    void setSyncIconFrame(std::size_t frame) override;
    void setCheckMarks(bool applicationUpdate, bool deviceUpdate) override;
    void showVersionWindow() override;
    void showLicenseWindow() override;
    void refreshMenus() override;
    void holdUserInput(bool held) override;
    void terminate() override;
    void endTextEditing() override;

    AppDelegate& appDelegate_;
    std::unique_ptr<EffectScreen> effectManager_;
    std::unique_ptr<PatchScreen> patchManager_;
    OptionMenuState options_;
    QueueMainDialogs dialogs_;
    std::string version_;
    std::string resourcesDirectory_;
    std::vector<QImage> syncIconImages_;
    QTimer checkConnectionStatusTimer_;
    QTimer syncAnimationIconTimer_;

    QPointer<QWidget> view_;  // the main window takes it over
    QWidget* appContentView_ = nullptr;
    QVBoxLayout* contentLayout_ = nullptr;
    QLabel* appTittle_ = nullptr;
    ShowDeviceIconImageView* deviceIconImageView_ = nullptr;
    MemoryLevelIndicator* memoryLevelIndicator_ = nullptr;
    QLabel* memoryCurrentPercentLabel_ = nullptr;
    QLabel* memoryUnitDesctiptionLabel_ = nullptr;
    QLabel* serverSyncIcon_ = nullptr;
    QLabel* deviceSyncIcon_ = nullptr;
    QLabel* lostingServerConnectionImageView_ = nullptr;
    QLabel* footerImageView_ = nullptr;
    QPushButton* effectManagerButton_ = nullptr;
    QPushButton* patchManagerButton_ = nullptr;
    QPushButton* ejectButton_ = nullptr;
    QString ejectTitle_;
    QLabel* deviceWorkLabel_ = nullptr;
    // The busy line as the window's decisions wrote it, before it is broken to the label's width.
    QString deviceWorkLine_;
    void layDeviceWorkLine();
    QWidget* viewForIndicator_ = nullptr;
    QMenu* controlMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QHash<int, QAction*> actions_;
    QPointer<QWidget> appVersionWindow_;
    QPointer<QWidget> appLicenseWindow_;
    QPointer<QWidget> watchedWindow_;
    std::unique_ptr<UserInputHold> inputHold_;
};
