#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QTimer>

#include <array>
#include <memory>
#include <vector>

namespace vigilor {
class ErrorSink;
}

namespace vigilor::link {

// Lines of text held as code page 1250 bytes, one byte a character, packed one after the other
// into chunks of up to 1 MiB with an index of where each line ends (4 bytes a line). Full
// chunks can be packed further with zlib (packOne, run by LinePacker while the window idles):
// a busy day's console then takes a few megabytes instead of the size of its log file. Reading a
// line of a packed chunk unpacks that chunk into a small cache shared by all stores.
//
// Lines is the read-only side. Copying it is cheap (it shares the chunks and the index pages)
// and the copy keeps reading the lines as they stood: a store only ever grows at its end or is
// emptied whole, so whatever it does later never touches what a copy sees. PickedLines are lines
// chosen out of another Lines (the search's results): they read that one's bytes and keep only
// an index of their own.
class Lines
{
public:
    Lines();
    ~Lines();
    Lines(const Lines&);
    Lines& operator=(const Lines&);
    Lines(Lines&&) noexcept;
    Lines& operator=(Lines&&) noexcept;

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    // The line's bytes; valid until the next read from any store or until window events run.
    QByteArrayView bytes(qsizetype i) const;
    QString line(qsizetype i) const;
    qsizetype length(qsizetype i) const { return qsizetype(end(i) - start(i)); }
    QString last() const { return m_size ? line(m_size - 1) : QString(); }

    // Decoded lines [first, first + count); count -1 means up to the end.
    QStringList toStringList(qsizetype first = 0, qsizetype count = -1) const;
    // The lines joined with line feeds, as a text box would hold them.
    QString text() const { return toStringList().join(u'\n'); }

    // The longest line's length in characters, and the length of all lines together.
    qsizetype maxLength() const { return m_maxLength; }
    qint64 characters() const { return m_characters; }
    // The memory the chunks and the index take, unpacked copies in the cache left out.
    qint64 footprint() const;

    // Positions in the lines joined with line feeds (the text of a text box): where line i
    // starts, and the line a position lies in (a line's ending line feed counts to it).
    qint64 textOffset(qsizetype i) const;
    qsizetype lineAt(qint64 textOffset) const;
    qint64 textLength() const { return m_size ? m_characters + m_size - 1 : 0; }

    // Lines lie one after the other from the start of a chunk; a line that does not fit in
    // what is left of the last chunk begins a new one. Defined in the .cpp.
    struct Chunk;

protected:
    friend class PickedLines;

    static constexpr qsizetype kPageLines = 4096;
    // The lines' characters counted one after the other, without line breaks: line i runs from
    // end(i - 1) to end(i). A page holds the start of its first line and the ends of its lines
    // relative to that.
    struct Page
    {
        qint64 base = 0;
        std::array<quint32, kPageLines> ends;
    };
    using Numbers = std::array<quint32, kPageLines>;

    const Page& page(qsizetype i) const { return *m_pages[size_t(i / kPageLines)]; }
    qint64 start(qsizetype i) const
    {
        const Page& p = page(i);
        return i % kPageLines ? p.base + p.ends[i % kPageLines - 1] : p.base;
    }
    qint64 end(qsizetype i) const { return page(i).base + page(i).ends[i % kPageLines]; }
    // The longest line the last page still has room for.
    qsizetype room() const;
    void addLine(qsizetype length);

    // A store's own lines lie in its chunks; a chunk's lines start at its charactersBefore.
    std::vector<std::shared_ptr<Chunk>> m_chunks;
    std::vector<std::shared_ptr<Page>> m_pages;
    // Picked lines: the lines they were picked from (never picked ones themselves) and the
    // numbers of the picked lines there.
    std::shared_ptr<const Lines> m_source;
    std::vector<std::shared_ptr<Numbers>> m_numbers;
    qsizetype m_size = 0;
    qsizetype m_maxLength = 0;
    qint64 m_characters = 0;
};

// The writable store: appends lines at the end and empties itself. Not copyable (two stores
// appending into shared chunks would overwrite each other); snapshot() gives the read-only copy.
class LineStore final : public Lines
{
public:
    LineStore() = default;
    LineStore(const LineStore&) = delete;
    LineStore& operator=(const LineStore&) = delete;
    LineStore(LineStore&&) noexcept = default;
    LineStore& operator=(LineStore&&) noexcept = default;

    Lines snapshot() const { return *this; }

    // One line without line breaks; characters outside the code page are stored as '?'.
    void append(QStringView line);
    // One line already in code page 1250, without line breaks.
    void appendBytes(QByteArrayView line);
    // A code page 1250 text split at LF, CR and CR LF; a final line break gives no empty last
    // line. Returns the number of lines added.
    qsizetype appendText(QByteArrayView text);
    void clear() { *this = LineStore(); }

    // Whether a full chunk waits to be packed, and packing the oldest one (a few milliseconds
    // for a mebibyte). Returns whether another one waits.
    bool hasUnpacked() const { return m_packed + 1 < qsizetype(m_chunks.size()); }
    bool packOne();

private:
    char* place(qsizetype length);

    qsizetype m_packed = 0; // the chunks before this one are packed (or not worth packing)
};

// Lines picked out of a source in its order, by their numbers there, without copying a byte:
// 8 bytes a line. Picking out of picked lines reads the first source, whatever the depth.
class PickedLines final : public Lines
{
public:
    explicit PickedLines(const Lines& source);
    PickedLines(const PickedLines&) = delete;
    PickedLines& operator=(const PickedLines&) = delete;

    // Line i of the source becomes the last picked line.
    void pick(qsizetype i);
    Lines snapshot() const { return *this; }

private:
    std::vector<std::shared_ptr<Numbers>> m_through; // the source's numbers when it was picked
};

// Packs a store's full chunks one at a time from the event loop, so that loading a long day's
// log or appending to it never waits for the packing. Tell it whenever the store has grown.
class LinePacker final
{
public:
    // Errors while packing go to errors (or are dropped without one): the chunk stays unpacked.
    explicit LinePacker(LineStore& store, ErrorSink* errors = nullptr);
    void schedule();

private:
    void packNext();

    LineStore& m_store;
    ErrorSink* m_errors;
    QTimer m_timer;
};

} // namespace vigilor::link
