#include "link/linestore.h"

#include "text/cp1250.h"
#include "text/errors.h"

#include <algorithm>
#include <cstring>
#include <limits>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace vigilor::link {

namespace {

// Chunks grow from a few kilobytes (a short list of search results) to a mebibyte; a longer
// line gets a chunk of its own size.
constexpr qsizetype kFirstChunkBytes = 4096;
constexpr qsizetype kChunkBytes = 1 << 20;
// zlib's fastest level: a console's text still packs to a fifth or less.
constexpr int kPackLevel = 1;
// Packed chunks held unpacked at once: what is in sight, what a search or a save reads, and
// one to spare.
constexpr int kUnpackedChunks = 3;

} // namespace

struct Lines::Chunk
{
    Chunk() = default;
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;
    ~Chunk();

    const char* bytes() const;

    std::unique_ptr<char[]> data; // while being written, and while not packed
    QByteArray packed;            // zlib, once full and packed
    mutable QByteArray unpacked;  // a packed chunk read lately (see the cache below)
    quint32 capacity = 0;
    quint32 used = 0;
    qint64 charactersBefore = 0; // in the lines before the chunk's first line
};

namespace {

// The packed chunks read lately, the latest first; the chunks hold their unpacked bytes, this
// only decides which of them let go. Everything runs on the one thread of the event loop.
std::array<const Lines::Chunk*, kUnpackedChunks> g_unpacked{};

void forgetUnpacked(const Lines::Chunk* chunk)
{
    const auto end = g_unpacked.end();
    const auto at = std::find(g_unpacked.begin(), end, chunk);
    if (at != end) {
        std::move(at + 1, end, at);
        g_unpacked.back() = nullptr;
    }
}

// Puts the chunk first; the one that falls off the end lets its bytes go.
void rememberUnpacked(const Lines::Chunk* chunk)
{
    forgetUnpacked(chunk);
    if (const Lines::Chunk* oldest = g_unpacked.back())
        oldest->unpacked = QByteArray();
    std::move_backward(g_unpacked.begin(), g_unpacked.end() - 1, g_unpacked.end());
    g_unpacked.front() = chunk;
}

} // namespace

Lines::Chunk::~Chunk()
{
    forgetUnpacked(this);
}

const char* Lines::Chunk::bytes() const
{
    if (data)
        return data.get();
    if (unpacked.size() != qsizetype(used)) {
        unpacked = qUncompress(packed);
        // Only short of memory can unpacking fail; the lines then read as question marks.
        if (unpacked.size() != qsizetype(used))
            unpacked.fill('?', used);
    }
    if (g_unpacked.front() != this)
        rememberUnpacked(this);
    return unpacked.constData();
}

Lines::Lines() = default;
Lines::~Lines() = default;
Lines::Lines(const Lines&) = default;
Lines& Lines::operator=(const Lines&) = default;
Lines::Lines(Lines&&) noexcept = default;
Lines& Lines::operator=(Lines&&) noexcept = default;

QByteArrayView Lines::bytes(qsizetype i) const
{
    const qint64 from = start(i);
    const qsizetype length = qsizetype(end(i) - from);
    if (length == 0)
        return {};
    if (m_source) {
        const Numbers& numbers = *m_numbers[size_t(i / kPageLines)];
        return m_source->bytes(numbers[i % kPageLines]).first(length);
    }
    // The last chunk whose first line does not start after this one.
    const auto after =
        std::upper_bound(m_chunks.begin(), m_chunks.end(), from,
                         [](qint64 at, const auto& chunk) { return at < chunk->charactersBefore; });
    const Chunk& chunk = **(after - 1);
    return QByteArrayView(chunk.bytes() + (from - chunk.charactersBefore), length);
}

QString Lines::line(qsizetype i) const
{
    return text::fromCp1250(bytes(i));
}

QStringList Lines::toStringList(qsizetype first, qsizetype count) const
{
    first = std::clamp<qsizetype>(first, 0, m_size);
    const qsizetype end = count < 0 ? m_size : std::min(m_size, first + count);
    QStringList list;
    list.reserve(end - first);
    for (qsizetype i = first; i < end; ++i)
        list.append(line(i));
    return list;
}

qint64 Lines::footprint() const
{
    qint64 bytes = qint64(m_pages.size() * sizeof(Page) + m_numbers.size() * sizeof(Numbers));
    for (const auto& chunk : m_chunks)
        bytes += chunk->data ? chunk->capacity : chunk->packed.size();
    return bytes;
}

qint64 Lines::textOffset(qsizetype i) const
{
    if (i >= m_size)
        return textLength() + (m_size ? 1 : 0);
    return start(i) + i;
}

qsizetype Lines::room() const
{
    const qint64 base = m_size % kPageLines ? m_pages.back()->base : m_characters;
    return qsizetype(std::numeric_limits<quint32>::max() - (m_characters - base));
}

void Lines::addLine(qsizetype length)
{
    if (m_size % kPageLines == 0) {
        m_pages.push_back(std::make_shared<Page>());
        m_pages.back()->base = m_characters;
    }
    m_characters += length;
    Page& last = *m_pages.back();
    last.ends[m_size % kPageLines] = quint32(m_characters - last.base);
    ++m_size;
    m_maxLength = std::max(m_maxLength, length);
}

qsizetype Lines::lineAt(qint64 offset) const
{
    if (m_size == 0 || offset <= 0)
        return 0;
    // The last line whose start is not after the offset.
    qsizetype low = 0;
    qsizetype high = m_size - 1;
    while (low < high) {
        const qsizetype mid = low + (high - low + 1) / 2;
        if (textOffset(mid) <= offset)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

char* LineStore::place(qsizetype length)
{
    if (m_chunks.empty() || qsizetype(m_chunks.back()->capacity - m_chunks.back()->used) < length) {
        const qsizetype grown =
            m_chunks.empty()
                ? kFirstChunkBytes
                : std::min<qsizetype>(qsizetype(m_chunks.back()->capacity) * 2, kChunkBytes);
        const qsizetype capacity = std::max(grown, length);
        auto chunk = std::make_shared<Chunk>();
        chunk->data.reset(new char[size_t(capacity)]);
        chunk->capacity = quint32(capacity);
        chunk->charactersBefore = m_characters;
        m_chunks.push_back(std::move(chunk));
    }
    Chunk& chunk = *m_chunks.back();
    char* at = chunk.data.get() + chunk.used;
    chunk.used += quint32(length);
    addLine(length);
    return at;
}

// A page's lines take at most 4 GiB together, far beyond any console; a line that would go
// beyond keeps what fits.
void LineStore::append(QStringView line)
{
    line = line.first(std::min(line.size(), room()));
    char* out = place(line.size());
    for (const QChar c : line) {
        const char16_t u = c.unicode();
        if (u < 128) {
            *out++ = char(u);
        } else {
            const int b = text::cp1250Byte(c);
            *out++ = b < 0 ? '?' : char(b);
        }
    }
}

void LineStore::appendBytes(QByteArrayView line)
{
    line = line.first(std::min(line.size(), room()));
    if (!line.isEmpty())
        std::memcpy(place(line.size()), line.data(), size_t(line.size()));
    else
        place(0);
}

qsizetype LineStore::appendText(QByteArrayView text)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    // The next line feed is looked up once and kept while carriage returns end the lines
    // before it, so a text of bare carriage returns is still read in one pass.
    const char* lf = nullptr;
    qsizetype added = 0;
    while (p < end) {
        if (!lf || lf < p) {
            lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            if (!lf)
                lf = end;
        }
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(lf - p)));
        const char* lineEnd = cr ? cr : lf;
        appendBytes(QByteArrayView(p, lineEnd - p));
        ++added;
        p = lineEnd == end ? end : lineEnd + 1;
        if (cr && p < end && *p == '\n')
            ++p;
    }
    return added;
}

bool LineStore::packOne()
{
    if (!hasUnpacked())
        return false;
    Chunk& chunk = *m_chunks[size_t(m_packed++)];
    QByteArray packed =
        qCompress(reinterpret_cast<const uchar*>(chunk.data.get()), chunk.used, kPackLevel);
    // A chunk that would not shrink by much (or could not be packed) stays as it is.
    if (!packed.isEmpty() && packed.size() < qsizetype(chunk.used) / 4 * 3) {
        packed.squeeze();
        chunk.packed = std::move(packed);
        chunk.data.reset();
    }
    return hasUnpacked();
}

PickedLines::PickedLines(const Lines& source)
{
    if (source.m_source) {
        m_source = source.m_source;
        m_through = source.m_numbers;
    } else {
        m_source = std::make_shared<const Lines>(source);
    }
}

void PickedLines::pick(qsizetype i)
{
    const qsizetype number =
        m_through.empty() ? i : qsizetype((*m_through[size_t(i / kPageLines)])[i % kPageLines]);
    if (m_size % kPageLines == 0)
        m_numbers.push_back(std::make_shared<Numbers>());
    (*m_numbers.back())[m_size % kPageLines] = quint32(number);
    addLine(std::min(m_source->length(number), room()));
}

LinePacker::LinePacker(LineStore& store, ErrorSink* errors) : m_store(store), m_errors(errors)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer,
                     [this] { guarded(m_errors, [this] { packNext(); }); });
}

void LinePacker::schedule()
{
    if (m_store.hasUnpacked() && !m_timer.isActive())
        m_timer.start();
}

void LinePacker::packNext()
{
    if (m_store.packOne()) {
        m_timer.start();
        return;
    }
#ifdef __GLIBC__
    // The chunks let go lie between newer allocations, where the allocator keeps them for
    // itself unless asked to give them back.
    malloc_trim(0);
#endif
}

} // namespace vigilor::link
