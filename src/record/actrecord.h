#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace vigilor {
class Clock;
}

namespace vigilor::record {

// One act: who did it (a web operator's name, "web" for the shared key, "ablak" for the window,
// or the rule that punished), from where (a web operator's address), what, to whom (slot, name
// and address, where the act aims at a player), why (a reason, the ban entry, the command) and
// when, in the console's date and time form.
struct Act
{
    QString when;
    QString who;
    QString where;
    QString what;
    QString slot;
    QString name;
    QString address;
    QString why;

    bool operator==(const Act&) const = default;
};

// Who the window's acts are recorded under.
inline const QString kWindow = QStringLiteral("ablak");
// Who the web page's acts under the shared access key are recorded under.
inline const QString kSharedKey = QStringLiteral("web");

// A line of the record file: the fields in the order above, separated by tabs, in code page
// 1250 and ended by CR LF, as the data folder's other files are. A tab or a line break inside a
// field becomes a blank.
QByteArray encodeLine(const Act& act);
// The act of one line (without its line end); none for a line of another form.
std::optional<Act> decodeLine(QByteArrayView line);

// The record of acts: every act appended to `acts.log` of the data folder as it is done, kept
// across restarts; a file grown past kRotateBytes becomes `acts.old.log` (the one before it is
// dropped) and a new one starts. The acts of both files are held in memory for the page's
// questions (at most twice kRotateBytes of lines). A write that fails (a full disk, a file that
// may not be written) is a console line, once until a write succeeds again; the act is done and
// held in memory all the same.
class ActRecord final
{
public:
    static inline const QString kFileName = QStringLiteral("acts.log");
    static inline const QString kPreviousFileName = QStringLiteral("acts.old.log");
    static constexpr qint64 kRotateBytes = 1024 * 1024;
    // The most acts one answer holds.
    static constexpr int kMaxAnswer = 500;

    using Say = std::function<void(const QString&)>;

    // folder ends with a separator.
    ActRecord(const QString& folder, Clock& clock, Say say);

    QString path() const { return m_folder + kFileName; }
    QString previousPath() const { return m_folder + kPreviousFileName; }
    void setRotateBytes(qint64 bytes) { m_rotateBytes = bytes; }

    // Reads both files (the previous first); a file that cannot be read is a console line.
    void load();
    // Stamps the act with the clock's time and appends it.
    void add(Act act);

    struct Query
    {
        QString player;  // part of the name or the address, letter case aside
        QString by;      // part of who did it, letter case aside, or his address
        int limit = 100; // at most kMaxAnswer
        int skip = 0;    // matching acts passed over, newest first
    };
    struct Answer
    {
        QList<Act> acts; // newest first
        qsizetype matched = 0;
    };
    Answer find(const Query& query) const;
    qsizetype size() const { return m_acts.size(); }

private:
    void write(const QByteArray& line);
    void failed(const QString& why);

    QString m_folder;
    Clock& m_clock;
    Say m_say;
    qint64 m_rotateBytes = kRotateBytes;
    QList<Act> m_acts; // oldest first: the previous file's, then the current file's
    qsizetype m_previousActs = 0;
    qint64 m_size = -1;        // the current file's size as written; -1 before the first look
    bool m_needsBreak = false; // the file ends in a line cut short (a kill in an append)
    bool m_failing = false;
};

} // namespace vigilor::record
