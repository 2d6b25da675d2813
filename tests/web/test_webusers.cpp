// The personal keys of the web page: the web-users file as the command line writes it and the
// running robot reads it, and the login and the acts of a named operator through WebApi.
#include "text/cp1250.h"
#include "web/users.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vigilor;
using namespace vigilor::web;
using namespace Qt::StringLiterals;

class TestWebUsers final : public QObject
{
    Q_OBJECT

private slots:
    // A key is printed once and only its hash is kept, in code page 1250 with CR LF, readable
    // by the owner alone; a new key for the same name replaces the old one, a revoked one lets
    // no one in, and the running robot's reader sees each change without being told.
    void keysMadeReplacedAndRevoked()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        WebUsers running(folder);
        QVERIFY(!running.holderOf("anything"));

        const QByteArray first = WebUsers::makeKey(folder, u"Ödön"_s, WebUsers::kAdmin);
        QCOMPARE(first.size(), 64);
        const QString path = folder + WebUsers::kFileName;
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        file.close();
        QVERIFY(!stored.contains(first));
        QVERIFY(stored.contains(WebUsers::hashOf(first)));
        QVERIFY(stored.startsWith(text::toCp1250(u"Ödön\tadmin\t")));
        QVERIFY(stored.endsWith("\r\n"));
#ifndef Q_OS_WIN
        QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif

        auto holder = running.holderOf(first);
        QVERIFY(holder);
        QCOMPARE(holder->name, u"Ödön"_s);
        QVERIFY(!holder->viewer());
        QVERIFY(!running.holderOf(first.left(63)));
        QVERIFY(!running.holderOf(QByteArray()));

        const QByteArray viewer = WebUsers::makeKey(folder, u"Vili"_s, WebUsers::kViewer);
        QVERIFY(running.holderOf(viewer)->viewer());
        QVERIFY(running.current(u"Ödön"_s, WebUsers::hashOf(first)));

        // A new key for Ödön: the old one stops, his session (made on the old hash) ends.
        const QByteArray second = WebUsers::makeKey(folder, u"Ödön"_s, WebUsers::kViewer);
        QVERIFY(!running.holderOf(first));
        QVERIFY(!running.current(u"Ödön"_s, WebUsers::hashOf(first)));
        QVERIFY(running.holderOf(second)->viewer());
        QCOMPARE(WebUsers::parse(stored + "x").size(), 1);

        QVERIFY(WebUsers::revoke(folder, u"Vili"_s));
        QVERIFY(!WebUsers::revoke(folder, u"Vili"_s));
        QVERIFY(!running.holderOf(viewer));
        QVERIFY(running.holderOf(second));
    }

    // Lines of another form are passed over, whatever else the file holds.
    void damagedLinesArePassedOver()
    {
        const QByteArray hash = WebUsers::hashOf("k");
        const QByteArray content =
            "Anna\tadmin\t" + hash + "\r\n" + "Bea\tfőnök\t" + hash + "\r\n" + // not a role
            "Cili\tadmin\tabc\r\n" +                                           // not a hash
            "\r\n" + "Dóra\tadmin\r\n" + text::toCp1250(u"Éva\tfigyelő\t") + hash.toUpper() + "\n";
        const QList<WebUser> users = WebUsers::parse(content);
        QCOMPARE(users.size(), 2);
        QCOMPARE(users[0].name, u"Anna"_s);
        QCOMPARE(users[1].name, u"Éva"_s);
        QCOMPARE(users[1].keyHash, hash);
        QVERIFY(users[1].viewer());
        QCOMPARE(WebUsers::parse(WebUsers::serialize(users)), users);
    }

    void namesAndRoles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("sound");
        QTest::newRow("plain") << u"Teri"_s << true;
        QTest::newRow("accents and a blank") << u"Kovács Ödön"_s << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blank") << u"  "_s << false;
        QTest::newRow("leading blank") << u" Teri"_s << false;
        QTest::newRow("too long") << QString(33, u'a') << false;
        QTest::newRow("longest") << QString(32, u'a') << true;
        QTest::newRow("tab") << u"a\tb"_s << false;
        QTest::newRow("line break") << u"a\nb"_s << false;
        QTest::newRow("comma") << u"a,b"_s << false;
        QTest::newRow("parenthesis") << u"a)"_s << false;
        QTest::newRow("not in code page 1250") << u"日本"_s << false;
        QTest::newRow("the shared key's name") << u"Web"_s << false;
        QTest::newRow("the window's name") << u"ablak"_s << false;
    }
    void namesAndRoles()
    {
        QFETCH(QString, name);
        QFETCH(bool, sound);
        QCOMPARE(WebUsers::nameProblem(name).isEmpty(), sound);
        QCOMPARE(WebUsers::roleOf(u"figyelő"_s), WebUsers::kViewer);
        QCOMPARE(WebUsers::roleOf(u"figyelo"_s), WebUsers::kViewer);
        QCOMPARE(WebUsers::roleOf(u"admin"_s), WebUsers::kAdmin);
        QVERIFY(!WebUsers::roleOf(u"Admin"_s));
        QVERIFY(!WebUsers::roleOf(QString()));
    }

    // A file that is no file (a folder in its place) lets no personal key in and throws nothing
    // at the login; the command line's change says why it failed.
    void unreadableFileLetsNoOneIn()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        const QByteArray key = WebUsers::makeKey(folder, u"Anna"_s, WebUsers::kAdmin);
        WebUsers running(folder);
        QVERIFY(running.holderOf(key));
        QVERIFY(QFile::remove(folder + WebUsers::kFileName));
        QVERIFY(QDir(folder).mkdir(WebUsers::kFileName));
        QVERIFY(!running.holderOf(key));
        QVERIFY_THROWS_EXCEPTION(std::exception,
                                 WebUsers::makeKey(folder, u"Bea"_s, WebUsers::kAdmin));
    }
};

QTEST_GUILESS_MAIN(TestWebUsers)
#include "test_webusers.moc"
