#include "link/reply.h"

#include "link/datagram.h"
#include "text/cp1250.h"
#include "text/textutil.h"

#include <utility>

namespace vigilor::link {

QString cleanedReply(QByteArrayView datagram)
{
    QString text = text::stripColours(text::fromCp1250(datagram));
    const QString header = replyHeader();
    if (const qsizetype at = text.indexOf(header); at >= 0)
        text.remove(at, header.size());
    return text;
}

QString colouredReply(QByteArrayView datagram)
{
    QString text = text::fromCp1250(datagram);
    const QString header = replyHeader();
    if (const qsizetype at = text.indexOf(header); at >= 0)
        text.remove(at, header.size());
    return text;
}

QHash<QString, QString> colouredLines(QStringView colouredText)
{
    QHash<QString, QString> coloured;
    for (const QString& line : text::splitLines(colouredText)) {
        if (line.contains(u'^'))
            coloured.insert(text::stripColours(line), line);
    }
    return coloured;
}

QStringList withColours(const QStringList& lines, const QHash<QString, QString>& coloured)
{
    QStringList result;
    result.reserve(lines.size());
    for (const QString& line : lines)
        result.append(coloured.value(line));
    return result;
}

bool isChannelReply(QStringView text)
{
    return text.contains(kChannelMarker) || text.contains(kChannelMarkerWithBlank);
}

bool StatusAssembly::takes(QStringView text) const
{
    return text.contains(kColumnWord) || (!m_complete && m_buffer.contains(kColumnWord));
}

bool StatusAssembly::join(QStringView text)
{
    if (!m_complete)
        ++m_fragments;
    m_buffer += text.mid(1);
    m_complete = text::endsWithEmptyLine(m_buffer);
    return m_complete;
}

QString StatusAssembly::take()
{
    m_fragments = 0;
    return std::exchange(m_buffer, QString());
}

} // namespace vigilor::link
