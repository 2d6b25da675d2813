#include "link/intake.h"

#include "link/console.h"
#include "link/datagram.h"
#include "link/link.h"
#include "roster/playerline.h"
#include "roster/roster.h"
#include "text/clock.h"
#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <exception>
#include <utility>

namespace vigilor::link {

ReplyIntake::ReplyIntake(Console& console, ConsoleLog& log, roster::Roster& roster,
                         const Clock& clock, std::function<QString(const QDate&)> logFileNameFor)
    : m_console(console), m_log(log), m_roster(roster), m_clock(clock),
      m_logFileNameFor(std::move(logFileNameFor))
{
}

void ReplyIntake::handleDatagram(const QByteArray& datagram)
{
    // A datagram's handling stays open while its checks are paused (they return to the event
    // loop after each punishment and wait for a kick), and while a consumer lets events run
    // (the channel's settings reload disconnects, a queued command may start the silence
    // check's reconnect): a datagram read then must not be handled in the middle of another,
    // so it waits and is handled whole after it, in the order they came, as it would have
    // waited in the socket behind a blocked event loop.
    if (m_handling) {
        if (m_waiting.size() < kMaxWaiting)
            m_waiting.append(datagram);
        else
            qCDebug(lcLink) << "datagram dropped: too many wait for the one being handled";
        return;
    }
    m_handling = true;
    std::exception_ptr failure;
    try {
        m_checksPaused = handle(datagram) == Outcome::ChecksPaused;
    } catch (...) {
        failure = std::current_exception(); // the caller drops this datagram
    }
    if (!m_checksPaused)
        handleWaiting();
    if (failure)
        std::rethrow_exception(failure);
}

void ReplyIntake::checksEnded(bool completed)
{
    // Only checks that a datagram of the intake started and that paused end its handling.
    if (!std::exchange(m_checksPaused, false))
        return;
    if (completed)
        handleSilently([this] { finish(); });
    handleWaiting();
}

void ReplyIntake::dropWaiting()
{
    m_waiting.clear();
    m_checksPaused = false;
    m_handling = false;
}

void ReplyIntake::handleWaiting()
{
    while (!m_waiting.isEmpty()) {
        handleSilently(
            [this] { m_checksPaused = handle(m_waiting.takeFirst()) == Outcome::ChecksPaused; });
        if (m_checksPaused)
            return; // the rest wait for these checks too
    }
    m_handling = false;
}

ReplyIntake::Outcome ReplyIntake::handle(const QByteArray& datagram)
{
    const QString text = cleanedReply(datagram);
    if (text.size() < 3)
        return Outcome::Unsaved;

    changeOfDay();

    if (isChannelReply(text)) {
        if (m_hooks.channelReply)
            m_hooks.channelReply(text);
    } else if (m_status.takes(text)) {
        // The same datagrams with their colours, joined beside them while a front end draws
        // colours; a reply begun before that pairs no line, and is shown without.
        if (m_keepColours)
            m_colouredStatus.join(colouredReply(datagram));
        if (const Outcome joined = joinStatus(text); joined != Outcome::Handled)
            return joined;
    } else {
        // The lines with their colours beside them, only while a front end draws colours.
        if (m_keepColours && datagram.contains('^')) {
            const QStringList lines = Console::linesOf(text);
            m_console.appendLines(lines,
                                  withColours(lines, colouredLines(colouredReply(datagram))));
        } else {
            m_console.appendText(text);
        }
        if (m_hooks.consoleReply)
            m_hooks.consoleReply(datagram);
    }
    finish();
    return Outcome::Handled;
}

void ReplyIntake::finish()
{
    saveLog();
    if (m_hooks.saveSettings)
        m_hooks.saveSettings();
    if (m_hooks.handled)
        m_hooks.handled();
}

void ReplyIntake::changeOfDay()
{
    const QDateTime now = m_clock.now();
    const int day = now.date().day();
    if (m_dayMarker != 0 && m_dayMarker != day) {
        m_dayMarker = day;
        // A closing day's file that cannot be written (a full disk, the logs folder gone) does
        // not hold up the new day: the log keeps that day's lines and writes them with a later
        // save, and the datagram is handled all the same.
        QString closeFailure;
        try {
            m_log.closeDay(m_logFileName);
        } catch (const FileError& e) {
            closeFailure = e.message();
        }
        m_console.clear();
        m_console.consoleLine(QStringLiteral("*** Log break at ") + text::dateTime(now) +
                              QStringLiteral(" ***"));
        m_logFileName = m_logFileNameFor(now.date());
        if (m_hooks.midnight)
            m_hooks.midnight();
        // Said after the break, so that the emptied console shows it.
        if (!closeFailure.isEmpty())
            logFailed(closeFailure);
        saveLog();
    }
    m_dayMarker = day;
}

void ReplyIntake::saveLog()
{
    try {
        m_log.save(m_logFileName);
    } catch (const FileError& e) {
        logFailed(e.message());
        return;
    }
    m_logFailureSaid = false;
}

void ReplyIntake::logFailed(const QString& message)
{
    // Once, not at every datagram; again only after a save worked in between.
    if (m_logFailureSaid)
        return;
    m_logFailureSaid = true;
    m_console.consoleLine(message);
}

ReplyIntake::Outcome ReplyIntake::joinStatus(const QString& text)
{
    // Each fragment is a datagram of its own: between two of them the event loop runs (the
    // pacer sends, timers queue, the window repaints), and the buffer waits for the next.
    if (!m_status.join(text))
        return Outcome::Unsaved;

    const int fragments = m_status.fragments();
    const QString reply = m_status.take();
    const QHash<QString, QString> coloured =
        m_keepColours ? colouredLines(m_colouredStatus.take()) : QHash<QString, QString>();
    m_console.consoleLine(QString::number(fragments) + QStringLiteral(" csomagrészlet érkezett"));
    if (fragments > 1)
        m_console.consoleLine(QStringLiteral(
            " !! FIGYELEM !! A túl magas csomagtöredezés hibaüzenetekhez vezethet a konzolon!"));

    const QStringList lines = text::splitLines(reply);
    // A player line whose number columns cannot be read is left out of the roster, and said
    // once here, so that the table and the checks serve every other player.
    QStringList skipped;
    const QStringList readable = roster::readableLines(lines, &skipped);
    const auto saySkipped = [this, &skipped] {
        for (const QString& line : skipped)
            m_console.consoleLine(QStringLiteral("Hibás játékos sor kihagyva: ") + line);
    };
    const int players = roster::playerCount(readable) % 256;
    m_roster.setText(readable, coloured);
    if (m_hooks.rosterReplaced)
        m_hooks.rosterReplaced();
    if (players == 0) {
        m_console.consoleLine(lines.isEmpty() ? QString() : lines.front());
        m_console.consoleLine(QStringLiteral("..:: Nincs játékos ::.."));
        m_console.consoleLine(QString());
        saySkipped();
        m_roster.clearRows();
        return Outcome::Unsaved;
    }
    m_console.consoleLine(QStringLiteral("..:: ") + QString::number(players) +
                          QStringLiteral(" játékos a szerveren ::.."));
    if (coloured.isEmpty())
        m_console.appendLines(lines);
    else
        m_console.appendLines(lines, withColours(lines, coloured));
    saySkipped();
    m_roster.refresh();
    if (m_hooks.runChecks && !m_hooks.runChecks())
        return Outcome::ChecksPaused;
    return Outcome::Handled;
}

} // namespace vigilor::link
