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

QByteArray listFileBytes(const QStringList& lines)
{
    return settings::linesToBytes(lines);
}

} // namespace vigilor::exchange
