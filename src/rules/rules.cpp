#include "rules/rules.h"

#include "link/link.h"
#include "roster/playerline.h"
#include "settings/settings.h"
#include "text/clock.h"
#include "text/errors.h"
#include "text/timeformat.h"

#include <utility>

namespace vigilor::rules {

Rules::Rules(Settings& settings, link::Link& link, link::Console& console, Clock& clock,
             Dialogs& dialogs, SayPublic sayPublic, QObject* parent)
    : QObject(parent), m_dialogs(dialogs),
      m_context(settings, link, console, clock, std::move(sayPublic)),
      m_punisher(m_context, m_learning), m_banList(settings),
      m_banCheck(m_context, m_learning, m_punisher), m_watch(m_context, m_punisher),
      m_menu(m_context, m_banList), m_ledger(link)
{
    connect(&m_context, &Context::stepResumed, this, [this]() noexcept { stepResumed(); });
}

Rules::~Rules()
{
    stopChecks();
}

bool Rules::runChecks(const QStringList& rosterLines)
{
    // The paused pass is the one the context resumes: a second one would take its place.
    if (m_running)
        throw Error(QStringLiteral("Az ellenőrzés már fut"));
    m_running = true;
    Step<> pass = runPass(rosterLines, m_ledger.rosterSerial());
    if (!pass.done()) {
        m_pass = std::move(pass);
        return false;
    }
    pass.result();
    return true;
}

// However the pass ends (done, failed, let go of), a pacer still held is let go.
Rules::PassOpen::~PassOpen()
{
    rules.m_running = false;
    rules.m_context.endPause();
}

// A paused step went on: when that ended the pass, the datagram it belongs to is done.
void Rules::stepResumed() noexcept
{
    if (!m_pass || !m_pass->done())
        return;
    Step<> pass = std::move(*m_pass);
    m_pass.reset();
    bool completed = false;
    link::handleSilently([&] {
        pass.result();
        completed = true;
    });
    emit checksEnded(completed);
}

void Rules::stopChecks()
{
    m_context.stopPause();
    m_pass.reset();
    m_running = false;
}

QStringList Rules::withoutStaleSlots(const QStringList& lines, std::optional<quint64> rosterSerial)
{
    if (!rosterSerial)
        return lines;
    QStringList fresh;
    fresh.reserve(lines.size());
    for (const QString& line : lines) {
        QString newer;
        int slot = -1;
        if (roster::isPlayerLine(line)) {
            try {
                slot = roster::playerSlot(line);
                newer = m_ledger.newerPunishment(slot, *rosterSerial);
            } catch (const Error&) {
            }
        }
        if (newer.isEmpty()) {
            fresh.append(line);
            continue;
        }
        m_context.line(QStringLiteral("Elavult lista: a ") + QString::number(slot) +
                       QStringLiteral(". slot kimarad, mert a lista a \"") + newer +
                       QStringLiteral("\" elküldése előtt készült"));
    }
    return fresh;
}

Step<> Rules::runPass(QStringList rosterLines, std::optional<quint64> rosterSerial)
{
    const PassOpen passOpen{*this};
    const QStringList lines = withoutStaleSlots(rosterLines, rosterSerial);
    const Settings& s = m_context.settings();
    if (s.flag(Key::TestBans)) {
        const bool matched = co_await m_banCheck.checkBans(lines);
        if (!matched && s.flag(Key::LearningBan))
            co_await m_banCheck.checkLearningBans(lines);
    }
    if (s.flag(Key::AntiFreeze))
        m_watch.checkFreeze(lines);
    if (s.flag(Key::RateCheck))
        co_await m_watch.checkRate(lines);
    if (s.flag(Key::PingCheck))
        m_watch.checkPing(lines);
}

void Rules::midnight()
{
    if (!m_context.settings().flag(Key::ClearAtMidnight))
        return;
    m_learning.clear();
    m_context.line(QStringLiteral("IP lista törölve ekkor: ") +
                   text::dateTime(m_context.clock().now()));
}

void Rules::clearBanList(const QString& bansFile, ErrorSink* errors)
{
    m_banList.clear(m_dialogs, m_learning, bansFile, errors);
}

} // namespace vigilor::rules
