#include "robot/robot.h"

#include "exchange/address.h"
#include "io/files.h"
#include "link/dialogs.h"
#include "rules/banentry.h"
#include "settings/textfile.h"
#include "text/clock.h"
#include "text/cp1250.h"
#include "text/timeformat.h"
#include "text/version.h"

#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>

#include <cstdlib>

namespace vigilor {

namespace {

QString withSeparator(const QString& folder)
{
    return folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + u'/';
}

} // namespace

Robot::Robot(const QString& programFolder, Clock& clock, Dialogs& dialogs, QObject* parent)
    : QObject(parent), m_programFolder(withSeparator(programFolder)), m_clock(clock),
      m_dialogs(dialogs), m_console(clock, this), m_consoleLog(m_console),
      m_record(m_programFolder, clock,
               [this](const QString& text) { m_console.consoleLine(text); }),
      m_roster(m_settings, this, this), m_link(m_settings, m_console, clock, dialogs, this, this),
      m_intake(m_console, m_consoleLog, m_roster, clock,
               [this](const QDate& date) { return logFileNameFor(date); }),
      m_serverInfo([this](const QString& command) { m_link.enqueueCommand(command); }),
      m_broadcaster(m_settings, m_link, clock, this, this),
      m_rules(m_settings, m_link, m_console, clock, dialogs,
              [this](const QString& text) { m_broadcaster.sayPublic(text); }),
      m_interpreter(m_settings, m_link, m_console, m_broadcaster, this, this),
      m_search(m_console, this), m_store(m_settings, withSeparator(programFolder)),
      m_weapons(m_link), m_clientConfig(m_settings, m_link),
      m_launcher(m_settings, m_console, m_programFolder),
      m_scheduler(m_settings, clock, this, withSeparator(programFolder), this), m_transfers(this),
      m_exchange{
          m_settings, m_store, dialogs, *this, m_console, m_transfers, m_store.filePath(QString())},
      m_importer(m_exchange)
{
    m_link.setSayPublic([this](const QString& text) { m_broadcaster.sayPublic(text); });
    // The disconnect hands the client configuration to the server once more ("Alkalmaz").
    m_link.setLastCommands([this] { m_clientConfig.apply(); });
    m_rules.menu().setRoster(&m_roster);
    m_rules.context().setRecord(&m_record);
    m_link.setDatagramHandler(
        [this](const QByteArray& datagram) { m_intake.handleDatagram(datagram); });
    link::ReplyIntake::Hooks hooks;
    hooks.channelReply = [this](const QString& reply) { m_interpreter.runChannelCommand(reply); };
    hooks.rosterReplaced = [this] {
        m_serverInfo.statusReply(m_roster.text().value(0));
        m_rules.rosterReplaced();
    };
    // Read only while a front end shows the server's facts: other robots decode nothing more.
    hooks.consoleReply = [this](const QByteArray& datagram) {
        if (m_serverInfo.watching())
            m_serverInfo.consoleReply(text::fromCp1250(datagram));
    };
    hooks.runChecks = [this] { return m_rules.runChecks(m_roster.text()); };
    hooks.midnight = [this] { m_rules.midnight(); };
    hooks.saveSettings = [this] { m_store.save(); };
    hooks.handled = [this] { emit m_link.queueChanged(); };
    m_intake.setHooks(std::move(hooks));
    // Checks that waited at a timed step end the handling of their datagram.
    connect(&m_rules, &rules::Rules::checksEnded, this,
            [this](bool completed) noexcept { m_intake.checksEnded(completed); });

    channel::Interpreter::Hooks channelHooks;
    channelHooks.addBanEntry = [this](const QString& text, int code) {
        m_rules.banList().add(text, code);
        emit m_rules.menu().banFormReset();
    };
    channelHooks.loadSettings = [this] {
        // What the same command changed before the reload (the ban of "ban overload") is saved
        // first, so that the reload keeps it. The reload keeps the link the command came
        // through: dropping it would lose the queue and the reset, and the next connection
        // would read the same command and go offline again.
        m_store.save();
        const QScopedValueRollback keep(m_keepLinkUp, true);
        m_store.load();
    };
    channelHooks.saveSettings = [this] { m_store.save(); };
    m_interpreter.setHooks(std::move(channelHooks));

    settings::SettingsStore::Hooks storeHooks;
    storeHooks.showMainWindow = [this] { emit showWindowRequested(); };
    // Whatever the connect does, the load goes on to its end: a failure of the connect is the
    // connect's own (it says so and tries again), never a settings file that did not load.
    storeHooks.connectAction = [this] {
        guarded(this, [this] {
            if (!(m_keepLinkUp && m_link.isConnected()))
                m_link.connectAction();
        });
    };
    storeHooks.disconnectIfConnected = [this](std::function<void()> then) {
        m_link.stopConnecting(true);
        if (!m_link.isConnected()) {
            then();
            return;
        }
        m_link.connectAction();
        // The event loop runs once more after the disconnect, before the file goes: a save an
        // event asks for writes what the reset replaces right after.
        afterDisconnect(std::move(then));
    };
    storeHooks.confirmReset = [this](const QString& text, std::function<void(bool)> answered) {
        m_dialogs.warningQuestion(text, [this, answered = std::move(answered)](bool yes) {
            guarded(this, [&] { answered(yes); });
        });
    };
    storeHooks.reportError = [this](const std::exception& e) { reportError(e); };
    storeHooks.banListLoaded = [this] {
        m_rules.banList().sortAsLoaded();
        const QStringList malformed = rules::malformedEntries(m_settings.banList());
        if (!malformed.isEmpty())
            m_console.consoleLine(
                QStringLiteral("bans.txt: a kód és szóköz nélküli sorokat a robot figyelmen "
                               "kívül hagyja: ") +
                malformed.join(QStringLiteral(" | ")));
    };
    storeHooks.consoleLine = [this](const QString& line) { m_console.consoleLine(line); };
    m_store.setHooks(std::move(storeHooks));

    connect(&m_link, &link::Link::connectedChanged, &m_serverInfo, [this](bool connected) {
        guarded(this, [&] { m_serverInfo.connectedChanged(connected); });
    });
    m_scheduler.setActions(schedulerActions());
    // The tasks run at every start wait for the first connection of the run.
    connect(&m_link, &link::Link::linkControlsUpdated, this, [this](bool connected) {
        guarded(this, [this, connected] {
            if (connected)
                m_scheduler.runStartTasksOnce();
        });
    });
}

Robot::~Robot() = default;

void Robot::afterDisconnect(std::function<void()> next)
{
    const auto post = [this, next = std::move(next)] {
        QMetaObject::invokeMethod(
            this, [this, next] { guarded(this, next); }, Qt::QueuedConnection);
    };
    if (m_link.isDisconnecting())
        connect(
            &m_link, &link::Link::disconnectFinished, this, [this, post] { guarded(this, post); },
            Qt::SingleShotConnection);
    else
        post();
}

QString Robot::logFileNameFor(const QDate& date) const
{
    return m_programFolder + QStringLiteral("logs/console (") + text::shortDate(date) +
           QStringLiteral(").log");
}

bool Robot::startUp()
{
    const bool firstStart = !QFileInfo::exists(filePath(QStringLiteral("vigilor.ini")));

    // A save that a kill or a power cut interrupted may have left its new content beside the
    // file under a temporary name; the file itself holds its previous content.
    const QStringList leftovers =
        io::removeLeftovers(m_programFolder, settings::SettingsStore::writtenFiles()
                                                 << scheduler::Scheduler::kStandardFile
                                                 << exchange::kListFileName
                                                 << record::ActRecord::kFileName) +
        io::removeLeftovers(filePath(QStringLiteral("logs")), {QStringLiteral("console (*).log")});

    int logsError = 0;
    const QString logs = filePath(QStringLiteral("logs"));
    if (!QFileInfo(logs).isDir())
        logsError = io::makeFolder(logs);
    m_intake.setLogFileName(logFileNameFor(m_clock.now().date()));

    if (QFileInfo::exists(m_intake.logFileName())) {
        guarded(this, [this] { m_consoleLog.load(m_intake.logFileName(), m_console); });
    }
    m_record.load();
    if (logsError != 0)
        m_console.consoleLine(QStringLiteral("vigilor indítási hiba #") +
                              QString::number(logsError));
    else
        m_console.consoleLine(QStringLiteral("vigilor sikeresen elindult"));
    m_console.consoleLine(QStringLiteral("Program verzió: ") + kProgramCaption);
    for (const QString& path : leftovers)
        m_console.consoleLine(QStringLiteral("Félbeszakadt mentés maradéka törölve: ") + path);
    guarded(this, [this] { m_scheduler.loadStandardFile(); });
    return firstStart;
}

scheduler::Scheduler::Actions Robot::schedulerActions()
{
    scheduler::Scheduler::Actions tasks; // the beep is the front end's
    tasks.sayPublic = [this](const QString& text) { m_broadcaster.sayPublic(text); };
    tasks.enqueueCommand = [this](const QString& command) { m_link.enqueueCommand(command); };
    tasks.restart = [this] {
        m_interpreter.runChannelCommand(
            channel::Interpreter::madeUpAnswer(QStringLiteral("restart")));
    };
    tasks.consoleLine = [this](const QString& line) { m_console.consoleLine(line); };
    tasks.whyNotSent = [this](scheduler::Kind kind) {
        if (!m_link.isConnected())
            return QStringLiteral("nincs kapcsolat a szerverrel");
        if (kind == scheduler::Kind::Message && !m_settings.flag(Key::EventNotify))
            return QStringLiteral("a \"Vigilor beírhat közösbe\" ki van kapcsolva");
        return QString();
    };
    return tasks;
}

void Robot::saveSettings()
{
    m_store.save();
}

void Robot::loadSettings()
{
    m_store.load();
}

void Robot::loadSettingsAtStart()
{
    // Settings that did not load must not go unnoticed behind the notification-area icon.
    const auto failed = [this](const std::exception& e) {
        reportError(e);
        emit showWindowRequested();
        m_dialogs.message(
            QStringLiteral("A beállítások betöltése nem sikerült:\n\r") + errorText(e) +
            QStringLiteral("\n\r\n\rAmi nem töltődött be, annak az alapértéke érvényes. A be nem "
                           "olvasott fájlokat a program felülírás előtt \".bak\" végű "
                           "másolatként megtartja."));
    };
    guarded([this] { m_store.load(); }, failed);
}

void Robot::loadSettingsNow()
{
    guarded(this, [this] { m_store.load(); });
}

void Robot::clearBanList()
{
    m_rules.clearBanList(filePath(settings::SettingsStore::kBansFile), this);
}

void Robot::resetSettings()
{
    guarded(this, [this] { m_store.reset(); });
}

void Robot::saveNow()
{
    guarded(this, [this] {
        m_consoleLog.save(m_intake.logFileName());
        saveSettings();
    });
}

void Robot::close()
{
    if (m_closed)
        return;
    m_closed = true;
    // Checks that wait at a timed step end where they are: nothing of theirs is queued, and the
    // log saved below is the last one.
    m_rules.stopChecks();
    m_intake.dropWaiting();
    guarded(this, [this] { m_consoleLog.save(m_intake.logFileName()); });
    guarded(this, [this] { saveSettings(); });
    guarded(this, [this] {
        m_link.stopConnecting(false);
        if (m_link.isConnected())
            m_link.connectAction();
    });
    // The program ends once the disconnect's last commands went out; the front end's event
    // loop runs meanwhile.
    if (m_link.isDisconnecting())
        connect(
            &m_link, &link::Link::disconnectFinished, this,
            [this]() noexcept { emit quitRequested(); }, Qt::SingleShotConnection);
    else
        emit quitRequested();
}

void Robot::finishClosing()
{
    m_link.finishDisconnectNow();
}

void Robot::endOfSession()
{
    guarded(this, [this] { saveSettings(); });
    close();
}

void Robot::forceStop()
{
    std::_Exit(kForcedStopExitCode);
}

void Robot::reportError(const std::exception& error)
{
    m_console.consoleLine(errorText(error) + QStringLiteral("\n\r"));
    // A list read past its end leaves the roster and the queue in doubt: start the link afresh
    // and ask for a new roster. Socket errors never lead here, a reconnect would not help.
    const bool indexError = dynamic_cast<const IndexError*>(&error) != nullptr ||
                            dynamic_cast<const std::out_of_range*>(&error) != nullptr;
    if (!indexError || m_recovering)
        return;
    m_recovering = true;
    const auto written = [this](const std::exception& again) {
        m_console.consoleLine(errorText(again));
    };
    bool reconnectPending = false;
    guarded(
        [&] {
            m_link.connectAction();
            // Between the disconnect and the connect the event loop runs: timers and the window
            // (nothing is sent, the link is down); an error raised there is written, and starts
            // no second recovery while this one waits.
            afterDisconnect([this, written] {
                guarded(
                    [this] {
                        m_link.connectAction();
                        m_link.enqueueCommand(QStringLiteral("status"));
                    },
                    written);
                m_recovering = false;
            });
            reconnectPending = true;
        },
        written);
    if (!reconnectPending)
        m_recovering = false;
}

} // namespace vigilor
