#pragma once

#include <QObject>
#include <QStringList>

namespace vigilor::rules {

// The learning list (`learningbanlist`): ban entries of offenders' IP addresses, in the order
// they were first remembered. Held in memory only, for the running program.
class LearningList final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LearningList)

public:
    using QObject::QObject;

    const QStringList& entries() const { return m_entries; }

    // RememberOffender's list side: every entry of this address takes the code; an address not
    // listed yet is appended. An empty address is never remembered, it could match nothing.
    void remember(int code, const QString& address);
    // `ComboBox2` changed while an entry is selected; "Eltávolítás". Rows out of range (no
    // selection) do nothing.
    void setGrade(int row, int code);
    void remove(int row);
    void clear();
    // What `ComboBox2` shows for a selected entry: its code; -1 for no selection.
    int gradeOf(int row) const;

signals:
    void changed();

private:
    QStringList m_entries;
};

} // namespace vigilor::rules
