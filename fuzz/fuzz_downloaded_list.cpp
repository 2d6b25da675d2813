// The downloaded public ban list: the input is the body of "rconpb.ban" as any web server may
// send it. The reader takes it as the list file it is or refuses it whole; what it takes
// uploads and downloads again as the same lines; and merging it into an own list, and the own
// list into it, keeps the merge rule for every line.
#include "exchange/banfile.h"
#include "exchange/merge.h"
#include "rules/banentry.h"
#include "settings/textfile.h"
#include "support/fuzzsupport.h"
#include "text/textutil.h"

#include <QHash>

#include <algorithm>

using namespace vigilor;
using namespace vigilor::exchange;
using namespace vigilor::fuzz;

namespace {

using Result = MergeList::Result;

QStringList sortedCopy(QStringList lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// What the checks need to know of a list, kept along with its merges rather than worked out
// anew for every line (that made an input's cost grow with the square of its length): each
// line's merge key in the list's order, and how many lines fold to each text.
struct Shadow
{
    explicit Shadow(const QStringList& lines)
    {
        keys.reserve(lines.size());
        for (const QString& line : lines) {
            keys.append(mergeKey(line));
            ++keyCount[keys.back()];
            ++folded[text::asciiLower(line)];
        }
    }
    bool holdsFolded(const QString& foldedLine) const { return folded.value(foldedLine) > 0; }
    bool holdsKey(const QString& key) const { return keyCount.value(key) > 0; }
    QStringList keys;
    QHash<QString, int> keyCount;
    QHash<QString, int> folded;
};

// One line merged as "<" or ">" merges it; mayAdd false as the timed import past its limit.
void mergeChecked(MergeList& into, Shadow& shadow, const QString& line, bool mayAdd)
{
    const QStringList before = into.lines();
    const QString key = mergeKey(line);
    const QString foldedLine = text::asciiLower(line);
    const bool equalThere = shadow.holdsFolded(foldedLine);
    const Result result = into.merge(line, mayAdd);
    const QStringList& after = into.lines();
    // Described only for a failure: the whole list for every line made an input's cost grow
    // with the square of its length. A QString, not the builder expression, which would refer
    // to the lambda's temporaries.
    const auto what = [&]() -> QString {
        return u'"' + printable(line) + QStringLiteral("\" into ") + describeLines(before);
    };
    if (equalThere) {
        FUZZ_CHECK(result == Result::Unchanged && after == before, what());
        return;
    }
    switch (result) {
    case Result::Unchanged:
        fail(QStringLiteral("unchanged without an equal line: ") + what());
    case Result::Refused:
        FUZZ_CHECK(!mayAdd && after == before, what());
        FUZZ_CHECK(!shadow.holdsKey(key), what());
        return;
    case Result::Added: {
        FUZZ_CHECK(mayAdd && after.size() == before.size() + 1, what());
        FUZZ_CHECK(!shadow.holdsKey(key), what());
        const qsizetype at = into.lastAdded();
        FUZZ_CHECK(at >= 0 && at < after.size(), what());
        // The other lines stay as they were, in their order.
        QStringList expected = before;
        expected.insert(at, line);
        FUZZ_CHECK(after == expected, what());
        shadow.keys.insert(at, key);
        ++shadow.keyCount[key];
        ++shadow.folded[foldedLine];
        return;
    }
    case Result::Replaced:
        FUZZ_CHECK(after.size() == before.size(), what());
        FUZZ_CHECK(after != before, what());
        for (qsizetype i = 0; i < before.size(); ++i) {
            const bool replaced = shadow.keys[i] == key;
            FUZZ_CHECK(after[i] == (replaced ? line : before[i]), what());
            if (replaced) {
                --shadow.folded[text::asciiLower(before[i])];
                ++shadow.folded[foldedLine];
            }
        }
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body = bytesOf(data, size);
    const DownloadedList list = readDownloadedList(body);
    using Problem = DownloadedList::Problem;
    if (body.contains('\0')) {
        FUZZ_CHECK(list.problem == Problem::NotText && list.lines.isEmpty(), QString());
        return 0;
    }
    const QStringList lines = settings::linesFromBytes(body);
    if (lines.size() > kMaxListLines) {
        FUZZ_CHECK(list.problem == Problem::TooManyLines && list.lines.isEmpty(), QString());
        return 0;
    }
    FUZZ_CHECK(list.problem == Problem::None && list.lines == lines, describeLines(list.lines));
    for (const QString& line : lines)
        FUZZ_CHECK(!line.contains(u'\n') && !line.contains(u'\r'), line);

    // Uploaded, then downloaded by the next robot: the same lines, but that a character code
    // page 1250 lacks went up as '?'.
    const DownloadedList again = readDownloadedList(listFileBytes(lines));
    FUZZ_CHECK(again.problem == Problem::None && again.lines == asStored(lines),
               describeLines(again.lines));

    // The public list as the window shows it.
    MergeList publicList(lines);
    FUZZ_CHECK(sortedCopy(publicList.lines()) == sortedCopy(lines),
               describeLines(publicList.lines()));

    // "<<" into a small own list, then ">>" back; the second half of the lines as the timed
    // import merges them once its limit is reached.
    MergeList own(QStringList{QStringLiteral("0 cheater"), QStringLiteral("1 192.0.2."),
                              QStringLiteral("3 Boom"), QStringLiteral("x other form")});
    Shadow ownShadow(own.lines());
    Shadow publicShadow(publicList.lines());
    const qsizetype half = publicList.size() / 2;
    for (qsizetype i = 0; i < publicList.size(); ++i)
        mergeChecked(own, ownShadow, publicList.lines()[i], i < half);
    for (const QString& line : QStringList(own.lines()))
        mergeChecked(publicList, publicShadow, line, true);
    for (const QString& line : own.lines())
        FUZZ_CHECK(publicShadow.holdsFolded(text::asciiLower(line)), line);
    return 0;
}
