#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace vigilor::link {

// The server's replies read from their bytes alone, with no state of the robot: what the intake,
// the fuzz harness and the tests share.

// The text of a datagram as it is read: code page 1250, colour codes taken out, and the reply
// header (four 0xFF bytes and "print") removed where it first stands.
QString cleanedReply(QByteArrayView datagram);
// The same text with its colour codes, for a front end that draws them.
QString colouredReply(QByteArrayView datagram);
// The lines of a reply's coloured text that hold colour codes, by the line each becomes once
// the codes are removed; and for each of a cleaned reply's lines, the line with its codes (empty
// where it had none).
QHash<QString, QString> colouredLines(QStringView colouredText);
QStringList withColours(const QStringList& lines, const QHash<QString, QString>& coloured);

// The answer of the command channel: a cleaned reply holding the marker `"vigilor" is:"` (some
// servers print a blank after the colon).
inline const QString kChannelMarker = QStringLiteral("\"vigilor\" is:\"");
inline const QString kChannelMarkerWithBlank = QStringLiteral("\"vigilor\" is: \"");
bool isChannelReply(QStringView text);

// The reply to "status", which the server may send in several datagrams. A datagram belongs to
// it when it holds the column header's word " qport ", or while a reply holding it is still
// open; each adds its text without the line break that follows the header. The reply is complete
// when it ends with an empty line.
class StatusAssembly final
{
public:
    static inline const QString kColumnWord = QStringLiteral(" qport ");

    bool takes(QStringView text) const;
    // Adds one datagram's cleaned text; true when the reply is complete with it.
    bool join(QStringView text);
    // The complete reply (its datagrams were cleaned, so it holds no colour code); the buffer
    // and the fragment count start afresh.
    QString take();

    const QString& buffer() const { return m_buffer; }
    bool complete() const { return m_complete; }
    // The datagrams the reply came in, as the console reports it: counted only while a reply is
    // open, so the first datagram after a complete reply is not counted (a reply in one datagram
    // reports 0, except the very first).
    int fragments() const { return m_fragments; }

private:
    QString m_buffer;
    bool m_complete = false;
    quint8 m_fragments = 0;
};

} // namespace vigilor::link
