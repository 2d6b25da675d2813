#pragma once

#include "roster/serverinfo.h"
#include "rules/rostermenu.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

namespace vigilor {
class Robot;
}

namespace vigilor::web {

// What an act from the web page came to: done, or left undone with the reason (the answer's
// status and text).
struct ActResult
{
    int status = 200;
    QString why;
    bool done() const { return status == 200; }
};

// The secrets no answer may hold, as they stood when it was made: the rcon password, the FTP
// password of the upload addresses and the access key.
struct Scrubber
{
    QStringList secrets; // the longest first, so that one inside another is covered whole
    // The text with every secret replaced by asterisks.
    QString operator()(QString text) const;
};

// What the page shows of the link, the player table and the ban list, copied at one moment.
// Made on the robot's thread; the copies share their data and may be read on any thread.
struct StateSnapshot
{
    bool connected = false;
    QString address;
    QDateTime linkSince; // when the link was last made or lost (invalid before the first connect)
    roster::ServerFacts server; // its map the latest the robot heard of
    QDateTime nextTaskAt;       // the scheduler's next task (invalid when none lies ahead)
    QString nextTask;
    QList<QStringList> rows;
    QStringList bans;
};

// Console lines from `first` on, as the console keeps them (code page 1250, each line ended by
// a line feed; a console line holds none of its own): copied on the robot's thread, decoded
// wherever they are sent from.
struct ConsoleSlice
{
    qsizetype first = 0;
    QByteArray bytes;

    QStringList lines() const;
};

// The JSON of a snapshot and of console lines, with the secrets scrubbed: pure functions of
// their arguments, for any thread.
QJsonObject stateJson(const StateSnapshot& state, const Scrubber& scrub);
QJsonArray linesJson(const QStringList& lines, const Scrubber& scrub);

// The web page bound to the engine, as the window's tabs are: what the page shows, read from
// the same engine objects, and the acts, made through the same engine calls as the window's
// controls. Every act first writes a console line naming it and the address it came from.
// Nothing it hands out holds the rcon password, the FTP password or the access key.
class Binding final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Binding)

public:
    // The console lines a page is given at most at once: the last ones.
    static constexpr qsizetype kConsoleTail = 1000;
    // The longest text an act takes (a command, a chat line, a ban entry, a name).
    static constexpr qsizetype kMaxText = 1024;

    explicit Binding(Robot& robot, QObject* parent = nullptr);

    // Secrets besides the engine's own passwords that no answer may hold.
    void setAccessKey(const QByteArray& key) { m_accessKey = QString::fromLatin1(key); }

    // The link, the player table and the ban list as they stand.
    StateSnapshot snapshot() const;
    QJsonObject state() const { return stateJson(snapshot(), scrubber()); }
    // The captions that never change: the table's columns, the table menu, the grades.
    static QJsonObject captions();
    // The console: its size, and its lines from `from` on (at most the last kConsoleTail).
    qsizetype consoleSize() const;
    ConsoleSlice consoleSlice(qsizetype from) const;
    QJsonArray consoleLines(qsizetype from, qsizetype* first = nullptr) const;

    // The secrets as they stand now.
    Scrubber scrubber() const;
    // The text with every secret replaced by asterisks.
    QString scrub(QString text) const { return scrubber()(std::move(text)); }

    // A console line "Web (ADDRESS): what".
    void note(const QString& from, const QString& what);

    // The table menu's item (its object name) for the player it was offered for.
    ActResult rosterAction(const QString& from, const QString& item, const rules::TableRow& row);
    // "Küldés" and "Mondd" of the console tab.
    ActResult sendCommand(const QString& from, const QString& command);
    ActResult say(const QString& from, const QString& text);
    // The "Banlista" tab: "+" with a grade, a new grade for an entry, "-". An entry is named by
    // its row and its line as the page showed them; when the row holds another line by now, the
    // first row holding that line is meant.
    ActResult addBan(const QString& from, const QString& text, int grade);
    ActResult setBanGrade(const QString& from, int row, const QString& line, int grade);
    ActResult removeBan(const QString& from, int row, const QString& line);

signals:
    // The link, the server's facts, the scheduler's next task, the player table or the ban list
    // changed.
    void stateChanged();
    // Lines were added to the console.
    void consoleChanged();
    // The console was emptied or replaced (the change of day, the day's log loaded).
    void consoleReset();

private:
    int banRow(int row, const QString& line) const;
    ActResult leftUndone(int status, const QString& why);

    Robot& m_robot;
    QString m_accessKey;
};

} // namespace vigilor::web
