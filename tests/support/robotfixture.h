#pragma once

#include "robot/robot.h"
#include "support/fakes.h"
#include "testserver/rconserver.h"

#include <QTemporaryDir>

namespace vigilor::test {

// A robot in a temporary program folder, with fakes for its clock and dialogs, and
// a practice server on 127.0.0.1 that takes the given rcon password. Test programs that use it
// link vigilor_testserver.
struct RobotFixture
{
    QTemporaryDir dir;
    FakeClock clock;
    ScriptedDialogs dialogs;
    Robot robot{dir.path() + u'/', clock, dialogs};
    testserver::RconServer server;
    const QString password;

    explicit RobotFixture(const QString& rconPassword) : password(rconPassword)
    {
        server.setPassword(password);
        server.start();
    }

    QString path(const QString& name) const { return dir.path() + u'/' + name; }

    // The top bar's fields pointed at the practice server.
    void pointAtServer()
    {
        robot.settings().setHost(QStringLiteral("127.0.0.1"));
        robot.settings().setPort(QString::number(server.port()));
        robot.settings().setPassword(password);
    }
};

} // namespace vigilor::test
