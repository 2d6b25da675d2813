#pragma once

#include "channel/broadcaster.h"
#include "channel/interpreter.h"
#include "exchange/importer.h"
#include "exchange/services.h"
#include "exchange/transfer.h"
#include "link/console.h"
#include "link/intake.h"
#include "link/link.h"
#include "link/search.h"
#include "record/actrecord.h"
#include "roster/roster.h"
#include "roster/serverinfo.h"
#include "rules/rules.h"
#include "scheduler/scheduler.h"
#include "settings/settings.h"
#include "settings/settingsstore.h"
#include "text/errors.h"
#include "tools/clientconfig.h"
#include "tools/launcher.h"
#include "tools/weapons.h"

#include <QDate>
#include <QObject>

#include <functional>

namespace vigilor {

class Clock;
class Dialogs;

// The engine assembled: owns the settings, the console and its log, the roster, the link and
// the reply intake for the whole run, wires them together, and carries the start-up and
// shutdown sequences and the application's one error handler. The accessors below are for
// composing front ends (the main window builds its tabs from them, web::Engine::of the web
// page's view) and for tests; each front-end part is given the few objects it works with and
// never sees the robot.
class Robot final : public QObject, public ErrorSink
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Robot)

public:
    // The forced stop's exit status: 32768 (hexadecimal 8000) where an exit status carries it
    // (Windows). A POSIX parent sees only the low 8 bits, and 32768 would read as 0, a clean
    // end, to a shell or a service manager; there it is 1, the plain failure status, which no
    // other end of the running program gives (0 is a normal end, 2 a wrong command line).
#ifdef Q_OS_WIN
    static constexpr int kForcedStopExitCode = 0x8000;
#else
    static constexpr int kForcedStopExitCode = 1;
#endif

    // programFolder ends with a separator; every data file is programFolder + a bare name.
    Robot(const QString& programFolder, Clock& clock, Dialogs& dialogs, QObject* parent = nullptr);
    ~Robot() override;

    Settings& settings()
    {
        return m_settings;
    }
    link::Console& console()
    {
        return m_console;
    }
    link::ConsoleLog& consoleLog()
    {
        return m_consoleLog;
    }
    // The record of acts (acts.log): the window, the web page and the rules write to it.
    record::ActRecord& record()
    {
        return m_record;
    }
    link::Link& link()
    {
        return m_link;
    }
    link::ReplyIntake& intake()
    {
        return m_intake;
    }
    roster::Roster& roster()
    {
        return m_roster;
    }
    roster::ServerInfo& serverInfo()
    {
        return m_serverInfo;
    }
    channel::Broadcaster& broadcaster()
    {
        return m_broadcaster;
    }
    channel::Interpreter& interpreter()
    {
        return m_interpreter;
    }
    rules::Rules& rules()
    {
        return m_rules;
    }
    link::ConsoleSearch& search()
    {
        return m_search;
    }
    tools::WeaponSwitches& weapons()
    {
        return m_weapons;
    }
    tools::ClientConfig& clientConfig()
    {
        return m_clientConfig;
    }
    tools::Launcher& launcher()
    {
        return m_launcher;
    }
    settings::SettingsStore& store()
    {
        return m_store;
    }
    scheduler::Scheduler& scheduler()
    {
        return m_scheduler;
    }
    // What the scheduler's tasks do on this robot: said, sent and refused as its own.
    scheduler::Scheduler::Actions schedulerActions();
    // The ban-list exchange: what the public ban list window needs, and the timed import.
    exchange::Services& exchangeServices()
    {
        return m_exchange;
    }
    exchange::TransferRunner& transfers()
    {
        return m_transfers;
    }
    exchange::Importer& importer()
    {
        return m_importer;
    }
    Clock& clock()
    {
        return m_clock;
    }
    Dialogs& dialogs()
    {
        return m_dialogs;
    }

    QString programFolder() const
    {
        return m_programFolder;
    }
    QString filePath(const QString& name) const
    {
        return m_programFolder + name;
    }
    QString logFileNameFor(const QDate& date) const;

    // The window set-up: what interrupted saves left behind removed, logs folder, the day's log
    // file name, the day's earlier console and the start lines; then the scheduler's task file.
    // Returns true on a first start (no settings file yet); the caller shows the first-start
    // message then.
    bool startUp();

    // ">> Beállítások mentése <<": the console log, then the settings. Errors to the console.
    void saveNow();
    // Closing the main window: the console log, the settings, then the link closed. The task
    // file is the scheduler window's to write. quitRequested follows once the disconnect's last
    // commands went out, from the event loop when they wait for the pacer.
    void close();
    // Without an event loop to wait in (the program ends outside it), the close's remaining last
    // commands leave here, each wait blocking.
    void finishClosing();
    // The desktop session ends: the settings, then the normal close.
    void endOfSession();
    // ">> [ ERŐSZAKOS LEÁLLÁS ] <<": ends the process at once; nothing is saved or sent.
    [[noreturn]] static void forceStop();

    // SaveSettings and LoadSettings; they throw FileError (the callers report it).
    void saveSettings();
    void loadSettings();
    // The menu items ">> Beállítások betöltése <<" and ">> ALAPBEÁLLÍTÁSOK <<": errors to the
    // console.
    void loadSettingsNow();
    // The load at start: an error also shows the main window and a message, since the operator
    // must see that the program runs without his settings.
    void loadSettingsAtStart();
    void resetSettings();
    // ">> Banlista törlése <<": the ban list emptied, its file written at once.
    void clearBanList();

    // The application's error handler: the message goes to the console; list index errors
    // also reconnect and ask for a fresh roster.
    void reportError(const std::exception& error) override;

signals:
    void quitRequested();
    // The settings load shows the main window unless the program starts in the icon area.
    void showWindowRequested();

private:
    // Runs `next` from the event loop's next turn once the link's running disconnect, if any, has
    // ended.
    void afterDisconnect(std::function<void()> next);

    QString m_programFolder;
    Clock& m_clock;
    Dialogs& m_dialogs;
    Settings m_settings;
    link::Console m_console;
    link::ConsoleLog m_consoleLog;
    record::ActRecord m_record;
    roster::Roster m_roster;
    link::Link m_link;
    link::ReplyIntake m_intake;
    roster::ServerInfo m_serverInfo;
    channel::Broadcaster m_broadcaster;
    rules::Rules m_rules;
    channel::Interpreter m_interpreter;
    link::ConsoleSearch m_search;
    settings::SettingsStore m_store;
    tools::WeaponSwitches m_weapons;
    tools::ClientConfig m_clientConfig;
    tools::Launcher m_launcher;
    scheduler::Scheduler m_scheduler;
    exchange::TransferRunner m_transfers;
    exchange::Services m_exchange;
    exchange::Importer m_importer;
    bool m_closed = false;
    bool m_keepLinkUp = false; // while the command channel's "load" runs
    bool m_recovering = false; // the error handler's reconnect waits for its second step
};

} // namespace vigilor
