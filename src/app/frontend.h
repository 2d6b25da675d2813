#pragma once

#include "link/dialogs.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace vigilor {
class Robot;
}

namespace vigilor::app {

// Dialogs without a window: messages go to standard output (not into the console and its day
// log, where a window would not put them either); questions are answered no and input boxes
// are cancelled, the safe answer to every one of them.
class ConsoleDialogs final : public Dialogs
{
public:
    void message(const QString& text) override;
    bool question(const QString& text) override;
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& initial) override;
};

// Writes every console line to standard output as it arrives.
void echoConsoleToStdout(Robot& robot);

// The scheduler's beep without a window: the terminal's bell, when standard output is one.
void beepOnTerminal(Robot& robot);

// SIGTERM and SIGINT end the program like "Kilépés": the handler only writes to a pipe, the
// event loop then runs the normal close.
class TerminationWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatcher(std::function<void()> onTerminate, QObject* parent = nullptr);
    ~TerminationWatcher() override;

private:
    std::function<void()> m_onTerminate;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vigilor::app
