#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#ifndef Q_OS_WIN
#include <dlfcn.h>
#endif

namespace vigilor::test {

// The test's own name server (fakeresolver.cpp): a hosts file of the test's, read by the
// preloaded resolver at every lookup of the program under test (or of this process, when ctest
// preloads it here).
struct FakeNames
{
    QTemporaryDir dir;
    QString file = dir.filePath(QStringLiteral("hosts"));

    FakeNames() { write({}); }

    // Whether this process has the fake resolver preloaded. Windows has no preloading: the
    // tests that need their own names are skipped there.
    static bool activeHere()
    {
#ifdef Q_OS_WIN
        return false;
#else
        return dlsym(RTLD_DEFAULT, "vigilor_fake_resolver") != nullptr;
#endif
    }

    // Replaces the whole file: lines of "NAME ADDRESS [DELAY_MS]", ADDRESS "-" for not found.
    bool write(const QByteArray& lines) const
    {
        QFile f(file + QStringLiteral(".new"));
        if (!f.open(QIODevice::WriteOnly) || f.write(lines) != lines.size())
            return false;
        f.close();
        // Replaced at once: a lookup never finds the file missing.
        return std::rename(QFile::encodeName(f.fileName()).constData(),
                           QFile::encodeName(file).constData()) == 0;
    }

    // For this process's own lookups.
    void useHere() const { qputenv("VIGILOR_TEST_HOSTS", QFile::encodeName(file)); }

    // For a program started by the test.
    void addTo(QProcessEnvironment& env) const
    {
#ifdef VIGILOR_FAKE_RESOLVER
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VIGILOR_FAKE_RESOLVER));
#endif
        env.insert(QStringLiteral("VIGILOR_TEST_HOSTS"), file);
        // A program built with AddressSanitizer wants its runtime first among the libraries.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
    }
};

} // namespace vigilor::test
