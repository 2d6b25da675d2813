#include "app/frontend.h"

#include "link/console.h"
#include "link/link.h"
#include "platform/endwatcher.h"
#include "platform/system.h"
#include "scheduler/scheduler.h"

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

void echoConsoleToStdout(link::Console& console)
{
    auto print = [&console](qsizetype first) {
        QTextStream out(stdout);
        for (qsizetype i = first; i < console.size(); ++i)
            out << console.line(i) << '\n';
        out.flush();
    };
    QObject::connect(&console, &link::Console::linesAppended, &console, print);
    QObject::connect(&console, &link::Console::contentReset, &console, [print] { print(0); });
}

void beepOnTerminal(scheduler::Scheduler& scheduler)
{
    if (!platform::isTerminal(platform::Stream::Output))
        return;
    scheduler.setBeep([] {
        std::fputc('\a', stdout);
        std::fflush(stdout);
    });
}

void limitLastCommands(link::Link& link)
{
    const int left = platform::EndWatcher::msUntilHardStop();
    if (left >= 0)
        link.limitLastCommands(QDeadlineTimer(qMax(0, left - kLastCommandsMarginMs)));
}

} // namespace vigilor::app
