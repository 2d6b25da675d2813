#include "settings/inifile.h"

#include "settings/textfile.h"
#include "text/textutil.h"

namespace vigilor::settings {

namespace {

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
    while (start < n) {
        qsizetype end = start;
        while (end < n && text[end] != u'\n' && text[end] != u'\r')
            ++end;
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
        const QString folded = text::asciiLower(key);
        if (current->byFoldedKey.contains(folded))
            continue;
        current->byFoldedKey.insert(folded, qsizetype(current->entries.size()));
        current->entries.push_back({key.toString(), raw.sliced(equals + 1).toString()});
    }
    return ini;
}

QString IniFile::text() const
{
    QString text;
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
    const QString text = this->text();
    const QByteArray bytes = storedBytes(text);
    // Names that differ only in characters code page 1250 lacks are written alike ('?'), and
    // the reader keeps the first of them: the file is written as it reads back, so that every
    // later save writes it the same.
    if (decodeStoredText(bytes).text != text)
        return storedBytes(parse(bytes).text());
    return bytes;
}

const IniFile::Section* IniFile::section(QStringView name) const
{
    const auto it = m_byFoldedSection.constFind(text::asciiLower(name));
    return it == m_byFoldedSection.cend() ? nullptr : &m_sections[*it];
}

IniFile::Section* IniFile::section(QStringView name)
{
    return const_cast<Section*>(std::as_const(*this).section(name));
}

IniFile::Section& IniFile::addSection(QStringView name)
{
    m_byFoldedSection.insert(text::asciiLower(name), qsizetype(m_sections.size()));
    m_sections.push_back({name.toString(), {}, {}});
    return m_sections.back();
}

std::optional<QString> IniFile::value(QStringView sectionName, QStringView key) const
{
    const Section* s = section(sectionName);
    if (!s)
        return std::nullopt;
    const auto it = s->byFoldedKey.constFind(text::asciiLower(key));
    if (it == s->byFoldedKey.cend())
        return std::nullopt;
    return s->entries[*it].value;
}

void IniFile::setValue(QStringView sectionName, QStringView key, const QString& value)
{
    QString clean = value;
    for (QChar& c : clean)
        if (c.unicode() < 0x20 && c != u'\t')
            c = u' ';
    Section* s = section(sectionName);
    if (!s)
        s = &addSection(sectionName);
    // The writer's spelling wins, so a saved file always spells the names alike, and saving it
    // again writes the same bytes.
    s->name = sectionName.toString();
    const QString folded = text::asciiLower(key);
    const auto it = s->byFoldedKey.constFind(folded);
    if (it != s->byFoldedKey.cend()) {
        s->entries[*it] = {key.toString(), clean};
        return;
    }
    s->byFoldedKey.insert(folded, qsizetype(s->entries.size()));
    s->entries.push_back({key.toString(), clean});
}

void IniFile::keepSections(const QStringList& names)
{
    IniFile kept;
    for (Section& s : m_sections) {
        for (const QString& name : names) {
            if (text::asciiLower(s.name) == text::asciiLower(name)) {
                kept.m_byFoldedSection.insert(text::asciiLower(s.name),
                                              qsizetype(kept.m_sections.size()));
                kept.m_sections.push_back(std::move(s));
                break;
            }
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
