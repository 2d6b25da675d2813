#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vigilor {
class Settings;
}

namespace vigilor::link {
class Console;
}

namespace vigilor::tools {

// GoPlay: starts the operator's own game client connected to the watched server, optionally
// with its rcon password, from the path in `CoDexe`.
class Launcher final
{
public:
    // The rcon part of the command line is cut to this many characters.
    static constexpr int kMaxRconPart = 255;

    // How one command line is started: the program with its arguments, in a working folder.
    struct Start
    {
        QString program;
        QStringList arguments;
        QString workingFolder;
    };

    Launcher(const Settings& settings, link::Console& console, const QString& programFolder)
        : m_settings(settings), m_console(console), m_programFolder(programFolder)
    {
    }

    // Only an existing file whose name ends in ".exe" (any case) is started.
    static bool isStartable(const QString& path);
    // The path as it stands, " +connect HOST:PORT", and with the rcon switch
    // " +set rconpassword PASSWORD", that last part cut to kMaxRconPart characters. Nothing is
    // quoted: the game reads its own command line.
    static QString commandLine(const QString& path, const QString& host, const QString& port,
                               const QString& password, bool withRcon);
    // The arguments after the path, as the command line above has them: "+connect" and
    // HOST:PORT, then "+set", "rconpassword" and the password as one argument, exactly as typed
    // (blanks, runs of blanks and all; cut where the command line cuts it). The game reads a
    // quoted value as one, so the password reaches it unchanged.
    static QStringList arguments(const QString& host, const QString& port, const QString& password,
                                 bool withRcon);
    // The path is the program, blanks and all. Where Windows programs do not run by themselves,
    // they run through `wine` from the PATH, with the same arguments; without it there is no way
    // to start them (no value).
    static std::optional<Start> startFor(const QString& path, const QStringList& arguments);

    // GoPlay. A path that is empty, missing or no ".exe" stops it silently. The client starts in
    // its own folder, which is the working folder meanwhile; afterwards the program folder is the
    // working folder again. A missing wine or a failed start is said on the console.
    void goPlay();

private:
    const Settings& m_settings;
    link::Console& m_console;
    QString m_programFolder;
};

} // namespace vigilor::tools
