#include "app/frontend.h"

#include "platform/endwatcher.h"
#include "platform/system.h"
#include "robot/robot.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace vigilor::app {

namespace {
QString plainLines(const QString& text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    return plain;
}
} // namespace

void ConsoleDialogs::message(const QString& text)
{
    QTextStream out(stdout);
    out << plainLines(text) << '\n';
    out.flush();
}

void ConsoleDialogs::question(const QString& text, Answered answered)
{
    QTextStream out(stdout);
    out << plainLines(text) << QStringLiteral("\n-> nem\n");
    out.flush();
    if (answered)
        answered(false);
}

void ConsoleDialogs::input(const QString&, const QString&, const QString&, Entered entered)
{
    if (entered)
        entered(std::nullopt);
}

void echoConsoleToStdout(Robot& robot)
{
    auto print = [&robot](qsizetype first) {
        QTextStream out(stdout);
        const link::Console& console = robot.console();
        for (qsizetype i = first; i < console.size(); ++i)
            out << console.line(i) << '\n';
        out.flush();
    };
    QObject::connect(&robot.console(), &link::Console::linesAppended, &robot, print);
    QObject::connect(&robot.console(), &link::Console::contentReset, &robot, [print] { print(0); });
}

void beepOnTerminal(Robot& robot)
{
    if (!platform::isTerminal(platform::Stream::Output))
        return;
    robot.scheduler().setBeep([] {
        std::fputc('\a', stdout);
        std::fflush(stdout);
    });
}

void limitLastCommands(Robot& robot)
{
    const int left = platform::EndWatcher::msUntilHardStop();
    if (left >= 0)
        robot.link().limitLastCommands(QDeadlineTimer(qMax(0, left - kLastCommandsMarginMs)));
}

} // namespace vigilor::app
