#pragma once

#include "link/dialogs.h"
#include "robot/robot.h"
#include "support/fuzzsupport.h"
#include "text/clock.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vigilor::fuzz {

// A clock that stands still until the harness moves it; a wait moves it on at once.
class HarnessClock final : public Clock
{
public:
    static QDateTime start() { return QDateTime(QDate(2026, 12, 8), QTime(12, 34, 56)); }
    QDateTime now() const override { return m_now; }
    void wait(int milliseconds) override { m_now = m_now.addMSecs(milliseconds); }
    void set(const QDateTime& when) { m_now = when; }
    void advance(qint64 milliseconds) { m_now = m_now.addMSecs(milliseconds); }

private:
    QDateTime m_now = start();
};

// Counts what was shown and answers at once as an operator who says no and types nothing.
class HarnessDialogs final : public Dialogs
{
public:
    void message(const QString& text) override { shown(text); }
    void question(const QString& text, Answered answered) override
    {
        shown(text);
        if (answered)
            answered(false);
    }
    void input(const QString& title, const QString& prompt, const QString&,
               Entered entered) override
    {
        shown(title + u'|' + prompt);
        if (entered)
            entered(std::nullopt);
    }
    qint64 count() const { return m_count; }
    const QString& last() const { return m_last; }

private:
    void shown(const QString& text)
    {
        ++m_count;
        m_last = text;
    }
    qint64 m_count = 0;
    QString m_last;
};

// What a target may see of the files in a folder: every regular file's name, size and a hash of
// its content. Files whose status (inode, size, times) did not change since the last look are
// not read again, and a folder the kernel reported no change in since the last look (inotify:
// no file in it written, made, removed, renamed or given other attributes, the folder itself
// neither removed nor moved) is not listed again.
class FolderPrint final
{
public:
    struct File
    {
        std::string name; // as the file system has it
        qint64 size = 0;
        size_t hash = 0;
        bool operator==(const File&) const = default;
    };
    using Files = std::vector<File>; // by name

    explicit FolderPrint(const QString& folder);
    ~FolderPrint();
    FolderPrint(const FolderPrint&) = delete;
    FolderPrint& operator=(const FolderPrint&) = delete;

    // The folder's files now (subfolders left out).
    Files take();
    static bool holds(const Files& files, const QString& name);
    static QString describe(const Files& a, const Files& b); // the first difference

private:
    struct Seen
    {
        std::string name;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modified = 0; // nanoseconds
        qint64 changed = 0;
        size_t hash = 0;
    };
    bool changedSinceLastLook();

    std::string m_folder;
    void* m_dir = nullptr; // DIR
    quint64 m_dirInode = 0;
    int m_notifier = -1; // inotify, watching the folder opened
    bool m_lastValid = false;
    Files m_last; // what the last look found
    std::vector<Seen> m_seen;
    std::vector<Seen> m_fresh;
    QByteArray m_buffer;
};

// A folder print's hash, for the memo of settings read back.
size_t qHash(const FolderPrint::Files& files, size_t seed = 0);

// The engine as the program assembles it, once per process: a fake clock, the link
// connected to a port on 127.0.0.1 that never answers, settings holding a ban list, messages and
// the usual switches (the scheduler on), and an empty `status` reply already handled, so that
// the checks and the channel commands have something to work on. No event loop runs, so the
// pacer never sends and every command the engine queues stays in the queue for the checks to
// see.
//
// Every input begins from the same known state: finish() takes the robot back to it (console,
// day log, roster, queue, settings, files) through the engine's own operations and then compares
// everything the engine shows of itself with the known state. What the operations cannot take
// back gets a robot built afresh, so a failure never depends on the inputs before it. At exit,
// the folder is compared byte for byte with the known state.
class RobotHarness final
{
public:
    static RobotHarness& instance();

    // The rcon password the known state holds: long and unlike any other text, so that a check
    // finding it in an answer finds a leak, not a coincidence.
    static inline const QString kPassword = QStringLiteral("Rcon-Pw-7f3k");

    Robot& robot() { return *m_robot; }
    HarnessClock& clock() { return m_clock; }
    QString folder() const { return m_folder; }

    // Hands one datagram to the intake as the socket does, then checks what must hold:
    // - only the engine's own errors end a datagram's handling (no other exception, no crash);
    // - a datagram that is not a channel reply reaches nothing outside the console: it changes
    //   no setting, no file but the day's log and no task, shows no dialog, starts no transfer,
    //   and queues no command, unless it completed a roster with players, whose checks may
    //   punish;
    // - after a channel reply, the files the robot saved read back as the settings it holds,
    //   and the command channel's reset is the last command queued;
    // - numbers stay in their ranges, console lines hold no line break, and at a change of day
    //   the closed day's file holds that day's whole console.
    // The folder is looked at once a run of datagrams that are no channel reply has ended, and
    // the day's log (a beginning of the console) at the end of the input; both after every
    // datagram in a thorough input.
    void deliver(const QByteArray& datagram);

    // The end of an input: ">> Beállítások mentése <<", then the day's log must hold exactly
    // the console and the saved files must read back as the settings (a character code page
    // 1250 lacks in a list as '?'). Then the known state.
    void finish();

    // A scheduler of its own for a target that starts one with a task file, wired to this
    // robot as the robot wires its own (whose once-per-run start tasks are spent after the
    // first input).
    std::unique_ptr<scheduler::Scheduler> newScheduler();

    // Every this many inputs, and for the first, the checks compare the files byte for byte
    // and read the settings back whatever the hashes say.
    static constexpr qint64 kThoroughEvery = 4096;

private:
    struct Picture;

    RobotHarness();
    void build();
    // The robot's name for a day's log, remembered: an input's clock sees the same few days.
    const QString& logFileNameFor(const QDate& date);
    // Takes the robot back to the known state; the reason when only a new robot can.
    QString restore();
    void handle(const QByteArray& datagram);
    bool drain();
    bool punishmentsUnanswered() const;
    void answerPunishments();
    void calmTheChecks();
    QByteArray calmReply() const;
    Picture picture();
    // The settings as they stand, read again only after a change signal.
    const SettingsState& currentSettings() { return *currentSettingsShared(); }
    std::shared_ptr<const SettingsState> currentSettingsShared();
    void checkLog(bool whole);
    void checkFilesKept();
    void checkSavedSettings();
    QHash<QString, QByteArray> savedFiles() const;
    void compareFolderWithKnownState() const;
    static void atExit();

    QString m_folder;
    HarnessClock m_clock;
    HarnessDialogs m_dialogs;
    std::unique_ptr<Robot> m_robot;
    FolderPrint m_print;

    // The known state.
    std::unique_ptr<Picture> m_known;
    QStringList m_knownConsole;
    FolderPrint::Files m_knownFiles;
    QHash<QString, QByteArray> m_knownContents; // the day's log as "logs/NAME"
    QByteArray m_logsPath;     // the logs folder, as the file system spells it
    QByteArray m_knownLogName; // the known day's log in it
    void* m_logsDir = nullptr; // DIR: the logs folder, open from one input to the next
    QHash<qint64, QString> m_logFileNames; // by Julian day

    // Along an input.
    quint64 m_settingsChanges = 0;
    std::shared_ptr<const SettingsState> m_settingsNow; // held on to by a check that compares
    quint64 m_settingsNowAt = 0;
    struct LogSeen // what of the day's log has been compared with the console
    {
        QByteArray name;
        quint64 inode = 0;
        quint64 generation = 0; // of the console
        qint64 bytes = 0;
        qsizetype lines = 0;
    };
    LogSeen m_logSeen;
    QByteArray m_logBuffer;
    qint64 m_inputs = 0;
    bool m_punishmentSent = false;
    bool m_handled = false; // a datagram handled while the known state is restored
    std::set<int> m_punishedSlots; // by this robot, ever
    bool m_thorough = true;
    bool m_filesToCheck = false; // datagrams handled since the last look at the folder
    FolderPrint::Files m_files; // as the last look found them
    // Settings files read back lately, and what they read as, found by the files' prints. Read
    // back after every channel reply that changed a setting, which the fuzzer brings again and
    // again with the same few commands.
    Memo<SettingsState, FolderPrint::Files> m_verified;
};

// False when the datagram cannot be a channel reply, whatever its text.
bool mayBeChannelReply(QByteArrayView datagram);

} // namespace vigilor::fuzz
