#include "settings/inifile.h"

#include "settings/textfile.h"
#include "text/cp1250.h"
#include "text/textutil.h"

#include <algorithm>

namespace vigilor::settings {

namespace {

// Line breaks and other control characters but the tab.
bool breaksTheLine(QChar c)
{
    return c.unicode() < 0x20 && c != u'\t';
}

QStringView trimmedBlanks(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && (s[begin] == u' ' || s[begin] == u'\t'))
        ++begin;
    while (end > begin && (s[end - 1] == u' ' || s[end - 1] == u'\t'))
        --end;
    return s.sliced(begin, end - begin);
}

} // namespace

bool IniFile::Name::same(QStringView a, QStringView b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](QChar x, QChar y) {
                          return text::asciiFolded(x.unicode()) == text::asciiFolded(y.unicode());
                      });
}

size_t IniFile::Name::hash(QStringView text, size_t seed)
{
    // FNV-1a over the folded characters: names are short, and a lookup copies nothing.
    quint64 h = 14695981039346656037ULL ^ seed;
    for (const QChar c : text) {
        h ^= vigilor::text::asciiFolded(c.unicode());
        h *= 1099511628211ULL;
    }
    return size_t(h ^ (h >> 32));
}

IniFile IniFile::parse(QByteArrayView bytes)
{
    return parseText(decodeStoredText(bytes).text);
}

IniFile IniFile::parseText(QStringView text)
{
    IniFile ini;
    Section* current = nullptr;
    qsizetype start = 0;
    const qsizetype n = text.size();
    // Line ends found by Qt's searches, not character by character.
    qsizetype nextFeed = text.indexOf(u'\n');
    qsizetype nextReturn = text.indexOf(u'\r');
    while (start < n) {
        if (nextFeed >= 0 && nextFeed < start)
            nextFeed = text.indexOf(u'\n', start);
        if (nextReturn >= 0 && nextReturn < start)
            nextReturn = text.indexOf(u'\r', start);
        const qsizetype end = std::min(nextFeed < 0 ? n : nextFeed, nextReturn < 0 ? n : nextReturn);
        const QStringView raw = text.sliced(start, end - start);
        // In names a NUL (only a damaged file holds one) reads as a blank: two names told apart
        // by it would be written alike.
        QStringView line = raw;
        QString cleaned;
        if (raw.contains(QChar(0))) {
            cleaned = raw.toString().replace(QChar(0), u' ');
            line = cleaned;
        }
        start = end + 1;
        if (end + 1 < n && text[end] == u'\r' && text[end + 1] == u'\n')
            ++start;

        const QStringView trimmed = trimmedBlanks(line);
        if (trimmed.isEmpty() || trimmed[0] == u';' || trimmed[0] == u'#')
            continue;
        if (trimmed[0] == u'[') {
            qsizetype close = trimmed.indexOf(u']');
            const QStringView name =
                trimmedBlanks(trimmed.sliced(1, (close < 0 ? trimmed.size() : close) - 1));
            current = name.isEmpty() ? nullptr : ini.section(name);
            if (!current && !name.isEmpty())
                current = &ini.addSection(name);
            // Later duplicates of a section add only the keys the first one lacked.
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!current || equals < 0)
            continue;
        const QStringView key = trimmedBlanks(line.first(equals));
        if (key.isEmpty())
            continue;
        if (current->byFoldedKey.contains(Name::viewing(key)))
            continue;
        current->entries.push_back({key.toString(), raw.sliced(equals + 1).toString()});
        current->byFoldedKey.insert({current->entries.back().key},
                                    qsizetype(current->entries.size() - 1));
    }
    return ini;
}

QString IniFile::text() const
{
    qsizetype size = 0;
    for (const Section& s : m_sections) {
        size += s.name.size() + 4;
        for (const Entry& e : s.entries)
            size += e.key.size() + e.value.size() + 3;
    }
    QString text;
    text.reserve(size);
    for (const Section& s : m_sections) {
        text += u'[' + s.name + QStringLiteral("]\r\n");
        for (const Entry& e : s.entries)
            text += e.key + u'=' + e.value + QStringLiteral("\r\n");
    }
    // A value read from a damaged file may hold a NUL, which would make the file read as
    // damaged at every start.
    return text.replace(QChar(0), u' ');
}

QByteArray IniFile::toBytes() const
{
    if (m_bytes)
        return *m_bytes;
    const QString text = this->text();
    const QByteArray bytes = storedBytes(text);
    // Names that differ only in characters code page 1250 lacks are written alike ('?'), and
    // the reader keeps the first of them: the file is written as it reads back, so that every
    // later save writes it the same. A text the code page holds whole reads back as it is.
    const bool whole = std::all_of(text.cbegin(), text.cend(),
                                   [](QChar c) { return text::cp1250Byte(c) >= 0; });
    m_bytes = whole ? bytes : storedBytes(parse(bytes).text());
    return *m_bytes;
}

const IniFile::Section* IniFile::section(QStringView name) const
{
    const auto it = m_byFoldedSection.constFind(Name::viewing(name));
    return it == m_byFoldedSection.cend() ? nullptr : &m_sections[*it];
}

IniFile::Section* IniFile::section(QStringView name)
{
    return const_cast<Section*>(std::as_const(*this).section(name));
}

IniFile::Section& IniFile::addSection(QStringView name)
{
    m_bytes.reset();
    m_sections.push_back({name.toString(), {}, {}});
    m_byFoldedSection.insert({m_sections.back().name}, qsizetype(m_sections.size() - 1));
    return m_sections.back();
}

std::optional<QString> IniFile::value(QStringView sectionName, QStringView key) const
{
    const Section* s = section(sectionName);
    if (!s)
        return std::nullopt;
    const auto it = s->byFoldedKey.constFind(Name::viewing(key));
    if (it == s->byFoldedKey.cend())
        return std::nullopt;
    return s->entries[*it].value;
}

void IniFile::setValue(QStringView sectionName, QStringView key, const QString& value)
{
    QString clean = value;
    if (std::any_of(value.cbegin(), value.cend(), breaksTheLine))
        std::replace_if(clean.begin(), clean.end(), breaksTheLine, QChar(u' '));
    Section* s = section(sectionName);
    if (!s)
        s = &addSection(sectionName);
    // The writer's spelling wins, so a saved file always spells the names alike, and saving it
    // again writes the same bytes.
    if (s->name != sectionName) {
        s->name = sectionName.toString();
        m_bytes.reset();
    }
    const auto it = s->byFoldedKey.constFind(Name::viewing(key));
    if (it != s->byFoldedKey.cend()) {
        Entry& entry = s->entries[*it];
        if (entry.key != key || entry.value != clean) {
            entry = {key.toString(), clean};
            m_bytes.reset();
        }
        return;
    }
    m_bytes.reset();
    s->entries.push_back({key.toString(), clean});
    s->byFoldedKey.insert({s->entries.back().key}, qsizetype(s->entries.size() - 1));
}

void IniFile::keepSections(const QStringList& names)
{
    const auto named = [&](const Section& s) {
        return std::any_of(names.cbegin(), names.cend(),
                           [&](const QString& name) { return Name::same(s.name, name); });
    };
    if (std::all_of(m_sections.cbegin(), m_sections.cend(), named))
        return;
    IniFile kept;
    for (Section& s : m_sections) {
        if (named(s)) {
            kept.m_sections.push_back(std::move(s));
            kept.m_byFoldedSection.insert({kept.m_sections.back().name},
                                          qsizetype(kept.m_sections.size() - 1));
        }
    }
    *this = std::move(kept);
}

QStringList IniFile::sections() const
{
    QStringList names;
    for (const Section& s : m_sections)
        names.append(s.name);
    return names;
}

QStringList IniFile::keys(QStringView sectionName) const
{
    QStringList names;
    if (const Section* s = section(sectionName))
        for (const Entry& e : s->entries)
            names.append(e.key);
    return names;
}

} // namespace vigilor::settings
