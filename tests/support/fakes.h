#pragma once

#include "link/dialogs.h"
#include "text/clock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <utility>

namespace vigilor::test {

// A clock that stands still until the test moves it; waits cost nothing but move it on.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 12, 8), QTime(12, 34, 56)))
        : m_now(std::move(start))
    {
    }
    QDateTime now() const override { return m_now; }
    qint64 steadyMs() const override { return m_steady; }
    void wait(int milliseconds) override
    {
        m_waits.append(milliseconds);
        m_now = m_now.addMSecs(milliseconds);
        m_steady += milliseconds;
        if (m_realWaits)
            QTest::qWait(milliseconds);
        if (onWait)
            onWait();
    }
    // Runs at the end of every wait: what a timer coming due during it would do.
    std::function<void()> onWait;
    // Waits that really pass, for tests where a server on the other end counts time.
    void setRealWaits(bool real) { m_realWaits = real; }
    // Time passes up to `when`; a `when` in the past is the wall clock put back, real time does
    // not run backwards.
    void set(const QDateTime& when)
    {
        m_steady += qMax<qint64>(0, m_now.msecsTo(when));
        m_now = when;
    }
    void advance(qint64 ms)
    {
        m_now = m_now.addMSecs(ms);
        m_steady += qMax<qint64>(0, ms);
    }
    // The wall clock set to `when` (by hand, by a time server) while no time passes.
    void changeClock(const QDateTime& when) { m_now = when; }
    const QList<int>& waits() const { return m_waits; }

private:
    QDateTime m_now;
    qint64 m_steady = 1000000;
    QList<int> m_waits;
    bool m_realWaits = false;
};

// Answers dialogs from a script, at once, and records what was shown.
class ScriptedDialogs final : public Dialogs
{
public:
    void message(const QString& text) override { m_messages.append(text); }
    void question(const QString& text, Answered answered) override
    {
        m_questions.append(text);
        bool answer = false;
        if (!m_yes.empty()) {
            answer = m_yes.front();
            m_yes.pop_front();
        }
        if (answered)
            answered(answer);
    }
    void input(const QString& title, const QString& prompt, const QString& initial,
               Entered entered) override
    {
        m_inputs.append(title + u'|' + prompt + u'|' + initial);
        std::optional<QString> answer;
        if (!m_answers.empty()) {
            answer = std::move(m_answers.front());
            m_answers.pop_front();
        }
        if (entered)
            entered(std::move(answer));
    }

    void answerInput(std::optional<QString> answer) { m_answers.push_back(std::move(answer)); }
    void answerQuestion(bool yes) { m_yes.push_back(yes); }
    const QStringList& messages() const { return m_messages; }
    const QStringList& questions() const { return m_questions; }
    const QStringList& inputs() const { return m_inputs; }

private:
    std::deque<std::optional<QString>> m_answers;
    std::deque<bool> m_yes;
    QStringList m_messages;
    QStringList m_questions;
    QStringList m_inputs;
};

// Lets the link's steps that go on from the event loop run to their end, as its calls once did
// inside themselves: a connect's greeting, a disconnect's last commands.
template <typename Link> bool settle(Link& link, int timeoutMs = 10000)
{
    QCoreApplication::processEvents();
    const bool ended = QTest::qWaitFor([&] { return !link.isDisconnecting(); }, timeoutMs);
    // A step may queue the next (a reconnect, then its greeting).
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    return ended;
}

} // namespace vigilor::test
