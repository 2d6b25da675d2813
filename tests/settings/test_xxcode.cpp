// The xxencode form in which the settings file keeps the upload address.
#include "settingsfixture.h"

class TestXxCode final : public QObject
{
    Q_OBJECT

private slots:
    void xxcode()
    {
        QCOMPARE(xxencode(QString()), u"+"_s);
        QCOMPARE(xxencode(u"A"_s), u"-EE++"_s);
        QCOMPARE(xxencode(u"Cat"_s), u"1Eq3o"_s);
        QCOMPARE(xxdecode(u"1Eq3o"_s), u"Cat"_s);
        QCOMPARE(xxdecode(u"-EE--"_s), u"A"_s); // the padding does not matter
        for (const QString& bad : {QString(), u"+"_s, u"*abc"_s, u"0"_s})
            QCOMPARE(xxdecode(bad), QString());
        QRandomGenerator rng(7);
        for (int n = 0; n <= kXxMaxBytes; ++n) {
            QByteArray bytes(n, Qt::Uninitialized);
            for (char& c : bytes)
                c = char(rng.bounded(256));
            const QString text = text::fromCp1250(bytes);
            const QString encoded = xxencode(text);
            QCOMPARE(encoded.size(), 1 + (n + 2) / 3 * 4);
            QCOMPARE(xxdecode(encoded), text);
            // Cut short, it gives what it still holds.
            for (qsizetype cut = 0; cut < encoded.size(); ++cut)
                QVERIFY(text.startsWith(xxdecode(encoded.first(cut))));
        }
        QVERIFY_THROWS_EXCEPTION(Error, xxencode(QString(64, u'a')));
    }
};

QTEST_GUILESS_MAIN(TestXxCode)
#include "test_xxcode.moc"
