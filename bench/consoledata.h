#pragma once

// The datagrams of one `status` reply exactly as the practice server cuts them, and a day's
// console log of many lines in a data folder, for the benchmarks of the console.
#include "robot/robot.h"
#include "testserver/rconserver.h"
#include "text/timeformat.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace vigilor::bench {

inline QList<QByteArray> statusDatagrams(int players)
{
    testserver::RconServer server;
    server.setPassword(QStringLiteral("bench"));
    server.start();
    for (int i = 0; i < players; ++i) {
        testserver::Player p;
        p.slot = i;
        p.score = i;
        p.ping = 30 + i;
        p.name = QStringLiteral("^3Player^7%1").arg(i);
        p.address = QStringLiteral("10.1.%1.%2:28960").arg(i / 250).arg(i % 250 + 1);
        server.addPlayer(p);
    }
    QUdpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port());
    client.write(QByteArray("\xff\xff\xff\xffrcon \"bench\" status"));
    QList<QByteArray> datagrams;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        while (client.hasPendingDatagrams())
            datagrams.append(client.receiveDatagram().data());
        if (!datagrams.isEmpty() && datagrams.back().endsWith("\n\n"))
            break;
    }
    return datagrams;
}

// A day's console log of `lines` lines (about 64 bytes each) for `date`, in `folder`/logs, and
// an empty settings file so that the start is not a first start.
inline void writeDayLog(const QString& folder, int lines, QDate date = QDate::currentDate())
{
    QDir().mkpath(folder + QStringLiteral("logs"));
    QFile(folder + QStringLiteral("vigilor.ini")).open(QIODevice::WriteOnly);
    QFile file(folder + QStringLiteral("logs/console (") + text::shortDate(date) +
               QStringLiteral(").log"));
    file.open(QIODevice::WriteOnly);
    QByteArray chunk;
    for (int i = 0; i < lines; ++i) {
        chunk += "[2026.12.08.] 11:" + QByteArray::number(i % 60).rightJustified(2, '0') +
                 ":00 >> Parancs k\xfc"
                 "ld\xe9s: \"status\" line " +
                 QByteArray::number(i) + "\r\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
}

// A running robot's console of `lines` lines (about 60 bytes each), written to its day's log as
// the robot would have written it.
inline void fillConsole(Robot& robot, qsizetype lines)
{
    QStringList filler;
    filler.reserve(lines);
    for (qsizetype i = 0; i < lines; ++i)
        filler << QStringLiteral("[2026.12.08.] 11:%1:00 >> filler line number %2 of the day")
                      .arg(i % 60, 2, 10, QChar(u'0'))
                      .arg(i);
    robot.console().replace(filler);
    robot.consoleLog().save(robot.intake().logFileName());
}

} // namespace vigilor::bench
