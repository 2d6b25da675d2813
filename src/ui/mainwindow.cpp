#include "ui/mainwindow.h"

#include "link/dialogs.h"
#include "platform/taskbar.h"
#include "robot/robot.h"
#include "text/version.h"
#include "ui/banstab.h"
#include "ui/clientconfigtab.h"
#include "ui/consoletab.h"
#include "ui/guard.h"
#include "ui/helptexts.h"
#include "ui/linkbar.h"
#include "ui/maprotationdialog.h"
#include "ui/publicbandialog.h"
#include "ui/rostertab.h"
#include "ui/schedulerwindow.h"
#include "ui/searchtab.h"
#include "ui/settingstab.h"
#include "ui/trayicon.h"
#include "ui/weaponstab.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>
#include <QSessionManager>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

constexpr QSize kInitialSize(784, 495);

} // namespace

MainWindow::MainWindow(Robot& robot, QWidget* parent)
    : QMainWindow(parent), m_robot(robot), m_link(robot.link()), m_roster(robot.roster()),
      m_dialogs(robot.dialogs()), m_tabs(new QTabWidget(this)),
      m_tray(new TrayIcon(robot.link(), robot.console(), robot.launcher(), &robot, this))
{
    setObjectName(u"Form1"_s);
    setWindowTitle(kProgramCaption);
    setWindowIcon(m_tray->icon());

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        new LinkBar(robot.settings(), robot.link(), robot.launcher(), &robot, central));
    layout->addWidget(m_tabs, 1);
    setCentralWidget(central);
    buildTabs();
    buildRobotMenu();
    buildHelpMenu();
    buildMapRotationItem();
    buildSchedulerItem();

    resize(kInitialSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, kInitialSize,
                                        screen->availableGeometry()));

    connect(&m_link, &link::Link::consoleTabRequested, this,
            guard(&robot, [this] { showTab(Tab::Console); }));
    connect(m_tray, &TrayIcon::openRequested, this, guard(&robot, [this] { showAndRestore(); }));
    connect(m_tray, &TrayIcon::exitRequested, this, guard(&robot, [this] { close(); }));
#if QT_CONFIG(sessionmanager)
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            guard(&robot, [this] { m_robot.endOfSession(); }));
#endif
    m_tray->show();
    platform::hideTaskbarButton(winId());
}

MainWindow::~MainWindow()
{
    m_roster.setWindowShowing(false);
}

void MainWindow::buildTabs()
{
    m_tabs->setObjectName(u"PageControl1"_s);
    const auto addTab = [this](QWidget* page, const QString& name, const QString& title) {
        page->setObjectName(name);
        m_tabs->addTab(page, title);
    };
    Robot& r = m_robot;
    const SettingsBinding bound{r.settings(), &r};
    rules::Rules& rules = r.rules();
    addTab(new SettingsTab(bound, r.importer(), r.dialogs()), u"TabSheet1"_s, u"Beállítások"_s);
    addTab(new ClientConfigTab(bound, r.clientConfig()), u"TabSheet7"_s, u"CFG eröltetés"_s);
    addTab(new RosterTab(r.roster(), rules.menu(), r.record(), &r), u"TabSheet2"_s, u"Lista"_s);
    addTab(new BansTab(bound, rules.banList(), rules.learning(), rules.menu(), r.record()),
           u"TabSheet3"_s, u"Banlista"_s);
    addTab(new WeaponsTab(r.weapons(), &r), u"TabSheet6"_s, u"Fegyverek"_s);
    addTab(new ConsoleTab(r.console(), r.link(), r.broadcaster(), r.interpreter(), r.record(), &r),
           u"TabSheet4"_s, u"Konzol"_s);
    addTab(new SearchTab(r.search(), &r), u"TabSheet5"_s, u"Keresés"_s);
    showTab(Tab::ClientConfig);
}

void MainWindow::buildRobotMenu()
{
    m_robotMenu = menuBar()->addMenu(u"[ !! Vigilor !! ]"_s);
    m_robotMenu->setObjectName(u"VigilorMenu"_s);

    // "[Nyilvános banlista]" stands right before this menu, whatever comes before it.
    m_publicBanItem = new QAction(u"[Nyilvános banlista]"_s, this);
    m_publicBanItem->setObjectName(u"PublicBan"_s);
    menuBar()->insertAction(m_robotMenu->menuAction(), m_publicBanItem);
    connect(m_publicBanItem, &QAction::triggered, this, guard(&m_robot, [this] {
                PublicBanDialog::openFrom(m_robot.exchangeServices(), m_dialogs, m_robot, this);
            }));
    const auto addItem = [this](const QString& name, const QString& caption, auto work) {
        QAction* item = m_robotMenu->addAction(caption);
        item->setObjectName(name);
        connect(item, &QAction::triggered, this, guard(&m_robot, work));
        return item;
    };
    addItem(u"SaveSettingsnow1"_s, u">> Beállítások mentése <<"_s, [this] { m_robot.saveNow(); });
    addItem(u"LoadSettingsnow1"_s, u">> Beállítások betöltése <<"_s,
            [this] { m_robot.loadSettingsNow(); });
    addItem(u"FRefresh"_s, u">> Lista frissítése MOST <<"_s, [this] { m_roster.refreshNow(); });
    addItem(u"DefaultSettings1"_s, u">> ALAPBEÁLLÍTÁSOK <<"_s, [this] { m_robot.resetSettings(); });
    addItem(u"ClearBanList1"_s, u">> Banlista törlése <<"_s, [this] { m_robot.clearBanList(); });
    addItem(u"KILLPROGRAM"_s, u">> [ ERŐSZAKOS LEÁLLÁS ] <<"_s, [] { Robot::forceStop(); });
    m_robotMenu->addSeparator();

    // The pacer starts at its own 600 ms although the 700 ms item is shown checked; the
    // interval changes only when an item is chosen.
    auto* pacing = new QActionGroup(this);
    const auto addPacing = [&](const QString& name, const QString& caption, int interval) {
        QAction* item =
            addItem(name, caption, [this, interval] { m_link.setPacerInterval(interval); });
        item->setCheckable(true);
        pacing->addAction(item);
        return item;
    };
    addPacing(u"N700ms1"_s, u"700ms-es parancsküldés"_s, 700)->setChecked(true);
    addPacing(u"N2100ms1"_s, u"2100ms-es parancsküldés"_s, 2100);
}

// "[mapRotation Generátor]" is the first item of the menu bar, whatever else it holds.
void MainWindow::buildMapRotationItem()
{
    auto* item = new QAction(u"[mapRotation Generátor]"_s, menuBar());
    item->setObjectName(u"MapRotation1"_s);
    const QList<QAction*> items = menuBar()->actions();
    menuBar()->insertAction(items.isEmpty() ? nullptr : items.constFirst(), item);
    connect(item, &QAction::triggered, this,
            guard(&m_robot, [this] { MapRotationDialog::run(m_link, &m_robot, this); }));
}

// "[ S.O.S ]": each help item shows one text in a message box.
void MainWindow::buildHelpMenu()
{
    QMenu* menu = menuBar()->addMenu(u"[ S.O.S ]"_s);
    menu->setObjectName(u"HelpMenu"_s);
    const auto addItem = [&](const QString& name, const QString& caption, auto work) {
        QAction* item = menu->addAction(caption);
        item->setObjectName(name);
        connect(item, &QAction::triggered, this, guard(&m_robot, work));
    };
    const auto show = [this](const QString& text) {
        return [this, text] { m_dialogs.message(text); };
    };
    addItem(u"ListenerHelp1"_s, u"[Parancs figyelő]"_s, show(channel::Interpreter::kHelpText));
    addItem(u"RconHelp1"_s, u"[RCON parancsok]"_s, show(help::rconCommands()));
    addItem(u"SearchTips1"_s, u"[Keresési tippek]"_s, show(link::ConsoleSearch::kTipsText));
    addItem(u"About1"_s, u"[Névjegy]"_s, show(help::about()));
    addItem(u"WebPage1"_s, u"[Weblap]"_s, [this] { help::openDocumentation(m_robot.console()); });
}

// "[Ütemező]" stands right before "[Nyilvános banlista]", or before "[ !! Vigilor !! ]" while
// there is no public ban list item. The scheduler window is made here, hidden, for the whole run.
void MainWindow::buildSchedulerItem()
{
    Robot& r = m_robot;
    m_scheduler = new SchedulerWindow(r.scheduler(), r.settings(), r.clock(), r.dialogs(),
                                      r.programFolder(), &r, this);
    QAction* before = m_publicBanItem ? m_publicBanItem : m_robotMenu->menuAction();
    auto* item = new QAction(u"[Ütemező]"_s, menuBar());
    item->setObjectName(u"Scheduler1"_s);
    menuBar()->insertAction(before, item);
    connect(item, &QAction::triggered, this, guard(&m_robot, [this] { m_scheduler->present(); }));
}

void MainWindow::presentAtStart(bool inIconArea)
{
    if (!inIconArea || !QSystemTrayIcon::isSystemTrayAvailable())
        show();
}

void MainWindow::showFirstStartMessage()
{
    m_dialogs.message(help::firstStart());
    showTab(Tab::Settings);
}

void MainWindow::showTab(Tab tab)
{
    m_tabs->setCurrentIndex(int(tab));
}

QWidget* MainWindow::page(Tab tab) const
{
    return m_tabs->widget(int(tab));
}

void MainWindow::showAndRestore()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

// The engine is told whether the window is on the screen whenever that may change; it holds
// nothing of the window.
void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    guarded(&m_robot, [this] {
        platform::hideTaskbarButton(winId());
        m_roster.setWindowShowing(isShowing(this));
    });
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    guarded(&m_robot, [this] { m_roster.setWindowShowing(isShowing(this)); });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The scheduler window still open closes with the program, as its close box would: what
    // was changed in it is written, while a window never opened leaves the task file alone.
    guarded(&m_robot, [this] {
        if (m_scheduler && m_scheduler->isVisible())
            m_scheduler->close();
    });
    // The program ends once the close's last commands went out (Robot::quitRequested); the
    // event loop runs on meanwhile, with the window and its icon gone.
    guarded(&m_robot, [this] { m_robot.close(); });
    event->accept();
    m_tray->hide();
}

// A minimised window leaves only the icon, when the desktop has a notification area to hold it.
void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    guarded(&m_robot, [this, event] {
        if (event->type() != QEvent::WindowStateChange)
            return;
        m_roster.setWindowShowing(isShowing(this));
        if (isMinimized() && QSystemTrayIcon::isSystemTrayAvailable())
            QTimer::singleShot(0, this, &QWidget::hide);
    });
}

} // namespace vigilor::ui
