// The file layer as the rest of the program leans on it: a replacement that fails leaves the old
// file whole, the web key is its owner's alone, an append never makes a file, a file read in
// pieces comes back whole at every piece boundary, and the memo of what was written notices
// every way another program can change the file, and nothing else.
#include "io/files.h"
#include "text/errors.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#ifndef Q_OS_WIN
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace vigilor;
using namespace Qt::StringLiterals;

using vigilor::test::readAll;
using vigilor::test::writeAll;

namespace {

QStringList names(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestIo final : public QObject
{
    Q_OBJECT

private slots:
    // A replacement that fails at its end (the file it would replace became a folder meanwhile)
    // throws with the file's name and leaves nothing beside it.
    void failedReplacementLeavesNothingBehind()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"bans.txt"_s);
        QVERIFY(writeAll(path, "old\r\n"));
        {
            io::Replacement file(path);
            QVERIFY(file.open());
            QVERIFY(file.write("new\r\n"));
            QVERIFY(QFile::remove(path));
            QVERIFY(QDir(dir.path()).mkdir(u"bans.txt"_s));
            QVERIFY(!file.commit());
            QVERIFY(file.renameFailed());
            QVERIFY(!file.errorString().isEmpty());
        }
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(names(dir.path()), QStringList());
        try {
            io::replaceFile(path, "x");
            QFAIL("replaced a folder");
        } catch (const FileError& e) {
            QVERIFY2(e.message().contains(path), qPrintable(e.message()));
            QVERIFY(!e.reason().isEmpty());
        }
    }

    // The web page's key: made for its owner alone, and an older file others could read is
    // replaced by one they cannot.
    void ownerOnlyReplacement()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"web-token"_s);
        QVERIFY(writeAll(path, "old"));
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther |
                                                QFileDevice::ReadGroup));
        io::replaceFile(path, "0123456789abcdef\n", io::Replacement::Access::OwnerOnly);
        QCOMPARE(readAll(path), QByteArray("0123456789abcdef\n"));
#ifndef Q_OS_WIN // Windows keeps no such bits; its files are the user's through the folder
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
        QCOMPARE(QFile::permissions(path) & others, QFileDevice::Permissions());
        QVERIFY(QFile::permissions(path) & QFileDevice::ReadOwner);
#endif
    }

    // The day's log is appended to only while it is there: an append never makes a file (a
    // rewrite does), and what it writes follows what was there.
    void appendingNeedsTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"console (2026.12.09.).log"_s);
        io::Appending missing(path);
        QVERIFY(!missing.open());
        QVERIFY(!QFile::exists(path));
        QVERIFY(writeAll(path, "a\r\n"));
        io::Appending file(path);
        QVERIFY(file.open());
        QVERIFY(file.write("b\r\n"));
        QVERIFY(file.write(QByteArray(100000, 'c')));
        QVERIFY(file.close());
        QCOMPARE(readAll(path), QByteArray("a\r\nb\r\n") + QByteArray(100000, 'c'));
        QCOMPARE(io::regularFileSize(path), 100006);
        QCOMPARE(io::regularFileSize(dir.path()), -1);
        QCOMPARE(io::regularFileSize(dir.filePath(u"none"_s)), -1);
    }

    // Read in pieces, a file comes back whole whether it ends at a piece's end, inside one, or
    // is empty; a missing file says why.
    void readingInPieces_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {0, 1, 4095, 4096, 4097, 3 * 4096})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void readingInPieces()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"log"_s);
        QByteArray content(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            content[i] = char('a' + i % 26);
        QVERIFY(writeAll(path, content));
        QByteArray read;
        int pieces = 0;
        QString error;
        QVERIFY(io::readInPieces(
            path, 4096,
            [&](QByteArrayView piece) {
                QVERIFY(!piece.isEmpty() && piece.size() <= 4096);
                read += piece;
                ++pieces;
            },
            &error));
        QCOMPARE(read, content);
        QCOMPARE(pieces, (size + 4095) / 4096);
        QVERIFY(!io::readInPieces(
            dir.filePath(u"none"_s), 4096, [](QByteArrayView) {}, &error));
        QVERIFY(!error.isEmpty());
    }

    // The memo holds while nobody else touched the file, and lets go when another program
    // rewrote it (even with the same size), put another file in its place by a rename, removed
    // it, or put a folder there.
    void memoNoticesEveryChangeFromOutside()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"vigilor.ini"_s);
        const QByteArray content = "[System]\r\nTimeInterval=60\r\n";
        io::FileMemo memo;
        const auto written = [&] {
            io::replaceFile(path, content);
            memo.remember(path, content);
        };

        written();
        QVERIFY(memo.holds(path, content));
        QVERIFY(memo.unchangedOnDisk());
        QVERIFY(!memo.holds(path, content + "x"));
        QVERIFY(!memo.holds(dir.filePath(u"other"_s), content));

        // Rewritten in place with the same size, a moment later.
        QThread::msleep(20);
        QVERIFY(writeAll(path, QByteArray(content).replace("60", "90")));
        QVERIFY(!memo.unchangedOnDisk());

        // Another file renamed into its place.
        written();
        const QString other = dir.filePath(u"copy"_s);
        QVERIFY(writeAll(other, QByteArray(content).replace("60", "90") + "x"));
        QThread::msleep(20);
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::rename(other, path));
        QVERIFY(!memo.unchangedOnDisk());

        written();
        QVERIFY(QFile::remove(path));
        QVERIFY(!memo.unchangedOnDisk());
        QVERIFY(QDir(dir.path()).mkdir(u"vigilor.ini"_s));
        QVERIFY(!memo.unchangedOnDisk());

        io::FileMemo none;
        QVERIFY(!none.unchangedOnDisk());
        none.remember(dir.filePath(u"missing"_s), {});
        QVERIFY(!none.holds(dir.filePath(u"missing"_s), {}));
    }

    // A copy renamed into the file's place with the same size and the same modification time,
    // as a copy that keeps the time makes, is told apart by the time its metadata changed.
    void memoNoticesACopyThatKeptTheTime()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps no metadata-change time, and a file renamed into a removed one's "
              "place takes over its creation time (file tunneling): such a copy looks the same");
#endif
        QTemporaryDir dir;
        const QString path = dir.filePath(u"bans.txt"_s);
        const QByteArray content = "0 name\r\n";
        io::replaceFile(path, content);
        io::FileMemo memo;
        memo.remember(path, content);
        const QString other = dir.filePath(u"copy"_s);
        QVERIFY(writeAll(other, "1 name\r\n"));
        QFile copy(other);
        QVERIFY(copy.open(QIODevice::ReadWrite));
        QVERIFY(
            copy.setFileTime(QFileInfo(path).lastModified(), QFileDevice::FileModificationTime));
        copy.close();
        QThread::msleep(20);
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::rename(other, path));
        QCOMPARE(QFileInfo(path).size(), content.size());
        QVERIFY(!memo.unchangedOnDisk());
    }

    // Whatever stands under a file's name, reading it neither blocks nor misreads: no file is
    // no content, a folder, a pipe or a socket is an error that says so, a file is read whole.
    void readingWhateverStandsUnderTheName()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        QVERIFY(!io::readFileIfPresent(folder + u"missing"_s));
        const auto failure = [](const QString& path) {
            try {
                io::readFileIfPresent(path);
            } catch (const FileError& e) {
                return e.message();
            }
            return QString();
        };
        QVERIFY(QDir().mkdir(folder + u"folder"_s));
        QVERIFY(failure(folder + u"folder"_s).endsWith(u"(mappa van a helyén)"_s));
#ifndef Q_OS_WIN // Windows has no fifos or sockets among the files of a folder.
        QVERIFY(::mkfifo(QFile::encodeName(folder + u"pipe"_s).constData(), 0644) == 0);
        QVERIFY(failure(folder + u"pipe"_s).endsWith(u"(nem közönséges fájl)"_s));
        const QString socketPath = folder + u"socket"_s;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(socketPath).constData(),
                     sizeof address.sun_path - 1);
        QVERIFY(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
        QVERIFY(failure(socketPath).endsWith(u"(nem közönséges fájl)"_s));
        ::close(fd);
#endif

        QByteArray content;
        for (int i = 0; i < 300000; ++i)
            content += QByteArray::number(i) + "\r\n";
        QVERIFY(writeAll(folder + u"bans.txt"_s, content));
        QCOMPARE(io::readFileIfPresent(folder + u"bans.txt"_s).value_or(QByteArray()), content);
        QVERIFY(writeAll(folder + u"empty"_s, {}));
        QCOMPARE(io::readFileIfPresent(folder + u"empty"_s), std::optional<QByteArray>(QByteArray()));
    }

    // A replacement keeps what the operator set up around the file: its permissions, a link to
    // it from elsewhere; a new file gets the usual permissions; one not committed leaves the old
    // content and nothing beside it.
    void replacementKeepsPermissionsAndLinks()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
#ifndef Q_OS_WIN
        const auto modeOf = [](const QString& path) {
            struct stat st
            {
            };
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777)
                                                                          : -1;
        };
#endif
        const auto names = [&] {
            return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        };
#ifdef Q_OS_WIN
        // Windows has no permission bits, umask or symbolic links of this kind: the file's
        // replacement and what is left around it are checked.
        io::replaceFile(folder + u"new.txt"_s, "new");
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("new"));
        io::replaceFile(folder + u"new.txt"_s, "again");
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));
#else
        const mode_t mask = ::umask(022);
        const auto restoreMask = qScopeGuard([mask] { ::umask(mask); });

        io::replaceFile(folder + u"new.txt"_s, "new");
        QCOMPARE(modeOf(folder + u"new.txt"_s), 0644);
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("new"));

        // Permissions the operator chose stay, whatever the umask.
        QVERIFY(::chmod(QFile::encodeName(folder + u"new.txt"_s).constData(), 0640) == 0);
        io::replaceFile(folder + u"new.txt"_s, "again");
        QCOMPARE(modeOf(folder + u"new.txt"_s), 0640);
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));

        // A link (to a link) stays a link; the file at its end takes the content.
        QVERIFY(QDir().mkdir(folder + u"real"_s));
        QVERIFY(writeAll(folder + u"real/vigilor.ini"_s, "old"));
        QVERIFY(QFile::link(u"real/vigilor.ini"_s, folder + u"inner"_s));
        QVERIFY(QFile::link(folder + u"inner"_s, folder + u"vigilor.ini"_s));
        io::replaceFile(folder + u"vigilor.ini"_s, "through the links");
        QVERIFY(QFileInfo(folder + u"vigilor.ini"_s).isSymLink());
        QVERIFY(QFileInfo(folder + u"inner"_s).isSymLink());
        QCOMPARE(readAll(folder + u"real/vigilor.ini"_s), QByteArray("through the links"));
        // A link whose file is missing brings the file about.
        QVERIFY(QFile::link(u"real/bans.txt"_s, folder + u"bans.txt"_s));
        io::replaceFile(folder + u"bans.txt"_s, "made");
        QCOMPARE(readAll(folder + u"real/bans.txt"_s), QByteArray("made"));
#endif

        // Written but not committed: the old content, no temporary file.
        const QStringList before = names();
        {
            io::Replacement file(folder + u"new.txt"_s);
            QVERIFY(file.open());
            QVERIFY(file.write("never seen"));
            QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));
        }
        QCOMPARE(names(), before);
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));

        // A folder in the file's place is no file to replace.
        QVERIFY(QDir().mkdir(folder + u"Messages.txt"_s));
        io::Replacement blocked(folder + u"Messages.txt"_s);
        QVERIFY(!blocked.open());
        QVERIFY(!blocked.renameFailed());
        QVERIFY(!blocked.errorString().isEmpty());
        QCOMPARE(names(), before);
    }
};

QTEST_GUILESS_MAIN(TestIo)
#include "test_io.moc"
