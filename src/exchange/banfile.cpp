#include "exchange/banfile.h"

#include "settings/textfile.h"

namespace vigilor::exchange {

DownloadedList readDownloadedList(QByteArrayView body)
{
    DownloadedList list;
    if (body.size() > kMaxListBytes)
        list.problem = DownloadedList::Problem::TooLarge;
    else if (body.contains('\0'))
        list.problem = DownloadedList::Problem::NotText;
    else
        list.lines = settings::linesFromBytes(body);
    if (list.lines.size() > kMaxListLines) {
        list.lines.clear();
        list.problem = DownloadedList::Problem::TooManyLines;
    }
    return list;
}

bool isWebPage(const QStringList& lines, QStringView contentType)
{
    const QStringView type = contentType.left(contentType.indexOf(u';')).trimmed();
    if (type.compare(u"text/html", Qt::CaseInsensitive) == 0)
        return true;
    for (const QString& line : lines) {
        const QStringView text = QStringView(line).trimmed();
        if (!text.isEmpty())
            return text.startsWith(u'<');
    }
    return false;
}

QByteArray listFileBytes(const QStringList& lines)
{
    return settings::linesToBytes(lines);
}

} // namespace vigilor::exchange
