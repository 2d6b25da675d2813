#include "record/actrecord.h"

#include "io/files.h"
#include "text/clock.h"
#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <QFile>

#include <algorithm>

namespace vigilor::record {

namespace {

constexpr int kFields = 8;

QString flat(QString text)
{
    for (QChar& c : text)
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    return text;
}

// The acts of a file's content, and whether it ends in a line cut short.
QList<Act> actsOf(const QByteArray& content, bool* cut)
{
    QList<Act> acts;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        const bool whole = end >= 0;
        if (!whole)
            end = content.size();
        QByteArrayView line(content.constData() + start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (auto act = decodeLine(line))
            acts.append(std::move(*act));
        if (!whole && cut)
            *cut = true;
        start = end + 1;
    }
    return acts;
}

} // namespace

QByteArray encodeLine(const Act& act)
{
    const QString line = flat(act.when) + u'\t' + flat(act.who) + u'\t' + flat(act.where) + u'\t' +
                         flat(act.what) + u'\t' + flat(act.slot) + u'\t' + flat(act.name) + u'\t' +
                         flat(act.address) + u'\t' + flat(act.why);
    return text::toCp1250(line) + "\r\n";
}

std::optional<Act> decodeLine(QByteArrayView line)
{
    const QStringList fields = text::fromCp1250(line).split(u'\t');
    if (fields.size() != kFields || fields[0].isEmpty() || fields[1].isEmpty())
        return std::nullopt;
    return Act{fields[0], fields[1], fields[2], fields[3],
               fields[4], fields[5], fields[6], fields[7]};
}

ActRecord::ActRecord(const QString& folder, Clock& clock, Say say)
    : m_folder(folder), m_clock(clock), m_say(std::move(say))
{
}

void ActRecord::load()
{
    m_acts.clear();
    m_previousActs = 0;
    m_size = -1;
    m_needsBreak = false;
    const auto read = [this](const QString& path) -> QByteArray {
        try {
            return io::readFileIfPresent(path).value_or(QByteArray());
        } catch (const FileError& e) {
            failed(QStringLiteral("A napló nem olvasható: ") + path + QStringLiteral(" (") +
                   e.reason() + u')');
            return {};
        }
    };
    m_acts = actsOf(read(previousPath()), nullptr);
    m_previousActs = m_acts.size();
    const QByteArray current = read(path());
    m_acts += actsOf(current, &m_needsBreak);
    m_size = current.size();
}

void ActRecord::add(Act act)
{
    act.when = text::dateTime(m_clock.now());
    const QByteArray line = encodeLine(act);
    m_acts.append(std::move(act));
    write(line);
}

void ActRecord::write(const QByteArray& line)
{
    const QString file = path();
    const qint64 onDisk = io::regularFileSize(file);
    if (onDisk < 0) {
        m_size = 0; // none yet, or removed by hand: a new file
        m_needsBreak = false;
    } else if (m_size < 0) {
        m_size = onDisk;
    }
    if (m_size > 0 && m_size + line.size() > m_rotateBytes) {
        const QString previous = previousPath();
        QString error;
        if (io::moveOver(file, previous, &error)) {
            m_acts.remove(0, m_previousActs);
            m_previousActs = m_acts.size() - 1; // all but the act being written
            m_size = 0;
            m_needsBreak = false;
        } else {
            failed(QStringLiteral("A napló nem forgatható: ") + file + QStringLiteral(" -> ") +
                   previous + QStringLiteral(" (") + error + u')');
        }
    }
    const QByteArray bytes = m_needsBreak ? "\r\n" + line : line;
    bool written = false;
    QString error;
    if (m_size == 0 && io::regularFileSize(file) < 0) {
        try {
            io::replaceFile(file, bytes);
            written = true;
        } catch (const FileError& e) {
            error = e.reason();
        }
    } else {
        io::Appending out(file);
        written = out.open() && out.write(bytes);
        if (!written)
            error = out.errorString();
        written = out.close() && written;
        if (!written && error.isEmpty())
            error = out.errorString();
    }
    if (!written) {
        // What part of it reached the disk is not known: the next line starts on a line of its
        // own, and the size is looked at again.
        m_needsBreak = true;
        m_size = -1;
        failed(QStringLiteral("A napló nem írható: ") + file + QStringLiteral(" (") + error + u')');
        return;
    }
    m_size += bytes.size();
    m_needsBreak = false;
    m_failing = false;
}

void ActRecord::failed(const QString& why)
{
    if (std::exchange(m_failing, true))
        return;
    if (m_say)
        m_say(why);
}

ActRecord::Answer ActRecord::find(const Query& query) const
{
    const QString player = text::asciiLower(query.player);
    const QString by = text::asciiLower(query.by);
    const int limit = std::clamp(query.limit, 0, kMaxAnswer);
    Answer answer;
    for (qsizetype i = m_acts.size() - 1; i >= 0; --i) {
        const Act& act = m_acts[i];
        if (!player.isEmpty() && !text::asciiContains(act.name, player) &&
            !text::asciiContains(act.address, player))
            continue;
        if (!by.isEmpty() && !text::asciiContains(act.who, by) && act.where != query.by)
            continue;
        if (answer.matched >= query.skip && answer.acts.size() < limit)
            answer.acts.append(act);
        ++answer.matched;
    }
    return answer;
}

} // namespace vigilor::record
