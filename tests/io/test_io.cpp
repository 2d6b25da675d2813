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
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

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
};

QTEST_GUILESS_MAIN(TestIo)
#include "test_io.moc"
