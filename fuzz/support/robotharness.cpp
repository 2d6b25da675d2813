#include "support/robotharness.h"

#include "link/datagram.h"
#include "link/reply.h"
#include "record/actrecord.h"
#include "roster/playerline.h"
#include "rules/ledger.h"
#include "settings/settingsstore.h"
#include "text/cp1250.h"
#include "text/textutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxyFactory>
#include <QTimer>
#include <QTimerEvent>
#include <QUdpSocket>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vigilor::fuzz {

namespace {

const QString kReset = QStringLiteral("set vigilor \"nil\"");

// The reply the known state has already handled: the roster is empty, and the status assembly
// is between replies, as it is on a running robot.
const QByteArray kEmptyStatus("\xFF\xFF\xFF\xFFprint\n"
                              "map: mp_harbor\n"
                              "num score ping guid   name            lastmsg address"
                              "               qport rate\n"
                              "--- ----- ---- ------ --------------- ------- "
                              "--------------------- ----- -----\n\n");
// The end of a reply left open: an empty line.
const QByteArray kEndOfReply("\xFF\xFF\xFF\xFFprint\n\n\n");
// The same holding the column header's word, which joins a datagram to an open reply whose own
// text no longer holds it (the first character of each fragment is dropped, and that
// fragment's text began with the word).
const QByteArray kEndOfReplyWithHeaderWord("\xFF\xFF\xFF\xFFprint\n qport \n\n");
// A console reply handled at the known state's time takes the intake's day back to it.
const QByteArray kBackToTheDay("\xFF\xFF\xFF\xFFprint\nvigilor fuzz harness\n");

// Why inputs were run on a new robot, for the line printed at exit.
std::map<std::string, qint64> g_rebuilds;
qint64 g_inputs = 0;

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

// The checks go back to the event loop after each punishment and go on from their step timer.
// No event loop runs here: the timer is fired at once, as often as the checks arm it, so that a
// datagram's checks are over when the intake has handled it.
void finishChecks(Robot& robot)
{
    auto* step = robot.rules().context().findChild<QTimer*>(QStringLiteral("RulesStepTimer"));
    while (step && step->isActive()) {
        QTimerEvent due(step->timerId());
        QCoreApplication::sendEvent(step, &due);
    }
}

bool holdsLineBreak(QByteArrayView line)
{
    return line.contains('\n') || line.contains('\r');
}

qint64 nanoseconds(const timespec& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Into `bytes` (its room kept from call to call), from `offset` to the end, by plain system
// calls; false when the file cannot be opened. The file's inode goes to `inode`.
bool readInto(const QByteArray& path, QByteArray& bytes, qint64 offset = 0,
              quint64* inode = nullptr)
{
    bytes.resize(0);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st{};
    if (::fstat(fd, &st) == 0) {
        if (inode)
            *inode = quint64(st.st_ino);
        if (st.st_size > offset)
            bytes.reserve(qsizetype(st.st_size - offset));
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0)
            break;
        bytes.append(buffer, qsizetype(n));
        offset += n;
    }
    ::close(fd);
    return true;
}

// Removes every file of a folder but one, by plain system calls; false when one stays. The folder
// stays open in `dir` from call to call (null: opened here).
bool removeAllBut(void*& dir, const QByteArray& folder, const QByteArray& keep)
{
    if (!dir)
        dir = ::opendir(folder.constData());
    else
        ::rewinddir(static_cast<DIR*>(dir));
    if (!dir)
        return false;
    DIR* d = static_cast<DIR*>(dir);
    bool removed = true;
    while (const dirent* entry = ::readdir(d)) {
        const QByteArrayView name(entry->d_name);
        if (name == "." || name == ".." || name == keep)
            continue;
        removed = ::unlinkat(::dirfd(d), entry->d_name, 0) == 0 && removed;
    }
    return removed;
}

std::optional<QByteArray> readPlain(const QString& path)
{
    QByteArray bytes;
    if (!readInto(QFile::encodeName(path), bytes))
        return std::nullopt;
    return bytes;
}

// The console as the day's log must hold it: every line, CR LF after each.
QByteArray consoleBytes(const link::Lines& lines)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < lines.size(); ++i)
        bytes += lines.bytes(i) + QByteArrayView("\r\n");
    return bytes;
}

// The files a settings load reads: what it reads back is a function of these alone.
FolderPrint::Files settingsFiles(const FolderPrint::Files& files)
{
    static const std::vector<std::string> names = [] {
        QStringList read = settings::SettingsStore::writtenFiles();
        read.append(settings::SettingsStore::kImportExtraFile);
        std::vector<std::string> n;
        for (const QString& name : read)
            n.push_back(QFile::encodeName(name).toStdString());
        return n;
    }();
    FolderPrint::Files read;
    read.reserve(files.size());
    for (const FolderPrint::File& file : files)
        if (std::find(names.cbegin(), names.cend(), file.name) != names.cend())
            read.push_back(file);
    return read;
}

// Returns whether anything had to change.
bool applySettings(Settings& settings, const SettingsState& state)
{
    bool changed = false;
    for (int i = 0; i < kKeyCount; ++i)
        if (settings.value(Key(i)) != state.values[i])
            changed = settings.set(Key(i), state.values[i]) || true;
    if (settings.banList() != state.banList) {
        settings.setBanList(state.banList);
        changed = true;
    }
    if (settings.messages() != state.messages) {
        settings.setMessages(state.messages);
        changed = true;
    }
    if (settings.importList() != state.importList) {
        settings.setImportList(state.importList);
        changed = true;
    }
    if (settings.importSelection() != state.importSelection) {
        settings.setImportSelection(state.importSelection);
        changed = true;
    }
    if (settings.uploadAddress() != state.uploadAddress) {
        settings.setUploadAddress(state.uploadAddress);
        changed = true;
    }
    if (settings.importInterval() != state.importInterval) {
        settings.setImportInterval(state.importInterval);
        changed = true;
    }
    return changed;
}

} // namespace

// The text the intake dispatches on only ever loses characters of the datagram (colour codes,
// the header), and the code page maps no byte above 127 to one below: a channel reply's marker
// stands in the datagram as a subsequence of its bytes. Most datagrams are told apart by that
// alone, without the text.
bool mayBeChannelReply(QByteArrayView datagram)
{
    const auto holds = [](QByteArrayView bytes, QByteArrayView marker) {
        qsizetype matched = 0;
        for (const char c : bytes)
            if (c == marker[matched] && ++matched == marker.size())
                return true;
        return false;
    };
    // The marker without the blank is a subsequence of the one with it.
    static const QByteArray marker = [&] {
        const QByteArray without = link::kChannelMarker.toLatin1();
        if (!holds(link::kChannelMarkerWithBlank.toLatin1(), without))
            fail(QStringLiteral("the channel's markers changed: mayBeChannelReply is out of date"));
        return without;
    }();
    return holds(datagram, marker);
}

// ---- the folder's files --------------------------------------------------------------------

FolderPrint::FolderPrint(const QString& folder)
    : m_folder(QFile::encodeName(folder).toStdString()),
      m_notifier(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
}

FolderPrint::~FolderPrint()
{
    if (m_dir)
        ::closedir(static_cast<DIR*>(m_dir));
    if (m_notifier >= 0)
        ::close(m_notifier);
}

// Whether the kernel reported anything in the folder since the last look, its reports read
// away; true also when it cannot tell (no inotify, a report lost to a full queue, which comes as
// a report of its own).
bool FolderPrint::changedSinceLastLook()
{
    if (m_notifier < 0)
        return true;
    alignas(inotify_event) char events[4096];
    bool changed = false;
    for (;;) {
        const ssize_t n = ::read(m_notifier, events, sizeof events);
        if (n > 0) {
            changed = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return changed || !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }
}

FolderPrint::Files FolderPrint::take()
{
    // Reports read away before the folder is listed: whatever changes after this shows next time.
    if (!changedSinceLastLook() && m_lastValid)
        return m_last;
    m_lastValid = false;
    Files files;
    files.reserve(m_seen.size() + 4);
    // The folder stays open; a folder made anew under the same name is opened again.
    struct stat folder{};
    if (::stat(m_folder.c_str(), &folder) != 0)
        return files;
    if (m_dir && m_dirInode != quint64(folder.st_ino)) {
        ::closedir(static_cast<DIR*>(m_dir));
        m_dir = nullptr;
    }
    if (!m_dir) {
        m_dir = ::opendir(m_folder.c_str());
        m_dirInode = quint64(folder.st_ino);
        if (!m_dir)
            return files;
        // A folder made anew is watched anew (the old one's watch went with it).
        constexpr uint32_t kChanges = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                      IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                      IN_MOVE_SELF;
        if (m_notifier >= 0 && ::inotify_add_watch(m_notifier, m_folder.c_str(), kChanges) < 0) {
            ::close(m_notifier);
            m_notifier = -1;
        }
    } else {
        ::rewinddir(static_cast<DIR*>(m_dir));
    }
    DIR* dir = static_cast<DIR*>(m_dir);
    m_fresh.clear();
    m_fresh.reserve(m_seen.size() + 4);
    static const std::string records[] = {record::ActRecord::kFileName.toStdString(),
                                          record::ActRecord::kPreviousFileName.toStdString()};
    while (const dirent* entry = ::readdir(dir)) {
        // The record of acts grows with every punishment and act by design (rotated by size):
        // it is no setting, list or day's log that an input must leave as it found it.
        if (std::find(std::begin(records), std::end(records), entry->d_name) != std::end(records))
            continue;
        struct stat st{};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        Seen now{entry->d_name, quint64(st.st_ino), qint64(st.st_size), nanoseconds(st.st_mtim),
                 nanoseconds(st.st_ctim), 0};
        const auto before = std::find_if(m_seen.cbegin(), m_seen.cend(),
                                         [&](const Seen& s) { return s.name == now.name; });
        // A file is only ever replaced whole (a new inode) or written in place (a new
        // modification time); the same status means the same content.
        if (before != m_seen.cend() && before->inode == now.inode && before->size == now.size &&
            before->modified == now.modified && before->changed == now.changed) {
            now.hash = before->hash;
        } else {
            readInto(QByteArray::fromStdString(m_folder + now.name), m_buffer);
            now.size = m_buffer.size();
            now.hash = qHashBits(m_buffer.constData(), size_t(m_buffer.size()), 0);
        }
        files.push_back({now.name, now.size, now.hash});
        m_fresh.push_back(std::move(now));
    }
    std::swap(m_seen, m_fresh);
    std::sort(files.begin(), files.end(),
              [](const File& a, const File& b) { return a.name < b.name; });
    m_last = files;
    m_lastValid = true;
    return files;
}

bool FolderPrint::holds(const Files& files, const QString& name)
{
    const std::string wanted = QFile::encodeName(name).toStdString();
    return std::any_of(files.cbegin(), files.cend(),
                       [&](const File& f) { return f.name == wanted; });
}

QString FolderPrint::describe(const Files& a, const Files& b)
{
    const auto named = [](const Files& files, const std::string& name) {
        return std::find_if(files.cbegin(), files.cend(),
                            [&](const File& f) { return f.name == name; });
    };
    for (const File& file : a) {
        const QString name = QString::fromStdString(file.name);
        const auto other = named(b, file.name);
        if (other == b.cend())
            return name + QStringLiteral(" gone");
        if (*other != file)
            return name + QStringLiteral(" changed (") + QString::number(file.size) +
                   QStringLiteral(" / ") + QString::number(other->size) +
                   QStringLiteral(" bytes)");
    }
    for (const File& file : b)
        if (named(a, file.name) == a.cend())
            return QString::fromStdString(file.name) + QStringLiteral(" new");
    return QStringLiteral("none");
}

// ---- the known state -----------------------------------------------------------------------

// Everything the engine shows of itself that an input may change, but for the console and the
// files, which are compared on their own.
struct RobotHarness::Picture
{
    struct TimerState
    {
        QString name;
        bool active = false;
        int interval = 0;
        bool operator==(const TimerState&) const = default;
    };

    SettingsState settings;
    QStringList queue;
    bool connected = false;
    int pacerInterval = 0;
    QString trayHint;
    QString assembly;
    bool replyComplete = false;
    int fragments = 0;
    QString logFileName;
    QStringList rosterText;
    QList<QStringList> rosterRows;
    qsizetype nameColumn = 0;
    QStringList learning;
    // Not QList<int>: Qt 6.4 compares those with memcmp, which an empty one may hand a null.
    std::vector<int> frozen;
    std::vector<int> pingWarned;
    int rateWarnings = 0;
    bool rosterAnswered = false;
    QStringList newerPunishments; // than the roster, for the slots ever punished
    int announcePosition = 0;
    QList<TimerState> timers;
    QList<scheduler::Task> tasks;
    bool transferring = false;

    bool operator==(const Picture&) const = default;

    // The names of the parts that differ, for the line printed at exit.
    QString differences(const Picture& o) const
    {
        QStringList parts;
        const auto part = [&](bool same, const char* name) {
            if (!same)
                parts.append(QString::fromLatin1(name));
        };
        part(settings == o.settings, "settings");
        part(queue == o.queue, "queue");
        part(connected == o.connected && pacerInterval == o.pacerInterval &&
                 trayHint == o.trayHint,
             "link");
        part(assembly == o.assembly && replyComplete == o.replyComplete &&
                 fragments == o.fragments && logFileName == o.logFileName,
             "intake");
        part(rosterText == o.rosterText && rosterRows == o.rosterRows &&
                 nameColumn == o.nameColumn,
             "roster");
        part(learning == o.learning, "learning list");
        part(frozen == o.frozen && pingWarned == o.pingWarned && rateWarnings == o.rateWarnings,
             "rule checks' memory");
        part(rosterAnswered == o.rosterAnswered && newerPunishments == o.newerPunishments,
             "ledger");
        part(announcePosition == o.announcePosition, "announcer");
        for (qsizetype i = 0; i < timers.size() && i < o.timers.size(); ++i)
            if (timers[i] != o.timers[i])
                parts.append(QStringLiteral("timer ") + o.timers[i].name);
        part(timers.size() == o.timers.size(), "timers");
        part(tasks == o.tasks, "tasks");
        part(transferring == o.transferring, "transfers");
        return parts.join(QStringLiteral(", "));
    }
};

RobotHarness::Picture RobotHarness::picture()
{
    Robot& r = *m_robot;
    Picture p;
    p.settings = currentSettings();
    p.queue = r.link().queue();
    p.connected = r.link().isConnected();
    p.pacerInterval = r.link().pacer().period();
    p.trayHint = r.link().trayHint();
    p.assembly = r.intake().assemblyBuffer();
    p.replyComplete = r.intake().replyComplete();
    p.fragments = r.intake().fragmentCounter();
    p.logFileName = r.intake().logFileName();
    p.rosterText = r.roster().text();
    p.rosterRows = r.roster().rows();
    p.nameColumn = r.roster().layout().nameColumn;
    p.learning = r.rules().learning().entries();
    const rules::Watch& watch = r.rules().watch();
    p.frozen.assign(watch.freezeList().cbegin(), watch.freezeList().cend());
    p.pingWarned.assign(watch.pingWarningList().cbegin(), watch.pingWarningList().cend());
    p.rateWarnings = watch.rateWarnings();
    const std::optional<quint64> serial = r.rules().ledger().rosterSerial();
    p.rosterAnswered = serial.has_value();
    for (const int slot : m_punishedSlots)
        if (const QString newer = r.rules().ledger().newerPunishment(slot, serial.value_or(0));
            !newer.isEmpty())
            p.newerPunishments.append(newer);
    p.announcePosition = r.broadcaster().position();
    // Every timer of the robot, whoever owns it.
    for (const QTimer* timer : r.findChildren<QTimer*>())
        p.timers.append({timer->objectName(), timer->isActive(), timer->interval()});
    p.tasks = r.scheduler().tasks();
    p.transferring = r.transfers().running() != 0 || r.importer().running();
    return p;
}

RobotHarness& RobotHarness::instance()
{
    static RobotHarness* harness = [] {
        auto* h = new RobotHarness;
        // Never destroyed: libFuzzer ends the process from inside its loop.
        std::atexit(&RobotHarness::atExit);
        return h;
    }();
    return *harness;
}

RobotHarness::RobotHarness() : m_folder(freshFolder(QStringLiteral("robot"))), m_print(m_folder)
{
    // The system's proxy settings are looked up for every socket opened; the link only ever
    // talks to 127.0.0.1 here.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    ++g_rebuilds["first"];
    build();
}

std::shared_ptr<const SettingsState> RobotHarness::currentSettingsShared()
{
    if (!m_settingsNow || m_settingsNowAt != m_settingsChanges) {
        m_settingsNow = std::make_shared<const SettingsState>(stateOf(m_robot->settings()));
        m_settingsNowAt = m_settingsChanges;
    }
    return m_settingsNow;
}

const QString& RobotHarness::logFileNameFor(const QDate& date)
{
    auto it = m_logFileNames.constFind(date.toJulianDay());
    if (it == m_logFileNames.cend())
        it = m_logFileNames.insert(date.toJulianDay(), m_robot->logFileNameFor(date));
    return *it;
}

void RobotHarness::build()
{
    const bool first = !m_known;
    m_robot.reset();
    m_settingsNow.reset();
    m_punishedSlots.clear();
    m_punishmentSent = false;
    // The logs folder goes below, and the robot makes it anew.
    if (m_logsDir) {
        ::closedir(static_cast<DIR*>(m_logsDir));
        m_logsDir = nullptr;
    }
    if (first) {
        freshFolder(QStringLiteral("robot"));
    } else {
        // The start finds what the first robot left: its files as they were, no day's log.
        for (const QString& name : QDir(m_folder).entryList(QDir::Files | QDir::Hidden))
            if (!m_knownContents.contains(name))
                QFile::remove(m_folder + name);
        for (auto it = m_knownContents.cbegin(); it != m_knownContents.cend(); ++it)
            if (!it.key().contains(u'/') && readPlain(m_folder + it.key()) != it.value())
                writeFile(m_folder + it.key(), it.value());
        QDir(m_folder + QStringLiteral("logs")).removeRecursively();
    }
    m_clock.set(HarnessClock::start());
    m_robot = std::make_unique<Robot>(m_folder, m_clock, m_dialogs);
    Robot& r = *m_robot;
    // Every change of a setting passes one of these signals, so the settings need to be read
    // again only after one of them.
    Settings& s = r.settings();
    const auto changed = [this] { ++m_settingsChanges; };
    QObject::connect(&s, &Settings::changed, &s, changed);
    QObject::connect(&s, &Settings::banListChanged, &s, changed);
    QObject::connect(&s, &Settings::messagesChanged, &s, changed);
    QObject::connect(&s, &Settings::importListChanged, &s, changed);
    QObject::connect(&s, &Settings::importSelectionChanged, &s, changed);
    QObject::connect(&s, &Settings::uploadAddressChanged, &s, changed);
    QObject::connect(&s, &Settings::importIntervalChanged, &s, changed);

    // As the program starts: the folder, then the settings (a new robot finds the files the
    // first one saved).
    r.startUp();
    r.loadSettingsAtStart();
    s.setHost(QStringLiteral("127.0.0.1"));
    s.setPort(QString::number(silentPort()));
    s.setPassword(kPassword);
    s.setBanList({QStringLiteral("0 cheater"), QStringLiteral("1 192.0.2."),
                  QStringLiteral("2 camper"), QStringLiteral("3 boom"), QStringLiteral("4 kill"),
                  QStringLiteral("x other form")});
    s.setMessages({QStringLiteral("Udv a szerveren!"), QStringLiteral("Ne csalj!")});
    s.setFlag(Key::RateCheck, true);
    s.setFlag(Key::CommandListener, true);
    s.setFlag(Key::Scheduler, true);
    r.link().connectAction();
    if (!r.link().isConnected())
        fail(QStringLiteral("the link did not connect"));
    // The greeting is queued from the event loop's next turn.
    QCoreApplication::sendPostedEvents();
    r.intake().handleDatagram(kEmptyStatus);
    // The greeting leaves; nothing else is queued.
    if (!drain() || m_punishmentSent)
        fail(QStringLiteral("the greeting did not leave"));
    r.saveNow();

    if (!first) {
        // A new robot built the same way is in the known state, which the first one proved.
        r.console().replace(m_knownConsole);
        r.consoleLog().save(r.intake().logFileName());
        m_files = m_print.take();
        FUZZ_CHECK(m_files == m_knownFiles, FolderPrint::describe(m_knownFiles, m_files));
        const Picture now = picture();
        FUZZ_CHECK(now == *m_known, QStringLiteral("a new robot differs from the first: ") +
                                        now.differences(*m_known));
        return;
    }
    m_known = std::make_unique<Picture>(picture());
    m_logsPath = QFile::encodeName(m_folder + QStringLiteral("logs"));
    m_knownLogName = QFile::encodeName(QFileInfo(m_known->logFileName).fileName());
    m_knownConsole = r.console().lines();
    // The console as every later input finds it: replaced, and saved whole.
    r.console().replace(m_knownConsole);
    r.consoleLog().save(r.intake().logFileName());
    m_knownFiles = m_print.take();
    m_knownContents = savedFiles();
    const QString log = r.intake().logFileName();
    m_knownContents.insert(QStringLiteral("logs/") + QFileInfo(log).fileName(),
                           readPlain(log).value_or(QByteArray()));
    m_files = m_knownFiles;
    m_thorough = true;
    checkLog(true);
    checkSavedSettings();
}

std::unique_ptr<scheduler::Scheduler> RobotHarness::newScheduler()
{
    Robot& r = *m_robot;
    auto scheduler = std::make_unique<scheduler::Scheduler>(r.settings(), m_clock, &r,
                                                            r.programFolder());
    scheduler->setActions(r.schedulerActions());
    return scheduler;
}

// ---- one input -----------------------------------------------------------------------------

void RobotHarness::deliver(const QByteArray& datagram)
{
    Robot& r = *m_robot;
    const QString text = mayBeChannelReply(datagram) ? link::cleanedReply(datagram) : QString();
    const bool channel = text.size() >= 3 && link::isChannelReply(text);
    if (channel)
        checkFilesKept();
    // The state itself, not a copy: a change makes a new one.
    const std::shared_ptr<const SettingsState> before = currentSettingsShared();
    const quint64 changesBefore = m_settingsChanges;
    const QStringList queueBefore = r.link().queue();
    const QStringList rosterBefore = r.roster().text();
    const quint64 generation = r.console().generation();
    const qsizetype consoleBefore = r.console().size();
    const QString logBefore = r.intake().logFileName();
    // The closing day's console, kept only when the clock stands in another day than the
    // intake's log: the day can change only then.
    std::optional<link::Lines> dayBefore;
    if (logBefore != logFileNameFor(m_clock.now().date()))
        dayBefore = r.console().content().snapshot();
    const QHash<QString, QByteArray> contentsBefore =
        m_thorough && !channel ? savedFiles() : QHash<QString, QByteArray>();
    const QList<scheduler::Task> tasksBefore = r.scheduler().tasks();
    const qint64 dialogsBefore = m_dialogs.count();

    bool completed = true;
    try {
        r.intake().handleDatagram(datagram);
    } catch (const Error&) {
        // The engine's own errors (a number column without a number) end the datagram's
        // handling, and the socket drops them. Anything else escapes and stops the run.
        completed = false;
    }
    finishChecks(r);

    const bool settingsTouched = m_thorough || m_settingsChanges != changesBefore;
    if (settingsTouched)
        checkRanges(r.settings());
    const link::LineStore& lines = r.console().content();
    for (qsizetype i = r.console().generation() == generation ? consoleBefore : 0; i < lines.size();
         ++i)
        FUZZ_CHECK(!holdsLineBreak(lines.bytes(i)), lines.line(i));
    FUZZ_CHECK(r.roster().rows().size() <= 255, QString::number(r.roster().rows().size()));
    for (const QStringList& row : r.roster().rows())
        FUZZ_CHECK(row.size() == roster::Roster::kColumns, row.join(u'|'));

    if (r.intake().logFileName() != logBefore) {
        // The change of day: the closed day's log holds that day's whole console.
        FUZZ_CHECK(dayBefore, QStringLiteral("the day changed to ") + r.intake().logFileName() +
                                  QStringLiteral(" while the clock stood in the log's day"));
        const std::optional<QByteArray> closed = readPlain(logBefore);
        FUZZ_CHECK(closed && *closed == consoleBytes(*dayBefore),
                   QStringLiteral("the closed day's log ") + logBefore + QStringLiteral(": ") +
                       QString::number(closed.value_or(QByteArray()).size()) +
                       QStringLiteral(" / ") + QString::number(consoleBytes(*dayBefore).size()) +
                       QStringLiteral(" bytes"));
    }

    if (!channel) {
        if (settingsTouched) {
            const SettingsState& after = currentSettings();
            FUZZ_CHECK(after == *before, difference(*before, after));
        }
        m_filesToCheck = true;
        if (m_thorough) {
            checkFilesKept();
            FUZZ_CHECK(savedFiles() == contentsBefore,
                       QStringList(savedFiles().keys()).join(u' '));
        }
        FUZZ_CHECK(r.scheduler().tasks() == tasksBefore,
                   QString::number(r.scheduler().tasks().size()));
        FUZZ_CHECK(m_dialogs.count() == dialogsBefore, m_dialogs.last());
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
    // The log only grows between changes of day, and each closed day's file is compared whole
    // above: the current day's file is compared at the end of the input, and after each
    // datagram only in a thorough one.
    if (m_thorough)
        checkLog(false);
}

// The files as the last look found them: no datagram but a channel reply changes them, so the
// folder is looked at once after a run of other datagrams, before a channel reply or the end of
// the input (and after each one in a thorough input).
void RobotHarness::checkFilesKept()
{
    if (!std::exchange(m_filesToCheck, false))
        return;
    const FolderPrint::Files files = m_print.take();
    FUZZ_CHECK(files == m_files, QStringLiteral("a datagram that is no channel reply changed ") +
                                     FolderPrint::describe(m_files, files));
}

void RobotHarness::finish()
{
    checkFilesKept();
    m_robot->saveNow();
    checkLog(true);
    checkSavedSettings();

    ++g_inputs;
    ++m_inputs;
    if (const QString reason = restore(); !reason.isEmpty()) {
        ++g_rebuilds[reason.toStdString()];
        build();
    }
    m_thorough = m_inputs % kThoroughEvery == 0;
}

// ---- back to the known state ---------------------------------------------------------------

void RobotHarness::handle(const QByteArray& datagram)
{
    m_handled = true;
    try {
        m_robot->intake().handleDatagram(datagram);
    } catch (const Error&) {
        // Dropped, as the socket drops it.
    }
    finishChecks(*m_robot);
}

bool RobotHarness::drain()
{
    link::Link& link = m_robot->link();
    while (!link.queue().isEmpty()) {
        const QString head = link.queue().front();
        const qsizetype waiting = link.queue().size();
        try {
            link.pacerTick();
        } catch (const Error&) {
            return false;
        }
        if (link.queue().size() >= waiting)
            return false;
        if (const std::optional<int> slot = rules::Ledger::punishedSlot(head)) {
            m_punishmentSent = true;
            m_punishedSlots.insert(*slot);
        }
    }
    return true;
}

// A punishment sent stays in the rule checks' ledger, which leaves that slot out of the checks
// of every roster whose `status` left before it. A `status` sent after it and its reply make
// every roster from then on newer than every punishment sent: as if none was. A `status` the
// input sent before the punishment and left unanswered takes the first reply, so it may take
// two.
bool RobotHarness::punishmentsUnanswered() const
{
    const rules::Ledger& ledger = m_robot->rules().ledger();
    const std::optional<quint64> serial = ledger.rosterSerial();
    return std::any_of(m_punishedSlots.cbegin(), m_punishedSlots.cend(), [&](int slot) {
        return !ledger.newerPunishment(slot, serial.value_or(0)).isEmpty();
    });
}

// Answers the punishments sent with a `status` and an empty roster.
void RobotHarness::answerPunishments()
{
    for (int round = 0; m_punishmentSent && round < 3; ++round) {
        m_robot->link().sendFromCommandBox(QStringLiteral("status"));
        drain();
        handle(kEmptyStatus);
        m_punishmentSent = punishmentsUnanswered();
    }
}

// The freeze, rate and ping checks remember players between replies. A reply listing every
// remembered slot with a score, a low ping and the required rate makes them forget it; the
// rate warnings, one count for all players, end only with a kick at the fourth, so the reply
// also brings as many players of another rate as the count lacks, the kicking one last. When
// punishments wait for an answer, the calm reply is that answer: its roster is then newer than
// every punishment, and no slot is left out of its checks.
void RobotHarness::calmTheChecks()
{
    Robot& r = *m_robot;
    const rules::Watch& watch = r.rules().watch();
    for (int round = 0; round < 3; ++round) {
        if (watch.freezeList().isEmpty() && watch.pingWarningList().isEmpty() &&
            watch.rateWarnings() == 0)
            return;
        r.rules().learning().clear();
        const QByteArray reply = calmReply();
        if (m_punishmentSent) {
            m_robot->link().sendFromCommandBox(QStringLiteral("status"));
            drain();
        }
        handle(reply);
        drain();
        m_punishmentSent = m_punishmentSent && punishmentsUnanswered();
    }
}

QByteArray RobotHarness::calmReply() const
{
    const rules::Watch& watch = m_robot->rules().watch();
    QList<int> remembered = watch.freezeList();
    for (int slot : watch.pingWarningList())
        if (!remembered.contains(slot))
            remembered.append(slot);
    const int rate = m_robot->settings().requiredRate();
    QByteArray reply = QByteArray(kEmptyStatus).chopped(1);
    const auto player = [&](int slot, int playerRate) {
        // The slot is read from two columns after a blank, as a byte: a slot above 246 was
        // read from a negative number.
        const QString slotText = slot >= 247 ? QStringLiteral(" -") + QString::number(256 - slot)
                                             : QStringLiteral("%1").arg(slot, 3);
        reply += QString(QStringLiteral("%1 %2 %3 %4 calm%5 %6 10.0.0.%7:28960 %8 %9\n"))
                     .arg(slotText)
                     .arg(1, 5)
                     .arg(0, 4)
                     .arg(0, 6)
                     .arg(slot, -11)
                     .arg(0, 7)
                     .arg(slot % 250 + 1, -10)
                     .arg(1000, 5)
                     .arg(playerRate, 5)
                     .toLatin1();
    };
    for (int slot : remembered)
        player(slot, rate);
    if (watch.rateWarnings() > 0) {
        const int missing = 4 - watch.rateWarnings();
        for (int slot = 0, added = 0; added < missing && slot < 255; ++slot)
            if (!remembered.contains(slot)) {
                player(slot, rate == 5000 ? 6000 : 5000);
                ++added;
            }
    }
    reply += '\n';
    return reply;
}

QString RobotHarness::restore()
{
    Robot& r = *m_robot;
    m_clock.set(HarnessClock::start());
    m_handled = false;
    // The day changed along the input: the intake goes back to the first day with the next
    // datagram it handles (the end of an open reply, or one of the harness's own); then that
    // day's log and the console as known, below; the other days' logs go.
    const bool dayChanged = r.intake().logFileName() != m_known->logFileName;
    // Only the end of a reply closes the assembly, and that runs the checks on what it holds.
    if (!r.intake().assemblyBuffer().isEmpty()) {
        handle(kEndOfReply);
        if (!r.intake().assemblyBuffer().isEmpty())
            handle(kEndOfReplyWithHeaderWord);
        if (!r.intake().assemblyBuffer().isEmpty())
            return QStringLiteral("open status reply");
    }
    const bool settingsChanged =
        currentSettings() != m_known->settings && applySettings(r.settings(), m_known->settings);
    // The announcer goes round the messages: on to the first one.
    for (int said = 0; r.broadcaster().position() != m_known->announcePosition && said < 256;
         ++said)
        r.broadcaster().announceNext();
    // Sending what waits empties the queue.
    if (!drain())
        return QStringLiteral("queue would not empty");
    calmTheChecks();
    answerPunishments();
    // Each datagram handled above, at the known state's time, took the intake back to the
    // known day, closing the later one; without any, one more does. Then the other days' logs
    // go.
    if (dayChanged) {
        if (r.intake().logFileName() != m_known->logFileName)
            handle(kBackToTheDay);
        if (!removeAllBut(m_logsDir, m_logsPath, m_knownLogName))
            return QStringLiteral("other days' logs");
    }

    if (r.roster().text() != m_known->rosterText || r.roster().rows() != m_known->rosterRows) {
        r.roster().setText(m_known->rosterText);
        r.roster().clearRows();
    }
    if (!r.rules().learning().entries().isEmpty())
        r.rules().learning().clear();
    // Files the input left beside the known ones (a task file, say).
    bool removed = false;
    if (m_files != m_knownFiles)
        for (const FolderPrint::File& file : m_files)
            if (!FolderPrint::holds(m_knownFiles, QString::fromStdString(file.name)))
                removed = QFile::remove(m_folder + QString::fromStdString(file.name)) || true;
    // The files as the last look found them, unless something here may have written them.
    const bool filesTouched = settingsChanged || m_handled || removed;
    if (filesTouched)
        r.saveSettings();
    r.console().replace(m_knownConsole);
    r.consoleLog().save(r.intake().logFileName());

    if (const Picture now = picture(); now != *m_known)
        return QStringLiteral("state: ") + now.differences(*m_known);
    if (filesTouched)
        m_files = m_print.take();
    if (m_files != m_knownFiles)
        return QStringLiteral("files: ") + FolderPrint::describe(m_knownFiles, m_files);
    return {};
}

// ---- checks --------------------------------------------------------------------------------

QHash<QString, QByteArray> RobotHarness::savedFiles() const
{
    QHash<QString, QByteArray> files;
    const QDir folder(m_folder);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name != record::ActRecord::kFileName && name != record::ActRecord::kPreviousFileName)
            files.insert(name, readPlain(m_folder + name).value_or(QByteArray()));
    return files;
}

// The day's log holds the console as it stood at the last save: a beginning of the console,
// whole lines, all of it right after a save. The log only grows by appending while the console
// only grows, so what was compared before is not read again: only what the file gained.
void RobotHarness::checkLog(bool whole)
{
    Robot& r = *m_robot;
    const link::LineStore& console = r.console().content();
    const QByteArray name = QFile::encodeName(r.intake().logFileName());
    LogSeen& seen = m_logSeen;
    struct stat st{};
    const bool exists = ::stat(name.constData(), &st) == 0;
    if (!exists) {
        FUZZ_CHECK(!whole, r.intake().logFileName());
        seen = {};
        return;
    }
    const bool grown = !m_thorough && seen.name == name && seen.inode == quint64(st.st_ino) &&
                       seen.generation == r.console().generation() &&
                       seen.bytes <= qint64(st.st_size) && seen.lines <= console.size();
    if (!grown)
        seen = {name, quint64(st.st_ino), r.console().generation(), 0, 0};
    quint64 inode = 0;
    readInto(name, m_logBuffer, seen.bytes, &inode);
    // Line by line against the console, from the first line not yet compared.
    qsizetype at = 0;
    qsizetype line = seen.lines;
    const qsizetype size = m_logBuffer.size();
    const char* bytes = m_logBuffer.constData();
    while (at < size && line < console.size()) {
        const QByteArrayView expected = console.bytes(line);
        const qsizetype end = at + expected.size() + 2;
        if (end > size || QByteArrayView(bytes + at, expected.size()) != expected ||
            bytes[end - 2] != '\r' || bytes[end - 1] != '\n')
            break;
        at = end;
        ++line;
    }
    if (at == size && (!whole || line == console.size()) && inode == seen.inode) {
        seen.bytes += size;
        seen.lines = line;
        return;
    }
    fail(QStringLiteral("the day's log differs from the console at line ") +
         QString::number(line) + QStringLiteral(" (") + QString::number(seen.bytes + at) +
         QStringLiteral(" of ") + QString::number(seen.bytes + size) +
         QStringLiteral(" bytes): '") +
         printable(text::fromCp1250(QByteArrayView(m_logBuffer).sliced(at).first(
             std::min<qsizetype>(size - at, 120)))) +
         QStringLiteral("' / '") +
         printable(line < console.size() ? console.line(line) : QStringLiteral("(end)")) +
         u'\'');
}

// What the robot saved reads back as what it holds: no value, list line or character is lost
// or split on the way through the files. Reading is a function of the files' bytes, so files
// that read back as these settings before and have not changed since are not read again.
void RobotHarness::checkSavedSettings()
{
    const SettingsState& held = currentSettings();
    // The list files are code page 1250: a character it lacks (only the web page's acts bring
    // one, the network speaks the code page) is written as '?'.
    const auto readsAs = [&held](const SettingsState& read) {
        if (read == held)
            return true;
        SettingsState stored = held;
        stored.banList = asStored(held.banList);
        stored.messages = asStored(held.messages);
        stored.importList = asStored(held.importList);
        return read == stored;
    };
    m_files = m_print.take();
    const FolderPrint::Files files = settingsFiles(m_files);
    if (!m_thorough) {
        if (const SettingsState* verified = m_verified.find(files)) {
            FUZZ_CHECK(readsAs(*verified), difference(held, *verified));
            return;
        }
    }
    Settings reread;
    settings::SettingsStore store(reread, m_folder);
    quietHooks(store);
    store.load();
    const SettingsState read = stateOf(reread);
    FUZZ_CHECK(readsAs(read), difference(held, read));
    m_verified.insert(files, read);
}

size_t qHash(const FolderPrint::Files& files, size_t seed)
{
    size_t key = seed;
    for (const FolderPrint::File& file : files)
        key = qHashMulti(key, std::hash<std::string>()(file.name), file.size, file.hash);
    return key;
}

// The folder as the known state left it, byte for byte. Only Qt's own file functions run here:
// the engine's function-local statics may be gone by now.
void RobotHarness::compareFolderWithKnownState() const
{
    QHash<QString, QByteArray> files = savedFiles();
    const QString logs = m_folder + QStringLiteral("logs/");
    for (const QString& name : QDir(logs).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(QStringLiteral("logs/") + name, readPlain(logs + name).value_or(QByteArray()));
    if (files == m_knownContents)
        return;
    for (auto it = m_knownContents.cbegin(); it != m_knownContents.cend(); ++it)
        if (files.value(it.key()) != it.value())
            fail(QStringLiteral("at exit, ") + it.key() + QStringLiteral(" differs"));
    fail(QStringLiteral("at exit, the folder holds other files: ") +
         QStringList(files.keys()).join(u' '));
}

void RobotHarness::atExit()
{
    const RobotHarness& h = instance();
    if (h.m_robot)
        h.compareFolderWithKnownState();
    qint64 rebuilt = 0;
    std::string reasons;
    for (const auto& [reason, count] : g_rebuilds) {
        rebuilt += count;
        reasons += (reasons.empty() ? "" : ", ") + reason + ": " + std::to_string(count);
    }
    std::fprintf(stderr,
                 "robot harness: %lld inputs, each from the known state; %lld on a new robot "
                 "(%s)\n",
                 static_cast<long long>(g_inputs), static_cast<long long>(rebuilt),
                 reasons.c_str());
}

} // namespace vigilor::fuzz
