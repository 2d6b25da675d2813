#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace vigilor {
class ErrorSink;
class Settings;
enum class Key : int;
} // namespace vigilor

namespace vigilor::link {
class Console;
class Link;
} // namespace vigilor::link

namespace vigilor::channel {

class Broadcaster;

// The in-game command channel: administrators type /rcon set vigilor "<command>", the channel
// poll (`Timer5`) reads the variable, and RunChannelCommand carries the command out and sets
// the variable back to "nil". The console buttons and the scheduler hand it made-up answers.
class Interpreter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Interpreter)

public:
    struct Hooks
    {
        // AddBanEntry of the ban list: re-grades the entries with this entry text, or adds one.
        std::function<void(const QString& entryText, int code)> addBanEntry;
        std::function<void()> loadSettings;
        std::function<void()> saveSettings;
    };

    static constexpr int kMinPollMs = 10;

    Interpreter(Settings& settings, link::Link& link, link::Console& console,
                Broadcaster& broadcaster, ErrorSink* errors, QObject* parent = nullptr);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // The tick of `Timer5`: queries the channel variable while the link is up.
    void pollChannel();
    // Interprets one answer holding the channel marker. A step that fails is reported on the
    // console and skipped; the other steps still run and the reset is always queued, so a
    // command that cannot be carried out is not met again at every poll. Never throws.
    void runChannelCommand(const QString& reply);

    // The value between the marker (with or without a blank after "is:") and the first
    // `" default` behind it, lower-cased, line breaks and NULs as blanks; empty when either is
    // missing.
    static QString commandText(const QString& reply);
    // The answer the console buttons and the scheduler hand over:
    // "vigilor" is:"<command>" default is:""
    static QString madeUpAnswer(const QString& command);
    static int pollPeriod(int timeIntervalSeconds); // max(T * 1000 div 3, 10) ms

    // "[Parancs figyelő]" in the "[ S.O.S ]" menu, and the warning shown when the operator
    // switches "Parancs figyelő" on: whole message box texts.
    static const QString& helpText();
    static const QString& listenerWarning();

    QTimer& pollTimer() { return m_poll; }

private:
    void onChanged(Key key);
    template <typename Step> void step(Step&& work);
    void setMessageAtPosition(const QString& text);

    Settings& m_settings;
    link::Link& m_link;
    link::Console& m_console;
    Broadcaster& m_broadcaster;
    ErrorSink* m_errors;
    Hooks m_hooks;
    QTimer m_poll;
};

} // namespace vigilor::channel
