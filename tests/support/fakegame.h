#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace vigilor::test {

// Writes an executable script that records its working folder and arguments, one a line, into
// `record` beside it (written whole, then renamed, so a reader never sees half of it).
inline bool writeRecorder(const QString& path,
                          const QString& firstLine = QStringLiteral("#!/bin/sh"))
{
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(firstLine.toUtf8() +
                 "\nlog=\"${0%/*}/record\"\n"
                 "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$log.part\"\n"
                 "mv \"$log.part\" \"$log\"\n");
    script.close();
    return script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
}

// A PATH of the test's own, one folder holding a fake `wine` (and the `mv` the recording script
// needs), so that a wine the machine has is never found; and a game client with blanks in its
// path. Both are the recording script.
struct FakeGame
{
    QTemporaryDir bin;
    QTemporaryDir games;
    QByteArray oldPath = qgetenv("PATH");
    QString client;

    FakeGame()
    {
        QFile::link(QStandardPaths::findExecutable(QStringLiteral("mv")),
                    bin.path() + QStringLiteral("/mv"));
        qputenv("PATH", QFile::encodeName(bin.path()));
        QDir(games.path()).mkpath(QStringLiteral("Call of Duty 2"));
        client = games.path() + QStringLiteral("/Call of Duty 2/CoD2MP_s.EXE");
        writeRecorder(bin.path() + QStringLiteral("/wine"));
        writeRecorder(client);
    }
    ~FakeGame() { qputenv("PATH", oldPath); }
    QString recordFile() const { return bin.path() + QStringLiteral("/record"); }
    // The working folder and the arguments wine was started with.
    QStringList record() const
    {
        QFile file(recordFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        lines.removeLast();
        return lines;
    }
};

} // namespace vigilor::test
