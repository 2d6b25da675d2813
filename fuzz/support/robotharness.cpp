#include "support/robotharness.h"

#include "link/datagram.h"
#include "roster/playerline.h"
#include "settings/settingsstore.h"
#include "support/fuzzsupport.h"
#include "text/cp1250.h"
#include "text/textutil.h"

#include <QDir>
#include <QUdpSocket>

namespace vigilor::fuzz {

namespace {

const QString kReset = QStringLiteral("set vigilor \"nil\"");

// The far end of the link: bound once, never read.
quint16 silentPort()
{
    static QUdpSocket* socket = [] {
        auto* s = new QUdpSocket;
        if (!s->bind(QHostAddress::LocalHost, 0))
            fail(QStringLiteral("cannot bind a UDP port on 127.0.0.1"));
        return s;
    }();
    return socket->localPort();
}

bool holdsLineBreak(const QString& line)
{
    return line.contains(u'\n') || line.contains(u'\r');
}

} // namespace

QString cleanedReply(const QByteArray& datagram)
{
    QString text = text::stripColours(text::fromCp1250(datagram));
    const qsizetype header = text.indexOf(link::replyHeader());
    if (header >= 0)
        text.remove(header, 9);
    return text;
}

RobotHarness::RobotHarness(const QHash<QString, QByteArray>& files)
    : m_folder(freshFolder(QStringLiteral("robot")))
{
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        writeFile(m_folder + it.key(), it.value());
    m_robot = std::make_unique<Robot>(m_folder, m_clock, m_pump, m_dialogs);
    m_robot->startUp();
    Settings& s = m_robot->settings();
    s.setHost(QStringLiteral("127.0.0.1"));
    s.setPort(QString::number(silentPort()));
    s.setPassword(QStringLiteral("fuzz"));
    s.setBanList({QStringLiteral("0 cheater"), QStringLiteral("1 192.0.2."),
                  QStringLiteral("2 camper"), QStringLiteral("3 boom"), QStringLiteral("4 kill"),
                  QStringLiteral("x other form")});
    s.setMessages({QStringLiteral("Udv a szerveren!"), QStringLiteral("Ne csalj!")});
    s.setFlag(Key::RateCheck, true);
    s.setFlag(Key::CommandListener, true);
    m_robot->link().connectAction();
    if (!m_robot->link().isConnected())
        fail(QStringLiteral("the link did not connect"));
    // Every datagram saves the settings: saved once here, a save after a datagram that is not a
    // channel reply must write the same bytes.
    m_robot->saveNow();
}

RobotHarness::~RobotHarness() = default;

void RobotHarness::deliver(const QByteArray& datagram)
{
    Robot& r = *m_robot;
    const QString text = cleanedReply(datagram);
    const bool channel = text.size() >= 3 && link::ReplyIntake::isChannelReply(text);
    const SettingsState before = stateOf(r.settings());
    const QStringList queueBefore = r.link().queue();
    const QStringList rosterBefore = r.roster().text();
    const quint64 generation = r.console().generation();
    const qsizetype consoleBefore = r.console().size();
    const QHash<QString, QByteArray> filesBefore =
        channel ? QHash<QString, QByteArray>() : savedFiles();
    const QList<scheduler::Task> tasksBefore = r.scheduler().tasks();
    const int dialogsBefore = dialogsShown();

    bool completed = true;
    try {
        r.intake().handleDatagram(datagram);
    } catch (const Error&) {
        // The engine's own errors (a number column without a number) end the datagram's
        // handling, and the socket drops them. Anything else escapes and stops the run.
        completed = false;
    }

    checkRanges(r.settings());
    const QStringList& lines = r.console().lines();
    for (qsizetype i = r.console().generation() == generation ? consoleBefore : 0; i < lines.size();
         ++i)
        FUZZ_CHECK(!holdsLineBreak(lines[i]), lines[i]);
    FUZZ_CHECK(r.roster().rows().size() <= 255, QString::number(r.roster().rows().size()));
    for (const QStringList& row : r.roster().rows())
        FUZZ_CHECK(row.size() == roster::Roster::kColumns, row.join(u'|'));

    if (!channel) {
        const SettingsState after = stateOf(r.settings());
        FUZZ_CHECK(after == before, difference(before, after));
        FUZZ_CHECK(savedFiles() == filesBefore, QStringList(savedFiles().keys()).join(u' '));
        FUZZ_CHECK(r.scheduler().tasks() == tasksBefore,
                   QString::number(r.scheduler().tasks().size()));
        FUZZ_CHECK(dialogsShown() == dialogsBefore, m_dialogs.messages().join(u'|'));
        FUZZ_CHECK(r.transfers().running() == 0 && !r.importer().running(),
                   QStringLiteral("transfer"));
        const bool newRoster = !r.roster().text().isSharedWith(rosterBefore);
        const bool checksRan = newRoster && roster::playerCount(r.roster().text()) % 256 != 0;
        if (!checksRan)
            FUZZ_CHECK(r.link().queue() == queueBefore, describeLines(r.link().queue()));
    } else if (completed) {
        const QString command = channel::Interpreter::commandText(text);
        if (command != QStringLiteral("nil") && r.link().isConnected())
            FUZZ_CHECK(!r.link().queue().isEmpty() && r.link().queue().back() == kReset,
                       describeLines(r.link().queue()));
        checkSavedSettings();
    }
    checkLog(false);
}

void RobotHarness::finish()
{
    m_robot->saveNow();
    checkLog(true);
    checkSavedSettings();
}

QHash<QString, QByteArray> RobotHarness::savedFiles() const
{
    QHash<QString, QByteArray> files;
    const QDir folder(m_folder);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, readFile(m_folder + name));
    return files;
}

int RobotHarness::dialogsShown() const
{
    return int(m_dialogs.messages().size() + m_dialogs.questions().size() +
               m_dialogs.inputs().size());
}

// The day's log holds the console as it stood at the last save: a beginning of the console,
// all of it right after a save.
void RobotHarness::checkLog(bool whole)
{
    const QString name = m_robot->intake().logFileName();
    if (!QFileInfo::exists(name)) {
        FUZZ_CHECK(!whole, name);
        return;
    }
    const QStringList saved = text::splitLines(text::fromCp1250(readFile(name)));
    const QStringList& console = m_robot->console().lines();
    FUZZ_CHECK(saved.size() <= console.size(), QString::number(saved.size()));
    if (whole)
        FUZZ_CHECK(saved.size() == console.size(), QString::number(saved.size()));
    for (qsizetype i = 0; i < saved.size(); ++i)
        FUZZ_CHECK(saved[i] == console[i], QStringLiteral("log line ") + QString::number(i) +
                                               QStringLiteral(": '") + saved[i] +
                                               QStringLiteral("' / '") + console[i] + u'\'');
}

// What the robot saved reads back as what it holds: no value, list line or character is lost
// or split on the way through the files.
void RobotHarness::checkSavedSettings()
{
    Settings reread;
    settings::SettingsStore store(reread, m_folder);
    quietHooks(store);
    store.load();
    const SettingsState held = stateOf(m_robot->settings());
    const SettingsState read = stateOf(reread);
    FUZZ_CHECK(read == held, difference(held, read));
}

} // namespace vigilor::fuzz
