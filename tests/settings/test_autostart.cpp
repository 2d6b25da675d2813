// The desktop autostart entry: its quoting, its writing, rewriting and removal, one per data
// folder, and a failure that leaves the load going.
#include "settingsfixture.h"

class TestAutostart final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        // No test may touch the real autostart folder.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void autostartEntryQuotesThePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << u"/opt/vigilor/vigilor"_s << u"/opt/vigilor/vigilor"_s;
        QTest::newRow("blanks") << u"/opt/my games/vigilor"_s << u"\"/opt/my games/vigilor\""_s;
        QTest::newRow("reserved characters")
            << u"/opt/a b/vig\"il$or%`\\x"_s
            << u"\"/opt/a b/vig\\\\\"il\\\\$or%%\\\\`\\\\\\\\x\""_s;
        QTest::newRow("percent only") << u"/opt/100%/v"_s << u"/opt/100%%/v"_s;
        QTest::newRow("300 characters")
            << u"/"_s + QString(299, u'p') << u"/"_s + QString(254, u'p');
    }
    void autostartEntryQuotesThePath()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(autostartEntry(path),
                 u"[Desktop Entry]\nType=Application\nName=vigilor\nExec="_s + exec + u"\n"_s);
#endif
    }

    void autostartIsWrittenRewrittenAndRemoved()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        const QString entry = m_config.path() + u"/autostart/vigilor.desktop"_s;
        QCOMPARE(autostartEntryPath(), entry);
        QFile::remove(entry);
        applyAutostart(false, u"/x"_s); // nothing to remove
        QVERIFY(!QFile::exists(entry));

        Folder f;
        QString programPath = u"/opt/vigilor/vigilor"_s;
        SettingsStore::Hooks h = f.hooks();
        h.autostart = [&](bool on, const QString&) { applyAutostart(on, programPath); };
        f.store->setHooks(h);

        // A click on the switch writes the entry, another removes it.
        f.settings.setFlag(Key::AutoStart, true);
        QVERIFY(readAll(entry).contains("\nExec=/opt/vigilor/vigilor\n"));
        f.settings.setFlag(Key::AutoStart, false);
        QVERIFY(!QFile::exists(entry));

        // Every load while the switch is on writes the current path, even over a changed entry.
        f.write(u"vigilor.ini"_s, "[System]\r\nAutoStart=1\r\n");
        f.store->load();
        QVERIFY(readAll(entry).contains("\nExec=/opt/vigilor/vigilor\n"));
        programPath = u"/moved/"_s + QString(300, u'v');
        f.store->load();
        QVERIFY(readAll(entry).contains(
            QByteArray("\nExec=/moved/" + QByteArray(255 - 7, 'v') + "\n")));
        f.write(u"vigilor.ini"_s, "[System]\r\nAutoStart=0\r\n");
        f.store->load();
        QVERIFY(!QFile::exists(entry));
#endif
    }

    // Each data folder has its own entry, which passes the folder on; the program's own folder
    // keeps the plain entry.
    void autostartEntryPerDataFolder()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        const QString program = u"/opt/my games/vigilor"_s;
        const QString first = u"/srv/cod 2/szerver 1"_s;
        const QString second = u"/srv/uo"_s;
        QCOMPARE(autostartEntry(program, first + u"/"_s),
                 u"[Desktop Entry]\nType=Application\nName=vigilor (/srv/cod 2/szerver 1)\n"
                 "Exec=\"/opt/my games/vigilor\" --data-dir \"/srv/cod 2/szerver 1\"\n"_s);
        QCOMPARE(autostartEntry(u"/opt/vigilor"_s, u"/srv/100%/a$b"_s),
                 u"[Desktop Entry]\nType=Application\nName=vigilor (/srv/100%/a$b)\n"
                 "Exec=/opt/vigilor --data-dir \"/srv/100%%/a\\\\$b\"\n"_s);

        // Named after the folder, the same at every run, different for another folder even of
        // the same name.
        const QString entryFirst = autostartEntryPath(first);
        QCOMPARE(autostartEntryPath(first + u"/"_s), entryFirst);
        QCOMPARE(autostartEntryPath(u"/srv/cod 2/../cod 2/szerver 1"_s), entryFirst);
        QVERIFY2(QFileInfo(entryFirst).fileName().startsWith(u"vigilor-szerver_1-"_s),
                 qPrintable(entryFirst));
        QVERIFY(entryFirst.endsWith(u".desktop"_s));
        QCOMPARE(QFileInfo(entryFirst).path(), m_config.path() + u"/autostart"_s);
        QVERIFY(autostartEntryPath(u"/other/szerver 1"_s) != entryFirst);
        QCOMPARE(autostartEntryPath(), m_config.path() + u"/autostart/vigilor.desktop"_s);

        // Side by side: switching one off leaves the other and the program folder's entry.
        applyAutostart(true, program);
        applyAutostart(true, program, first);
        applyAutostart(true, program, second);
        QVERIFY(readAll(entryFirst)
                    .contains(
                        "\nExec=\"/opt/my games/vigilor\" --data-dir \"/srv/cod 2/szerver 1\"\n"));
        QVERIFY(readAll(autostartEntryPath(second))
                    .contains("\nExec=\"/opt/my games/vigilor\" --data-dir /srv/uo\n"));
        applyAutostart(false, program, first);
        QVERIFY(!QFile::exists(entryFirst));
        QVERIFY(QFile::exists(autostartEntryPath(second)));
        QVERIFY(readAll(autostartEntryPath()).contains("\nExec=\"/opt/my games/vigilor\"\n"));
        applyAutostart(false, program, second);
        applyAutostart(false, program);
        QCOMPARE(QDir(m_config.path() + u"/autostart"_s).entryList(QDir::Files), QStringList());

        // The store passes its own folder; a folder that is the program's own gets the plain
        // entry, which starts the program without arguments.
        Folder f;
        SettingsStore::Hooks h = f.hooks();
        h.autostart = &applyAutostartForThisProgram;
        f.store->setHooks(h);
        f.settings.setFlag(Key::AutoStart, true);
        const QByteArray own = readAll(autostartEntryPath(f.dir.path()));
        QVERIFY2(own.contains(QByteArray("--data-dir " + QFile::encodeName(f.dir.path()) + "\n")),
                 own.constData());
        QVERIFY(!QFile::exists(autostartEntryPath()));
        f.settings.setFlag(Key::AutoStart, false);
        QVERIFY(!QFile::exists(autostartEntryPath(f.dir.path())));
        applyAutostartForThisProgram(true, QCoreApplication::applicationDirPath() + u"/"_s);
        QVERIFY(readAll(autostartEntryPath())
                    .endsWith(QByteArray(
                        "\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath()) +
                        "\n")));
        applyAutostartForThisProgram(false, QCoreApplication::applicationDirPath());
        QVERIFY(!QFile::exists(autostartEntryPath()));
#endif
    }

    void autostartFailureIsReportedAndTheLoadGoesOn()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        QTemporaryDir dir;
        writeAll(dir.path() + u"/blocked"_s, "a file where a folder should be");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + u"/blocked"_s));
        Folder f;
        SettingsStore::Hooks h = f.hooks();
        h.autostart = [](bool on, const QString&) { applyAutostart(on, u"/opt/vigilor"_s); };
        f.store->setHooks(h);
        f.write(u"vigilor.ini"_s, "[System]\r\nAutoStart=1\r\nTimeInterval=321\r\n"
                                  "[ServerInfo]\r\nIP=10.0.0.9\r\n");
        f.store->load();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QCOMPARE(f.calls.size(), 2);
        QVERIFY2(f.calls[0].startsWith(u"error Az automatikus indítás"_s), qPrintable(f.calls[0]));
        QCOMPARE(f.calls[1], u"show"_s);
        QCOMPARE(f.settings.timeInterval(), 321);
        QCOMPARE(f.settings.host(), u"10.0.0.9"_s);
#endif
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "test_autostart.moc"
