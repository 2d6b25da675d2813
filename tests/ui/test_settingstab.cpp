// The "Beállítások" tab, the settings and help menu items, and the console's chat box and restart
// buttons, driven through the real main window under the offscreen platform, with the practice
// server on 127.0.0.1 for the link.
#include "text/version.h"
#include "ui/helptexts.h"
#include "ui/settingstab.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using testserver::RconServer;
using ui::MainWindow;

namespace {

const QString kPassword = u"secret"_s;

struct Bound
{
    QString name;
    Key key;
};

// Every switch of the tab and whether it is on after a first start.
const QList<std::pair<Bound, bool>> kSwitches = {
    {{u"AutoStartBox"_s, Key::AutoStart}, false},
    {{u"SaveServerInfoBox"_s, Key::SaveServerInfo}, true},
    {{u"AutoConnectBox"_s, Key::AutoConnect}, false},
    {{u"StartMinimizedBox"_s, Key::StartMinimized}, false},
    {{u"EventNotifyBox"_s, Key::EventNotify}, true},
    {{u"NotificationBox"_s, Key::Notification}, true},
    {{u"AnounceTimeBox"_s, Key::AnounceTime}, false},
    {{u"CommandListenerBox"_s, Key::CommandListener}, false},
    {{u"CheckBox15"_s, Key::Scheduler}, false},
    {{u"PingMon"_s, Key::PingCheck}, true},
    {{u"RateCheckBox"_s, Key::RateCheck}, false},
    {{u"CheckBox7"_s, Key::KickOnBadRate}, false},
    {{u"AntiFreezeBox"_s, Key::AntiFreeze}, true},
};

struct NumberField
{
    Bound bound;
    int minimum;
    int maximum;
    int initial;
};

const QList<NumberField> kNumbers = {
    {{u"AnounceInterval"_s, Key::AnounceInterval}, 1, 60, 10},
    {{u"PingWarningLevel"_s, Key::PingWarningLevel}, 1, 999, 90},
    {{u"PingKickLevel"_s, Key::PingKickLevel}, 2, 999, 110},
    {{u"SpinEdit2"_s, Key::RequiredRate}, 1000, 50000, 25000},
};

QString say(const QString& text)
{
    return u"say ^1vigilor^2> ^7"_s + text;
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList titles(const QMenu* menu)
{
    QStringList items;
    for (const QAction* item : menu->actions())
        items << (item->isSeparator() ? u"-"_s : item->text());
    return items;
}

// A click on the box's indicator: a box wider than its caption takes clicks on them only.
void click(QCheckBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

// Types any text, accented letters included, one key at a time.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Counts the change signals of one key.
struct ChangeCount
{
    QSignalSpy spy;
    Key key;
    ChangeCount(Settings& settings, Key key) : spy(&settings, &Settings::changed), key(key) {}
    int take()
    {
        int n = 0;
        for (const QList<QVariant>& args : std::as_const(spy))
            n += args.at(0).value<Key>() == key;
        spy.clear();
        return n;
    }
};

// Where QDesktopServices sends the file addresses it is asked to open.
class UrlRecorder final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

// A robot in a temporary program folder with its main window, shown on the settings tab, after
// the start-up and the settings load of a first start.
struct Harness : WindowFixture
{
    Harness() : WindowFixture(kPassword)
    {
        robot.startUp();
        robot.loadSettings();
        window.showTab(MainWindow::Tab::Settings);
    }
    QCheckBox* box(const QString& name) const { return find<QCheckBox>(name); }
    QSpinBox* number(const QString& name) const { return find<QSpinBox>(name); }
    QPlainTextEdit* memo() const { return find<QPlainTextEdit>(u"MsgMemo"_s); }
    QByteArray read(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool show() { return showActive(); }
    void connectHeld()
    {
        pointAtServer();
        robot.link().connectAction();
        settle(robot.link());
        robot.link().pacer().stop();
    }
    // What was queued since the queue held `before` commands (the pacer is held).
    QStringList queuedSince(qsizetype before) { return robot.link().queue().mid(before); }
};

} // namespace

class TestSettingsTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void switchesFollowTheModel();
    void numbersFollowTheModel();
    void webAddressFollowsTheModel();
    void listenerWarningOnlyOnAClick();
    void messageMemoHoldsTheMessages();
    void loadItemReadsTheFile();
    void defaultsItemAsksFirst();
    void helpMenuShowsItsTexts();
    void websiteOpensTheDocumentation();
    void oneLineFieldsTakeNoLineBreak();
    void chatBoxSaysWhileConnected();
    void restartButtonsRunTheChannelCommand();

private:
    QTemporaryDir m_config; // the autostart entry goes here, never into the user's desktop
};

void TestSettingsTab::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void TestSettingsTab::switchesFollowTheModel()
{
    Harness h;
    QVERIFY(h.show());
    QWidget* page = h.window.page(MainWindow::Tab::Settings);
    QVERIFY(qobject_cast<ui::SettingsTab*>(page));
    QCOMPARE(page->objectName(), u"TabSheet1"_s);
    Settings& settings = h.robot.settings();

    for (const auto& [bound, initial] : kSwitches) {
        const char* name = qPrintable(bound.name);
        QCheckBox* box = page->findChild<QCheckBox*>(bound.name);
        QVERIFY2(box, name);
        QCOMPARE(box->text(), QString::fromUtf16(keyInfo(bound.key).caption));
        QVERIFY2(box->isChecked() == initial, name);
        QVERIFY2(settings.flag(bound.key) == initial, name);

        // A click sets the model; a change of the model moves the box without being written
        // back a second time.
        ChangeCount changes(settings, bound.key);
        click(box);
        QVERIFY2(settings.flag(bound.key) == !initial, name);
        QCOMPARE(changes.take(), 1);
        settings.setFlag(bound.key, initial);
        QVERIFY2(box->isChecked() == initial, name);
        QCOMPARE(changes.take(), 1);
    }
    // The click on "Parancs figyelő" was the only one that warned.
    QCOMPARE(h.dialogs.messages(), QStringList{channel::Interpreter::kListenerWarning});

    // The reactions run as on any change: the time signal speaks and its timer runs.
    click(h.box(u"AnounceTimeBox"_s));
    QVERIFY(h.robot.broadcaster().timeSignal().isActive());
    click(h.box(u"NotificationBox"_s));
    QVERIFY(!h.robot.broadcaster().announcer().isActive());
}

void TestSettingsTab::numbersFollowTheModel()
{
    Harness h;
    QVERIFY(h.show());
    Settings& settings = h.robot.settings();
    for (const NumberField& field : kNumbers) {
        const char* name = qPrintable(field.bound.name);
        QSpinBox* spin = h.number(field.bound.name);
        QVERIFY2(spin, name);
        QCOMPARE(spin->minimum(), field.minimum);
        QCOMPARE(spin->maximum(), field.maximum);
        QCOMPARE(spin->value(), field.initial);

        ChangeCount changes(settings, field.bound.key);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QString::number(field.minimum + 7));
        QCOMPARE(settings.number(field.bound.key), field.minimum + 7);
        settings.setNumber(field.bound.key, field.maximum);
        QCOMPARE(spin->value(), field.maximum);
        changes.take();
        settings.setNumber(field.bound.key, field.maximum + 1); // limited: no change at all
        QCOMPARE(spin->value(), field.maximum);
        QCOMPARE(changes.take(), 0);

        // Typed beyond the range: limited to the nearest bound, as a settings load limits it.
        const std::pair<QString, int> typed[] = {
            {QString::number(field.minimum - 1), field.minimum},
            {QString::number(field.maximum) + u"9"_s, field.maximum},
            {QString::number(field.initial), field.initial},
            {u"99999999999999999999999"_s, field.maximum}};
        for (const auto& [text, expected] : typed) {
            spin->selectAll();
            QTest::keyClicks(spin, text);
            QTest::keyClick(spin, Qt::Key_Return);
            QVERIFY2(spin->value() == expected, qPrintable(field.bound.name + u' ' + text));
            QCOMPARE(settings.number(field.bound.key), expected);
        }
    }

    // Labels name their fields.
    for (const QString& name : {u"AnounceInterval"_s, u"PingWarningLevel"_s, u"PingKickLevel"_s}) {
        auto* label = h.find<QLabel>(name + u"Label"_s);
        QVERIFY(label);
        QCOMPARE(label->buddy(), h.number(name));
    }
    QCOMPARE(h.find<QLabel>(u"AnounceIntervalLabel"_s)->text(), u"Idő (perc):"_s);

    // The announcer's period follows the field; leaving the field sets it again even unchanged,
    // which restarts a running announcer's count.
    QSpinBox* period = h.number(u"AnounceInterval"_s);
    period->setFocus();
    period->selectAll();
    QTest::keyClicks(period, u"1"_s);
    QCOMPARE(h.robot.broadcaster().announcer().interval(), 60000);
    ChangeCount changes(settings, Key::AnounceInterval);
    QTest::keyClick(period, Qt::Key_Return);
    QCOMPARE(changes.take(), 1);
    QCOMPARE(settings.number(Key::AnounceInterval), 1);
}

// The web page's address: a field named by its label in the group "Webes felület", kept in the
// section [Web] of the settings file only once it holds something.
void TestSettingsTab::webAddressFollowsTheModel()
{
    Harness h;
    QVERIFY(h.show());
    Settings& settings = h.robot.settings();
    auto* field = h.find<QLineEdit>(u"WebListen"_s);
    QVERIFY(field);
    auto* label = h.find<QLabel>(u"WebListenLabel"_s);
    QVERIFY(label);
    QCOMPARE(label->text(), u"Cím:port:"_s);
    QCOMPARE(label->buddy(), field);
    QCOMPARE(h.find<QGroupBox>(u"WebGroup"_s)->title(), u"Webes felület"_s);
    QVERIFY(field->text().isEmpty());

    h.robot.saveSettings();
    QVERIFY(!h.read(u"vigilor.ini"_s).contains("[Web]"));
    field->setFocus();
    QTest::keyClicks(field, u"127.0.0.1:8080"_s);
    QCOMPARE(settings.text(Key::WebListen), u"127.0.0.1:8080"_s);
    h.robot.saveSettings();
    QVERIFY(h.read(u"vigilor.ini"_s)
                .endsWith("[Web]\r\nListen=127.0.0.1:8080\r\nCert=\r\nKey=\r\n"
                          "TrustedProxies=\r\nHosts=\r\n"));
    settings.setText(Key::WebListen, QString());
    QVERIFY(field->text().isEmpty());
    // Once there, the section stays, emptied: the web page is off.
    h.robot.saveSettings();
    QVERIFY(h.read(u"vigilor.ini"_s)
                .endsWith("[Web]\r\nListen=\r\nCert=\r\nKey=\r\n"
                          "TrustedProxies=\r\nHosts=\r\n"));
}

void TestSettingsTab::listenerWarningOnlyOnAClick()
{
    Harness h;
    QVERIFY(h.show());
    Settings& settings = h.robot.settings();
    QCheckBox* listener = h.box(u"CommandListenerBox"_s);
    QTimer& poll = h.robot.interpreter().pollTimer();
    qsizetype warningsWhenSet = -1;
    connect(&settings, &Settings::changed, this, [&](Key key) {
        if (key == Key::CommandListener && settings.flag(key))
            warningsWhenSet = h.dialogs.messages().size();
    });

    // The operator's click: the warning first, then the switch and its poll.
    click(listener);
    QVERIFY(listener->hasFocus());
    QCOMPARE(h.dialogs.messages(), QStringList{channel::Interpreter::kListenerWarning});
    QCOMPARE(warningsWhenSet, 1);
    QVERIFY(settings.flag(Key::CommandListener));
    QVERIFY(poll.isActive());

    // Switching off warns of nothing.
    click(listener);
    QVERIFY(!settings.flag(Key::CommandListener));
    QVERIFY(!poll.isActive());
    QCOMPARE(h.dialogs.messages().size(), 1);

    // The engine switching it on shows nothing, even while the box holds the focus.
    QVERIFY(listener->hasFocus());
    settings.setFlag(Key::CommandListener, true);
    QVERIFY(listener->isChecked());
    QVERIFY(poll.isActive());
    QCOMPARE(h.dialogs.messages().size(), 1);

    // The keyboard is the operator's too.
    settings.setFlag(Key::CommandListener, false);
    QTest::keyClick(listener, Qt::Key_Space);
    QVERIFY(settings.flag(Key::CommandListener));
    QCOMPARE(h.dialogs.messages().size(), 2);
}

void TestSettingsTab::messageMemoHoldsTheMessages()
{
    Harness h;
    QVERIFY(h.show());
    Settings& settings = h.robot.settings();
    QPlainTextEdit* memo = h.memo();
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(memo->toPlainText().isEmpty());

    // Typed lines become messages as they are typed; a final line break adds no empty message,
    // but an empty line between two is one.
    memo->setFocus();
    typeText(memo, u"Üdv a szerveren!"_s);
    QCOMPARE(settings.messages(), QStringList{u"Üdv a szerveren!"_s});
    QTest::keyClick(memo, Qt::Key_Return);
    QCOMPARE(settings.messages(), QStringList{u"Üdv a szerveren!"_s});
    QTest::keyClick(memo, Qt::Key_Return);
    typeText(memo, u"^3jó játékot"_s);
    QCOMPARE(settings.messages(),
             QStringList({u"Üdv a szerveren!"_s, QString(), u"^3jó játékot"_s}));
    QVERIFY(memo->textCursor().atEnd()); // the echo of the model did not reset the text

    // Lists from the engine are shown whole, blank lines and non-breaking blanks kept.
    const QStringList lines = {u"egy\u00a0kettő"_s, QString(), QString(), u"három"_s};
    settings.setMessages(lines);
    QCOMPARE(memo->toPlainText(), u"egy kettő\n\n\nhárom\n"_s);
    QCOMPARE(settings.messages(), lines);
    QTest::keyClicks(memo, u"!"_s); // an edit keeps what it did not touch
    QCOMPARE(settings.messages().size(), lines.size());
    QVERIFY(settings.messages().constFirst().endsWith(lines.constFirst()));
    QCOMPARE(settings.messages().mid(1), lines.mid(1));

    // The in-game "anounce <text>" replaces the line at the announcer's position.
    settings.setMessages({u"régi"_s, u"marad"_s});
    h.robot.interpreter().runChannelCommand(
        channel::Interpreter::madeUpAnswer(u"anounce friss hír"_s));
    QCOMPARE(memo->toPlainText(), u"friss hír\nmarad\n"_s);

    // Emptied by the engine, the memo is empty.
    settings.setMessages({});
    QVERIFY(memo->toPlainText().isEmpty());
}

void TestSettingsTab::loadItemReadsTheFile()
{
    Harness h;
    QVERIFY(h.show());
    QCheckBox* listener = h.box(u"CommandListenerBox"_s);
    listener->setFocus();
    QVERIFY(writeFile(h.path(u"vigilor.ini"_s),
                      "[System]\r\nEventNotify=0\r\nNotification=0\r\nStartMinimized=1\r\n"
                      "[Service]\r\nRequiredRate=99999\r\nAntiFreeze=0\r\nCommandListener=1\r\n"
                      "AnounceInterval=0\r\nPingWarningLevel=77\r\nkickOnBadRate=1\r\n"));
    QVERIFY(writeFile(h.path(u"Messages.txt"_s), "els\xf5\r\n\r\nm\xe1sodik\r\n"));

    h.find<QAction>(u"LoadSettingsnow1"_s)->trigger();
    QVERIFY(!h.box(u"EventNotifyBox"_s)->isChecked());
    QVERIFY(!h.box(u"NotificationBox"_s)->isChecked());
    QVERIFY(h.box(u"StartMinimizedBox"_s)->isChecked());
    QVERIFY(!h.box(u"AntiFreezeBox"_s)->isChecked());
    QVERIFY(h.box(u"CheckBox7"_s)->isChecked());
    QVERIFY(h.box(u"PingMon"_s)->isChecked()); // missing from the file: the default
    QCOMPARE(h.number(u"SpinEdit2"_s)->value(), 50000);
    QCOMPARE(h.number(u"AnounceInterval"_s)->value(), 1);
    QCOMPARE(h.number(u"PingWarningLevel"_s)->value(), 77);
    QCOMPARE(h.memo()->toPlainText(), u"első\n\nmásodik\n"_s);

    // The load switched the listener on while its box held the focus: no warning.
    QVERIFY(listener->isChecked());
    QVERIFY(h.robot.interpreter().pollTimer().isActive());
    QVERIFY(h.dialogs.messages().isEmpty());
}

void TestSettingsTab::defaultsItemAsksFirst()
{
    Harness h;
    QVERIFY(h.show());
    Settings& settings = h.robot.settings();
    QMenu* menu = h.window.robotMenu();
    QCOMPARE(titles(menu),
             QStringList({u">> Beállítások mentése <<"_s, u">> Beállítások betöltése <<"_s,
                          u">> Lista frissítése MOST <<"_s, u">> ALAPBEÁLLÍTÁSOK <<"_s,
                          u">> Banlista törlése <<"_s, u">> [ ERŐSZAKOS LEÁLLÁS ] <<"_s, u"-"_s,
                          u"700ms-es parancsküldés"_s, u"2100ms-es parancsküldés"_s}));

    click(h.box(u"AntiFreezeBox"_s));
    click(h.box(u"RateCheckBox"_s));
    settings.setNumber(Key::PingKickLevel, 300);
    settings.setHost(u"127.0.0.1"_s);
    settings.setBanList({u"0 joe"_s, u"4 1.2.3.4"_s});
    const auto changed = [&] {
        return !h.box(u"AntiFreezeBox"_s)->isChecked() && h.box(u"RateCheckBox"_s)->isChecked() &&
               h.number(u"PingKickLevel"_s)->value() == 300 && settings.host() == u"127.0.0.1"_s;
    };
    QAction* reset = h.find<QAction>(u"DefaultSettings1"_s);

    // No: everything stays.
    h.dialogs.answerQuestion(false);
    reset->trigger();
    QCOMPARE(h.dialogs.questions(), QStringList{settings::SettingsStore::kResetWarning});
    QVERIFY(changed());
    QVERIFY(!QFile::exists(h.path(u"vigilor.ini"_s)));

    // Yes: the defaults, saved; the ban list is kept.
    h.dialogs.answerQuestion(true);
    reset->trigger();
    QCOMPARE(h.dialogs.questions().size(), 2);
    QVERIFY(h.box(u"AntiFreezeBox"_s)->isChecked());
    QVERIFY(!h.box(u"RateCheckBox"_s)->isChecked());
    QCOMPARE(h.number(u"PingKickLevel"_s)->value(), 110);
    QVERIFY(settings.host().isEmpty());
    QCOMPARE(settings.banList(), QStringList({u"0 joe"_s, u"4 1.2.3.4"_s}));
    QFile ini(h.path(u"vigilor.ini"_s));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.readAll().contains("PingKickLevel=110\r\n"));
}

void TestSettingsTab::helpMenuShowsItsTexts()
{
    Harness h;
    auto* menu = h.window.menuBar()->findChild<QMenu*>(u"HelpMenu"_s);
    QVERIFY(menu);
    QCOMPARE(menu->title(), u"[ S.O.S ]"_s);
    QCOMPARE(titles(menu), QStringList({u"[Parancs figyelő]"_s, u"[RCON parancsok]"_s,
                                        u"[Keresési tippek]"_s, u"[Névjegy]"_s, u"[Weblap]"_s}));
    const QList<QAction*> items = menu->actions();
    for (int i = 0; i < 4; ++i)
        items[i]->trigger();
    const QStringList shown = h.dialogs.messages();
    QCOMPARE(shown.size(), 4);
    const auto lines = [](const QString& text) { return text.split(u"\n\r"_s); };

    QCOMPARE(shown[0], channel::Interpreter::kHelpText);
    QCOMPARE(lines(shown[0]).constFirst(),
             u"Alap parancs: /rcon set vigilor \"<vigilor parancs>\""_s);
    QCOMPARE(shown[2], link::ConsoleSearch::kTipsText);

    // The command list: both headings, every syntax in order with its description, and a
    // closing line; no line break other than LF CR.
    const QStringList rcon = lines(shown[1]);
    QCOMPARE(rcon.constFirst(), u"--- Alap RCON parancsok ---"_s);
    QVERIFY(!shown[1].contains(QRegularExpression(u"\n(?!\r)|(?<!\n)\r"_s)));
    QStringList syntaxes;
    for (const QString& line : rcon) {
        const qsizetype dash = line.indexOf(u" - "_s);
        if (line.startsWith(u"---"_s))
            syntaxes << line;
        else if (dash > 0 && line.size() > dash + 3)
            syntaxes << line.left(dash);
    }
    QCOMPARE(syntaxes,
             QStringList({u"--- Alap RCON parancsok ---"_s, u"say <szöveg>"_s, u"status"_s,
                          u"kick <név>"_s, u"clientkick <szám>"_s, u"dir maps/mp bsp"_s,
                          u"map <mapnév>"_s, u"map_restart"_s, u"fast_restart"_s,
                          u"setfriendlyfire <0/1/2/3>"_s,
                          u"--- cvar-ok/dvar-ok (használat: set <cvar> <érték>) ---"_s,
                          u"sv_hostname"_s, u"sv_maxclients"_s, u"sv_maxping"_s,
                          u"g_gametype <gametype>"_s, u"g_gravity <szám>"_s, u"g_speed <szám>"_s}));
    QVERIFY(rcon.constLast().contains(u"web"_s));

    const QStringList about = lines(shown[3]);
    QCOMPARE(about.constFirst(), u"Vigilor"_s);
    QVERIFY(about.contains(kProgramCaption));
    QVERIFY(shown[3].contains(QStringLiteral(VIGILOR_VERSION)));
}

void TestSettingsTab::websiteOpensTheDocumentation()
{
    Harness h;
    UrlRecorder opened;
    QDesktopServices::setUrlHandler(u"file"_s, &opened, "open");
    const auto cleanup = qScopeGuard([] { QDesktopServices::unsetUrlHandler(u"file"_s); });

    // The build put the documentation beside the program; both menus open it.
    const QString file = ui::help::documentationFile();
    QVERIFY2(QFile::exists(file), qPrintable(file));
    QVERIFY(QFile::exists(QFileInfo(file).dir().filePath(u"architecture.md"_s)));
    h.find<QAction>(u"WebPage1"_s)->trigger();
    QMenu* trayMenu = h.window.findChild<QSystemTrayIcon*>()->contextMenu();
    QCOMPARE(titles(trayMenu),
             QStringList({u"Megnyitás"_s, u"GoPlay!"_s, u"Weblap"_s, u"-"_s, u"Kilépés"_s}));
    trayMenu->actions().at(2)->trigger();
    QCOMPARE(opened.urls, QList<QUrl>(2, QUrl::fromLocalFile(file)));

    // Wherever the program runs from, an existing file opens: the package's when installed,
    // the source tree's for a program copied elsewhere, the built-in copy when none is there.
    QVERIFY(QDir().mkpath(h.path(u"usr/bin"_s)));
    const QString copies = h.path(u"cache"_s);
    const QString elsewhere = ui::help::documentationFileFor(h.path(u"usr/bin"_s), copies);
    QVERIFY2(QFileInfo(elsewhere).isFile(), qPrintable(elsewhere));
    QVERIFY(readBytes(elsewhere).startsWith("# Vigilor\n"));
    QVERIFY(QDir().mkpath(h.path(u"usr/share/doc/vigilor"_s)));
    QVERIFY(QFile(h.path(u"usr/share/doc/vigilor/README.md"_s)).open(QIODevice::WriteOnly));
    QCOMPARE(ui::help::documentationFileFor(h.path(u"usr/bin"_s), copies),
             h.path(u"usr/share/doc/vigilor/README.md"_s));
    const QString copy = ui::help::documentationCopy(copies);
    QCOMPARE(copy, copies + u"/README.md"_s);
    QCOMPARE(readBytes(copy), readBytes(QStringLiteral(VIGILOR_SOURCE_README)));
    ui::help::openDocumentation(h.robot.console(), ui::help::documentationFileFor(h.path(u"nowhere"_s)));
    QCOMPARE(opened.urls.size(), 3);
    QVERIFY(QFileInfo(opened.urls.constLast().toLocalFile()).isFile());

    // A missing file is said on the console, and nothing is opened.
    const QString missing = h.path(u"docs/README.md"_s);
    ui::help::openDocumentation(h.robot.console(), missing);
    QCOMPARE(opened.urls.size(), 3);
    QVERIFY(h.robot.console().lines().constLast().endsWith(u" >> A dokumentáció nem található: "_s +
                                                           QDir::toNativeSeparators(missing)));
}

// A line break pasted into a one-line field whose text ends up in a command, a datagram or a
// file line never stays there: breaks at the ends go, one inside becomes a blank.
void TestSettingsTab::oneLineFieldsTakeNoLineBreak()
{
    Harness h;
    QVERIFY(h.show());
    h.window.showTab(MainWindow::Tab::Console);
    h.connectHeld();
    for (const QString& name :
         {u"Edit4"_s, u"Edit6"_s, u"Edit2"_s, u"Edit5"_s, u"ed_name"_s, u"ed_CoDMP"_s}) {
        auto* field = h.find<QLineEdit>(name);
        QVERIFY2(field, qPrintable(name));
        field->clear();
        field->insert(u"\r\nfirst\r\nsecond\n"_s);
        QCOMPARE(field->text(), u"first second"_s);
        field->setText(u"a\u2029b"_s);
        QCOMPARE(field->text(), u"a b"_s);
    }
    QCOMPARE(h.robot.settings().password(), u"a b"_s);
    QCOMPARE(h.robot.settings().text(Key::EdName), u"a b"_s);
    const qsizetype before = h.robot.link().queue().size();
    auto* command = h.find<QLineEdit>(u"Edit4"_s);
    command->clear();
    command->insert(u"kick\nsomebody\n"_s);
    QTest::keyClick(command, Qt::Key_Return);
    auto* chat = h.find<QLineEdit>(u"Edit6"_s);
    chat->clear();
    chat->insert(u"szia\r\nmindenki"_s);
    QTest::keyClick(chat, Qt::Key_Return);
    QCOMPARE(h.robot.link().queue().front(), u"kick somebody"_s);
    QCOMPARE(h.queuedSince(before + 1), QStringList{say(u"szia mindenki"_s)});
}

void TestSettingsTab::chatBoxSaysWhileConnected()
{
    Harness h;
    QVERIFY(h.show());
    h.window.showTab(MainWindow::Tab::Console);
    auto* box = h.find<QLineEdit>(u"Edit6"_s);
    auto* sayButton = h.find<QPushButton>(u"Say"_s);
    QVERIFY(box && sayButton);
    QCOMPARE(sayButton->text(), u"Mondd"_s);

    // The toolbar in its order, every button waiting for the link like the chat box.
    QStringList toolbar;
    QList<QToolButton*> buttons =
        h.find(u"TabSheet4"_s)->findChildren<QToolButton*>(QRegularExpression(u"butt$"_s));
    std::sort(buttons.begin(), buttons.end(),
              [](const QWidget* a, const QWidget* b) { return a->x() < b->x(); });
    for (const QToolButton* button : std::as_const(buttons))
        toolbar << button->objectName() + u' ' + button->text();
    QCOMPARE(toolbar, QStringList({u"statbutt [status]"_s, u"servinfbutt [serverinfo]"_s,
                                   u"warnbutt [figyelmeztető]"_s, u"restartbutt [újraindítás]"_s}));
    const QList<QWidget*> linkControls = {box, sayButton, buttons[2], buttons[3]};

    h.connectHeld();
    QVERIFY(h.robot.link().isConnected());
    for (const QWidget* control : linkControls)
        QVERIFY(control->isEnabled());
    const qsizetype before = h.robot.link().queue().size();
    QTest::keyClicks(box, u"Hello World"_s);
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->text(), u"Hello World"_s); // kept, to be said again
    QTest::mouseClick(sayButton, Qt::LeftButton);
    QCOMPARE(h.queuedSince(before), QStringList(2, say(u"Hello World"_s)));

    // An empty box says nothing; neither does a robot that may not write to the chat.
    box->clear();
    QTest::mouseClick(sayButton, Qt::LeftButton);
    box->setText(u"csend"_s);
    h.robot.settings().setFlag(Key::EventNotify, false);
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(h.queuedSince(before).size(), 2);

    h.robot.link().connectAction();
    settle(h.robot.link());
    for (const QWidget* control : linkControls)
        QVERIFY(!control->isEnabled());
}

void TestSettingsTab::restartButtonsRunTheChannelCommand()
{
    Harness h;
    QVERIFY(h.show());
    h.window.showTab(MainWindow::Tab::Console);
    h.connectHeld();
    const qsizetype before = h.robot.link().queue().size();
    QTest::mouseClick(h.find(u"warnbutt"_s), Qt::LeftButton);
    const QStringList warning = {say(u"parancs erkezett"_s),
                                 say(u"^1 !!! FIGYELEM !!! ^3A szerver nemsokara ujraindul!"_s),
                                 u"set vigilor \"nil\""_s};
    QCOMPARE(h.queuedSince(before), warning);

    QTest::mouseClick(h.find(u"restartbutt"_s), Qt::LeftButton);
    QCOMPARE(h.queuedSince(before + 3),
             QStringList({say(u"parancs erkezett"_s),
                          say(u"^1 !!! FIGYELEM !!! ^3A szerver most ujraindul!"_s), say(u"3"_s),
                          say(u"2"_s), say(u"1"_s), u"quit"_s, u"set vigilor \"nil\""_s}));

    // Released, the pacer delivers the warning to the server in that order.
    h.server.clearLog();
    h.robot.link().pacer().arm();
    QTRY_VERIFY_WITH_TIMEOUT(h.server.receivedCommands().size() >= int(before) + 3, 20000);
    QCOMPARE(h.server.receivedCommands().mid(before, 3), warning);
}

QTEST_MAIN(TestSettingsTab)
#include "test_settingstab.moc"
