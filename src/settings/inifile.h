#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace vigilor::settings {

// The settings file's INI text. Reading is lenient, because the file may have been edited by
// hand or damaged: section and key names are matched without regard to ASCII letter case, the
// first occurrence of a key (and of a section) wins, lines starting with ';' or '#', blank
// lines, lines without '=' and text before the first section are skipped, and LF, CR and CR LF
// all end a line. A key's value is everything after its first '=', exactly as it stands; in
// section and key names a NUL reads as a blank, and no NUL is ever written.
// Writing produces a clean file (storedBytes: code page 1250): CR LF line ends, sections and keys
// in the order of their first write (or of the file that was read), nothing else.
class IniFile
{
public:
    // Bytes as decodeStoredText reads them. Never fails.
    static IniFile parse(QByteArrayView bytes);
    static IniFile parseText(QStringView text);
    // Kept until the next change, so that a save which changes nothing does not encode the
    // file again.
    QByteArray toBytes() const;

    std::optional<QString> value(QStringView section, QStringView key) const;
    // A value is one line: line breaks and other control characters but the tab become blanks.
    void setValue(QStringView section, QStringView key, const QString& value);

    // Drops every section whose name is not in `names`.
    void keepSections(const QStringList& names);
    QStringList sections() const;
    QStringList keys(QStringView section) const;
    bool isEmpty() const { return m_sections.empty(); }

private:
    // A section or key name as the file spells it, hashed and compared without regard to ASCII
    // letter case; a lookup wraps the name it looks for without copying it.
    struct Name
    {
        QString text;
        static Name viewing(QStringView name)
        {
            return {QString::fromRawData(name.constData(), name.size())};
        }
        static bool same(QStringView a, QStringView b);
        static size_t hash(QStringView name, size_t seed);
        friend bool operator==(const Name& a, const Name& b) { return same(a.text, b.text); }
        friend size_t qHash(const Name& name, size_t seed) { return hash(name.text, seed); }
    };
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        std::vector<Entry> entries;
        QHash<Name, qsizetype> byFoldedKey;
    };

    QString text() const;
    Section* section(QStringView name);
    const Section* section(QStringView name) const;
    Section& addSection(QStringView name);

    std::vector<Section> m_sections;
    QHash<Name, qsizetype> m_byFoldedSection;
    mutable std::optional<QByteArray> m_bytes; // toBytes() since the last change
};

} // namespace vigilor::settings
