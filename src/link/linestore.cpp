#include "link/linestore.h"

#include "text/cp1250.h"

#include <algorithm>
#include <cstring>

namespace vigilor::link {

namespace {

// Chunks grow from a few kilobytes (a short list of search results) to a mebibyte; a longer
// line gets a chunk of its own size.
constexpr qsizetype kFirstChunkBytes = 4096;
constexpr qsizetype kChunkBytes = 1 << 20;

} // namespace

Lines::Lines() = default;
Lines::~Lines() = default;
Lines::Lines(const Lines&) = default;
Lines& Lines::operator=(const Lines&) = default;
Lines::Lines(Lines&&) noexcept = default;
Lines& Lines::operator=(Lines&&) noexcept = default;

QByteArrayView Lines::bytes(qsizetype i) const
{
    const Ref& r = ref(i);
    return QByteArrayView(m_chunks[r.chunk]->data.get() + r.offset, r.length);
}

QString Lines::line(qsizetype i) const
{
    return text::fromCp1250(bytes(i));
}

qsizetype Lines::length(qsizetype i) const
{
    return ref(i).length;
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

qint64 Lines::textOffset(qsizetype i) const
{
    if (i >= m_size)
        return textLength() + (m_size ? 1 : 0);
    const Ref& r = ref(i);
    return m_chunks[r.chunk]->charactersBefore + r.offset + i;
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
        chunk->data.reset(new char[capacity]);
        chunk->capacity = quint32(capacity);
        chunk->charactersBefore = m_characters;
        m_chunks.push_back(std::move(chunk));
    }
    if (m_size % kPageLines == 0)
        m_pages.push_back(std::make_shared<Page>());
    Chunk& chunk = *m_chunks.back();
    (*m_pages.back())[m_size % kPageLines] = {quint32(m_chunks.size() - 1), chunk.used,
                                              quint32(length)};
    char* at = chunk.data.get() + chunk.used;
    chunk.used += quint32(length);
    ++m_size;
    m_characters += length;
    m_maxLength = std::max(m_maxLength, length);
    return at;
}

void LineStore::append(QStringView line)
{
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

} // namespace vigilor::link
