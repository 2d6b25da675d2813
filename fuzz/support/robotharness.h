#pragma once

#include "robot/robot.h"
#include "support/fakes.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

namespace vigilor::fuzz {

// The engine as the program assembles it, in a fresh folder, with a fake clock and pump, the
// link connected to a port on 127.0.0.1 that never answers. No event loop runs, so the pacer
// never sends and every command the engine queues stays in the queue for the checks to see.
// The settings hold a ban list, messages and the usual switches, so that the checks and the
// channel commands have something to work on.
class RobotHarness final
{
public:
    // files: bare names and contents placed in the folder before the program starts.
    explicit RobotHarness(const QHash<QString, QByteArray>& files = {});
    ~RobotHarness();

    Robot& robot() { return *m_robot; }
    test::FakeClock& clock() { return m_clock; }

    // Hands one datagram to the intake as the socket does, then checks what must hold:
    // - only the engine's own errors end a datagram's handling (no other exception, no crash);
    // - a datagram that is not a channel reply reaches nothing outside the console: it changes
    //   no setting, no file but the day's log and no task, shows no dialog, starts no transfer,
    //   and queues no command, unless it completed a roster with players, whose checks may
    //   punish;
    // - after a channel reply, the files the robot saved read back as the settings it holds,
    //   and the command channel's reset is the last command queued;
    // - numbers stay in their ranges, console lines hold no line break, and the day's log file
    //   holds a beginning of the console.
    void deliver(const QByteArray& datagram);

    // The end of an input: ">> Beállítások mentése <<", then the day's log must hold exactly
    // the console and the saved files must read back as the settings.
    void finish();

private:
    void checkLog(bool whole);
    void checkSavedSettings();
    // Every file in the folder but the day's logs, with its content.
    QHash<QString, QByteArray> savedFiles() const;
    int dialogsShown() const;

    QString m_folder;
    test::FakeClock m_clock;
    test::FakePump m_pump;
    test::ScriptedDialogs m_dialogs;
    std::unique_ptr<Robot> m_robot;
};

// The text the intake dispatches on: colour codes and the reply header removed.
QString cleanedReply(const QByteArray& datagram);

} // namespace vigilor::fuzz
