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
    // What follows the variable's name is its new value: it is shown as one fixed mark, so that
    // neither the password nor its length reaches the console, the day's log or the web page.
    const QString lower = text::asciiLower(command);
    qsizetype end = -1;
    for (QStringView name : {u"rconpassword", u"rcon_password"}) {
        const qsizetype at = lower.indexOf(name);
        if (at >= 0 && (end < 0 || at + name.size() < end))
            end = at + name.size();
    }
    if (end < 0)
        return command;
    qsizetype value = end;
    while (value < command.size() && command[value] == u' ')
        ++value;
    if (value == command.size())
        return command; // the name alone reads the variable
    const QString mark = command[value] == u'"' ? u'"' + kSecretMark + u'"' : kSecretMark;
    return command.left(value) + mark;
}

QString commandEcho(const QString& command)
{
    return QStringLiteral("Parancs küldés: \"") + maskedCommand(command) + u'"';
}

} // namespace vigilor::link
