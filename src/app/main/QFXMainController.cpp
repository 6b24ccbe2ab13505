#include "app/main/QFXMainController.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "app/dialogs/DevicePropertyViewController.h"
#include "app/dialogs/ShowDeviceIconImageView.h"
#include "app/main/BusyLineBreaks.h"
#include "app/main/QueueMainDialogs.h"
#include "app/main/UserInputHold.h"
#include "app/screens/EffectScreen.h"
#include "app/screens/PatchScreen.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/AppLifecycle.h"
#include "app/views/ApplicationVersionView.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/LicenseView.h"
#include "app/views/MemoryLevelIndicator.h"
#include "app/views/NamedImages.h"
#include "app/views/ProcessingView.h"

namespace {

// Quit's key. The Command key becomes Ctrl: Ctrl+Q whatever the desktop's theme binds to its own Quit (a
// theme may bind none), on the menu and on a sheet alike.
const QKeySequence kQuitKey(Qt::CTRL | Qt::Key_Q);

QPixmap pixmapNamed(const char* name) { return QPixmap::fromImage(NamedImages::image(QString::fromLatin1(name))); }

QLabel* iconLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFixedSize(20, 20);
    label->setScaledContents(true);
    label->hide();
    return label;
}

}  // namespace

QFXMainController::QFXMainController(Collaborators collaborators)
    : appDelegate_(collaborators.appDelegate),
      effectManager_(std::move(collaborators.effectManager)),
      patchManager_(std::move(collaborators.patchManager)),
      options_(std::move(collaborators.optionPath), std::move(collaborators.writeOptions)),
      dialogs_(collaborators.dialogQueue, nullptr),
      version_(std::move(collaborators.version)),
      resourcesDirectory_(collaborators.resourcesDirectory)
{
    dialogs_.setEffectUpdateSheetFactory(std::move(collaborators.makeEffectUpdateSheet));
    for (int number = 1; number <= 18; ++number) {
        const QImage frame = NamedImages::image(ProcessingView::frameName(number));
        if (!frame.isNull()) syncIconImages_.push_back(frame);
    }
    buildView();
    buildMenus();
    // The window's close, resize and menus are watched once the view sits in a window.
    view_->installEventFilter(this);
    // A sheet blocks the window and so its Quit key: that key pressed on the sheet is heard here.
    qApp->installEventFilter(this);

    awakeFromNib(Parts{appDelegate_, collaborators.coordinator, dialogs_, *this, *effectManager_, *patchManager_,
                       options_, collaborators.opener, this,
                       [this](std::function<void()> work) {
                           QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
                       },
                       collaborators.resourcesDirectory, collaborators.language, collaborators.historyUrlEn,
                       collaborators.historyUrlJp, syncIconImages_.size()});

    checkConnectionStatusTimer_.setInterval(kServerCheckInterval);
    connect(&checkConnectionStatusTimer_, &QTimer::timeout, this, [this] { checkConnectionToServer(); });
    checkConnectionStatusTimer_.start();
    syncAnimationIconTimer_.setInterval(kSyncAnimationInterval);
    connect(&syncAnimationIconTimer_, &QTimer::timeout, this, [this] { animateSyncIcon(); });
    syncAnimationIconTimer_.start();
    windowDidResize();
}

QFXMainController::~QFXMainController()
{
    qApp->removeEventFilter(this);
    checkConnectionStatusTimer_.stop();
    syncAnimationIconTimer_.stop();
    delete appVersionWindow_;
    delete appLicenseWindow_;
    if (view_) {
        // The screens own their views; only the window's share goes with the window.
        view_->removeEventFilter(this);
        if (effectManager_->view()) effectManager_->view()->setParent(nullptr);
        if (patchManager_->view()) patchManager_->view()->setParent(nullptr);
        delete view_;
    }
    if (watchedWindow_) watchedWindow_->removeEventFilter(this);
}

void QFXMainController::buildView()
{
    view_ = new QWidget;
    view_->setObjectName(QStringLiteral("QFXMainController"));
    auto* layout = new QVBoxLayout(view_);

    auto* header = new QHBoxLayout;
    deviceIconImageView_ = new ShowDeviceIconImageView(dialogs_.dialogQueue(), view_);
    deviceIconImageView_->setFixedSize(96, 64);
    appTittle_ = new QLabel(QString::fromLatin1(kApplicationName), view_);
    QFont titleFont = appTittle_->font();
    titleFont.setPointSize(18);
    titleFont.setBold(true);
    appTittle_->setFont(titleFont);
    memoryLevelIndicator_ = new MemoryLevelIndicator(view_);
    memoryLevelIndicator_->setFixedWidth(160);
    memoryCurrentPercentLabel_ = new QLabel(view_);
    memoryUnitDesctiptionLabel_ = new QLabel(InterfaceTexts::localizedString("Main_MemoryUsed"), view_);
    memoryCurrentPercentLabel_->hide();
    memoryUnitDesctiptionLabel_->hide();
    serverSyncIcon_ = iconLabel(view_);
    serverSyncIcon_->setToolTip(InterfaceTexts::localizedString("Main_ServerSyncTip"));
    deviceSyncIcon_ = iconLabel(view_);
    deviceSyncIcon_->setToolTip(InterfaceTexts::localizedString("Main_DeviceSyncTip"));
    lostingServerConnectionImageView_ = iconLabel(view_);
    header->addWidget(deviceIconImageView_);
    header->addWidget(appTittle_, 1);
    header->addWidget(serverSyncIcon_);
    header->addWidget(deviceSyncIcon_);
    header->addWidget(lostingServerConnectionImageView_);
    header->addSpacing(12);
    header->addWidget(memoryLevelIndicator_);
    // The figure and its unit read as "31 % used": one space between them, not the layout's gap.
    auto* memoryFigure = new QHBoxLayout;
    memoryFigure->setSpacing(memoryUnitDesctiptionLabel_->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
    memoryFigure->addWidget(memoryCurrentPercentLabel_);
    memoryFigure->addWidget(memoryUnitDesctiptionLabel_);
    header->addLayout(memoryFigure);
    layout->addLayout(header);

    auto* tabs = new QHBoxLayout;
    effectManagerButton_ = new QPushButton(view_);
    patchManagerButton_ = new QPushButton(view_);
    // Named so that scripted runs (the demo's tour) can find the tabs, which show pictures, not text.
    effectManagerButton_->setObjectName(QStringLiteral("effectManagerButton"));
    patchManagerButton_->setObjectName(QStringLiteral("patchManagerButton"));
    for (QPushButton* tab : {effectManagerButton_, patchManagerButton_}) {
        tab->setFlat(true);
        tab->setIconSize(QSize(150, 34));
        tab->setFocusPolicy(Qt::NoFocus);
    }
    ejectButton_ = new QPushButton(InterfaceTexts::localizedString("Main_Eject"), view_);
    ejectButton_->setObjectName(QStringLiteral("ejectButton"));
    ejectTitle_ = ejectButton_->text();
    ejectButton_->setEnabled(false);
    // Enabled: a raised light face with dark text; disabled: flat, its title faint, so the two differ
    // at a glance on the light header.
    ejectButton_->setStyleSheet(QStringLiteral(
        "QPushButton { color: #1a1a1a; background: #fafafa; border: 1px solid #7a7a7a; border-radius: 4px;"
        " padding: 4px 14px; }"
        "QPushButton:pressed { background: #d8d8d8; }"
        "QPushButton:disabled { color: #8c8c8c; background: transparent; border: 1px dashed #b4b4b4; }"));
    ejectButton_->setFocusPolicy(Qt::NoFocus);
    tabs->addWidget(effectManagerButton_);
    tabs->addWidget(patchManagerButton_);
    // Holds the tabs left and Eject right while no busy line shows; the line, stretched, takes all of it.
    tabs->addStretch(0);
    // What the unit is busy with, beside the eject that waits for it.
    deviceWorkLabel_ = new QLabel(view_);
    deviceWorkLabel_->setObjectName(QStringLiteral("deviceWorkLabel"));
    deviceWorkLabel_->setStyleSheet(QStringLiteral("QLabel { color: #1a1a1a; font-weight: bold; }"));
    // The line takes all the room between the tabs and the Eject button; a long one (the unit's work, a
    // waiting eject and the pool's copies) breaks onto a second line only where `BusyLineBreaks` allows,
    // laid again as the room changes.
    deviceWorkLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    deviceWorkLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    deviceWorkLabel_->setMinimumWidth(0);
    deviceWorkLabel_->hide();
    deviceWorkLabel_->installEventFilter(this);
    tabs->addWidget(deviceWorkLabel_, 1);
    tabs->addSpacing(12);
    tabs->addWidget(ejectButton_);
    layout->addLayout(tabs);
    connect(effectManagerButton_, &QPushButton::clicked, this, [this] { effectManagerButtonClicked(); });
    connect(patchManagerButton_, &QPushButton::clicked, this, [this] { patchManagerButtonClicked(); });
    connect(ejectButton_, &QPushButton::clicked, this, [this] { MainWindowLogic::disconnectDevice(); });

    appContentView_ = new QWidget(view_);
    contentLayout_ = new QVBoxLayout(appContentView_);
    contentLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(appContentView_, 1);
    footerImageView_ = new QLabel(view_);
    footerImageView_->setFixedHeight(6);
    footerImageView_->setScaledContents(true);
    layout->addWidget(footerImageView_);

    // The processing view covers the window at termination only.
    viewForIndicator_ = new QWidget(view_);
    auto* processing = new ProcessingView(viewForIndicator_);
    auto* indicatorLayout = new QVBoxLayout(viewForIndicator_);
    indicatorLayout->addWidget(processing, 0, Qt::AlignCenter);
    viewForIndicator_->hide();
}

QAction* QFXMainController::addMenuAction(QMenu* menu, const QString& title, MenuAction action)
{
    QAction* item = menu->addAction(title);
    actions_.insert(static_cast<int>(action), item);
    connect(item, &QAction::triggered, this, [this, action] { performMenuAction(action); });
    return item;
}

void QFXMainController::buildMenus()
{
    auto* menuBar = new QMenuBar(view_);
    static_cast<QVBoxLayout*>(view_->layout())->setMenuBar(menuBar);
    controlMenu_ = menuBar->addMenu(InterfaceTexts::localizedString("Main_MenuControl"));
    addMenuAction(controlMenu_, InterfaceTexts::localizedString("Main_MenuConnect"), MenuAction::ConnectDevice);
    addMenuAction(controlMenu_, InterfaceTexts::localizedString("Main_MenuDisconnect"), MenuAction::DisconnectDevice);
    addMenuAction(controlMenu_, InterfaceTexts::localizedString("Main_MenuDeviceInformation"), MenuAction::DeviceInformation);
    controlMenu_->addSeparator();
    addMenuAction(controlMenu_, InterfaceTexts::localizedString("Main_MenuUndo"), MenuAction::Undo)->setShortcut(QKeySequence::Undo);
    controlMenu_->addSeparator();
    addMenuAction(controlMenu_, InterfaceTexts::localizedString("Main_MenuInformApplicationUpdates"), MenuAction::InformUpdatingApplication)
        ->setCheckable(true);
    addMenuAction(controlMenu_, InterfaceTexts::localizedString("Main_MenuInformDeviceUpdates"), MenuAction::InformUpdatingDevice)
        ->setCheckable(true);
    controlMenu_->addSeparator();
    addMenuAction(controlMenu_, InterfaceTexts::localizedString("Main_MenuQuit"), MenuAction::Quit)->setShortcut(kQuitKey);
    helpMenu_ = menuBar->addMenu(InterfaceTexts::localizedString("Main_MenuHelp"));
    addMenuAction(helpMenu_, InterfaceTexts::localizedString("Main_MenuVersion"), MenuAction::Version);
    addMenuAction(helpMenu_, InterfaceTexts::localizedString("Main_MenuLicence"), MenuAction::License);
    addMenuAction(helpMenu_, InterfaceTexts::localizedString("Main_MenuReferenceGuide"), MenuAction::Manual);
    addMenuAction(helpMenu_, InterfaceTexts::localizedString("Main_MenuVersionUpdateHistory"), MenuAction::VersionUpdateHistory);
    for (QMenu* menu : {controlMenu_, helpMenu_}) {
        // Opening a menu leaves the text being typed open: its Undo undoes what came before the typing,
        // and the items that need the typing ended (Quit, Disconnect) end it themselves.
        connect(menu, &QMenu::aboutToShow, this, &QFXMainController::refreshMenus);
    }
}

bool QFXMainController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == deviceWorkLabel_ && event->type() == QEvent::Resize) layDeviceWorkLine();
    // Ctrl+Q on a sheet is kept until the sheet is answered, not dropped for the user to press again. A
    // popover or a menu open takes the keys from the window's shortcuts: it closes, and the program quits.
    if (event->type() == QEvent::KeyPress && QKeySequence(static_cast<QKeyEvent*>(event)->keyCombination()) == kQuitKey &&
        (appDelegate_.isShowingDialog() || QApplication::activePopupWidget() != nullptr)) {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        performMenuAction(MenuAction::Quit);
        return true;
    }
    if (watched == view_) {
        if (event->type() == QEvent::Resize) viewForIndicator_->setGeometry(view_->rect());
        if ((event->type() == QEvent::Show || event->type() == QEvent::ParentChange) && view_->window() != view_ &&
            view_->window() != watchedWindow_) {
            if (watchedWindow_) watchedWindow_->removeEventFilter(this);
            watchedWindow_ = view_->window();
            watchedWindow_->installEventFilter(this);
            dialogs_.setWindow(watchedWindow_);
        }
    } else if (watched == watchedWindow_) {
        if (event->type() == QEvent::Close) {
            // The window never closes by itself: closing quits through the coordinator.
            event->ignore();
            windowShouldClose();
            return true;
        }
        if (event->type() == QEvent::Resize) windowDidResize();
        // A sheet coming or going changes what the menus offer; their keys work without the menu shown. Judged
        // on the next turn: a sheet also goes as the window itself is taken down.
        if (event->type() == QEvent::WindowBlocked || event->type() == QEvent::WindowUnblocked) {
            QMetaObject::invokeMethod(this, [this] {
                if (!view_) return;
                refreshMenus();
                sheetsMayHaveEnded();
            }, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---- chrome ----

void QFXMainController::setTitle(const std::string& title) { appTittle_->setText(QString::fromStdString(title)); }

void QFXMainController::setTabPictures(int state)
{
    if (state != kStateEffect && state != kStatePatch && state != kStateNone) return;
    const bool patch = state == kStatePatch;
    effectManagerButton_->setIcon(pixmapNamed(patch ? "effect_default_state_icon" : "effect_focused_state_icon"));
    patchManagerButton_->setIcon(pixmapNamed(patch ? "patch_focused_state_icon" : "patch_default_state_icon"));
    footerImageView_->setPixmap(pixmapNamed(patch ? "patch_footer" : "effect_footer"));
}

void QFXMainController::showScreen(int state)
{
    QWidget* target = state == kStatePatch ? patchManager_->view() : effectManager_->view();
    QWidget* other = state == kStatePatch ? effectManager_->view() : patchManager_->view();
    if (other) {
        contentLayout_->removeWidget(other);
        other->hide();
        other->setParent(nullptr);
    }
    if (target) {
        contentLayout_->addWidget(target);
        target->show();
    }
}

void QFXMainController::setDeviceImage(const QImage& image)
{
    deviceIconImageView_->setScaledContents(!image.isNull());
    deviceIconImageView_->setPixmap(QPixmap::fromImage(image));
}

void QFXMainController::setDeviceProperty(const std::string& name, const std::string& version)
{
    deviceIconImageView_->setDeviceName(QString::fromStdString(name));
    deviceIconImageView_->setDeviceVersion(QString::fromStdString(version));
}

void QFXMainController::showDeviceProperty() { deviceIconImageView_->showDeviceProperty(); }

void QFXMainController::setMemory(unsigned value, bool figureVisible)
{
    memoryCurrentPercentLabel_->setVisible(figureVisible);
    memoryUnitDesctiptionLabel_->setVisible(figureVisible);
    memoryCurrentPercentLabel_->setText(QString::number(value));
    memoryLevelIndicator_->setValue(value);
}

void QFXMainController::setServerSyncIconVisible(bool visible) { serverSyncIcon_->setVisible(visible); }

void QFXMainController::setDeviceSyncIconVisible(bool visible) { deviceSyncIcon_->setVisible(visible); }

void QFXMainController::setDeviceWorkText(const std::string& text)
{
    deviceWorkLine_ = QString::fromStdString(text);
    // Read aloud (and by scripted runs) as one line, whatever breaks it shows with.
    deviceWorkLabel_->setAccessibleName(deviceWorkLine_);
    layDeviceWorkLine();
    deviceWorkLabel_->setVisible(!text.empty());
}

void QFXMainController::layDeviceWorkLine()
{
    const QFontMetrics metrics = deviceWorkLabel_->fontMetrics();
    const QString laid = BusyLineBreaks::lay(deviceWorkLine_, deviceWorkLabel_->contentsRect().width(),
                                             [&metrics](const QString& line) { return metrics.horizontalAdvance(line); });
    if (laid != deviceWorkLabel_->text()) deviceWorkLabel_->setText(laid);
}

void QFXMainController::setLostServerIconVisible(bool visible)
{
    lostingServerConnectionImageView_->setPixmap(visible ? pixmapNamed("ban-icon") : QPixmap());
    lostingServerConnectionImageView_->setVisible(visible);
}

void QFXMainController::setSyncIconFrame(std::size_t frame)
{
    if (frame >= syncIconImages_.size()) return;
    const QPixmap picture = QPixmap::fromImage(syncIconImages_[frame]);
    serverSyncIcon_->setPixmap(picture);
    deviceSyncIcon_->setPixmap(picture);
}

void QFXMainController::setCheckMarks(bool applicationUpdate, bool deviceUpdate)
{
    appUpdateMenuItem()->setChecked(applicationUpdate);
    deviceUpdateMenuItem()->setChecked(deviceUpdate);
}

void QFXMainController::showInfoWindow(QPointer<QWidget>& window, const std::string& titleKey, QWidget* content)
{
    if (!window) {
        window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        window->setWindowTitle(QueueMainDialogs::textOf(titleKey));
        new QVBoxLayout(window);
        window->layout()->setContentsMargins(0, 0, 0, 0);
    }
    // Each opening shows a new view in the same window.
    while (QLayoutItem* old = window->layout()->takeAt(0)) {
        delete old->widget();
        delete old;
    }
    window->layout()->addWidget(content);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    QFont titleFont = window->font();
    titleFont.setBold(true);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(window->windowTitle());
    window->resize(infoWindowSize(content->sizeHint(), titleWidth, available));
    window->move(available.center() - window->rect().center());
    window->show();
    window->raise();
    window->activateWindow();
}

QSize QFXMainController::infoWindowSize(const QSize& content, int titleWidth, const QRect& available)
{
    // The title bar's icon and buttons beside the title; the window keeps a margin of the screen free.
    constexpr int kTitleBarExtras = 160;
    constexpr int kScreenMargin = 40;
    const QSize wanted(std::max(content.width(), titleWidth + kTitleBarExtras), content.height());
    return wanted.boundedTo(available.size() - QSize(kScreenMargin, kScreenMargin) * 2);
}

void QFXMainController::showVersionWindow()
{
    showInfoWindow(appVersionWindow_, "Main_VersionViewHeader", new ApplicationVersionView(version_));
}

void QFXMainController::showLicenseWindow()
{
    showInfoWindow(appLicenseWindow_, "Main_LicenseViewHeader", new LicenseView(resourcesDirectory_));
}

void QFXMainController::refreshMenus()
{
    for (auto it = actions_.cbegin(); it != actions_.cend(); ++it)
        it.value()->setEnabled(validateMenuItem(static_cast<MenuAction>(it.key())));
    // The button follows the Disconnect item, and says so while an eject waits its turn.
    ejectButton_->setEnabled(validateMenuItem(MenuAction::DisconnectDevice));
    ejectButton_->setText(isEjectWaiting() ? QueueMainDialogs::textOf("Main_EjectWaiting") : ejectTitle_);
}

void QFXMainController::endTextEditing()
{
    // The screens end their edits themselves: a move of the keys ends nothing in a window that does not
    // have them (another window is active as a pager or the session closes this one).
    if (patchManager_) patchManager_->endTextEditing();
    // Anything else being edited ends as on a click beside it.
    if (!view_) return;
    QWidget* focus = view_->window()->focusWidget();
    if (focus && focus != view_) view_->setFocus(Qt::OtherFocusReason);
}

void QFXMainController::holdUserInput(bool held)
{
    if (!held) inputHold_.reset();
    else if (!inputHold_) inputHold_ = std::make_unique<UserInputHold>();
}

void QFXMainController::terminate()
{
    // Not a quit that asks the windows: a sheet still waiting in the queue would refuse it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            dialogs_.clearAllDialog();
            AppLifecycle::terminate();
        },
        Qt::QueuedConnection);
}
