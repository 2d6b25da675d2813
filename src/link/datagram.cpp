#include "link/datagram.h"

#include "text/cp1250.h"
#include "text/textutil.h"

namespace vigilor::link {

QByteArray rconDatagram(const QString& password, const QString& command)
{
    const QByteArray pass = text::toCp1250(text::singleLine(password));
    const QByteArray line = text::toCp1250(text::singleLine(command));
    QByteArray datagram;
    datagram.reserve(10 + pass.size() + 2 + line.size());
    datagram.append("\xff\xff\xff\xffrcon \"", 10);
    datagram += pass;
    datagram += "\" ";
    datagram += line;
    return datagram;
}

QString replyHeader()
{
    static const QString header = text::fromCp1250("\xff\xff\xff\xffprint");
    return header;
}

bool mentionsRconPassword(const QString& command)
{
    return text::asciiContains(command, u"rconpassword");
}

QString maskedCommand(const QString& command)
{
    QString shown = command;
    if (mentionsRconPassword(command)) {
        // Everything after the word is the new password (possibly quoted).
        const qsizetype at = text::asciiLower(shown).indexOf(QStringLiteral("rconpassword"));
        const qsizetype valueStart = at + 12;
        if (valueStart < shown.size()) {
            QString rest = shown.mid(valueStart);
            for (QChar& c : rest) {
                if (c != u' ' && c != u'"')
                    c = u'*';
            }
            shown = shown.left(valueStart) + rest;
        }
    }
    return shown;
}

QString commandEcho(const QString& command)
{
    return QStringLiteral("Parancs küldés: \"") + maskedCommand(command) + u'"';
}

} // namespace vigilor::link
