#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace vigilor {
class ErrorSink;
class Settings;
enum class Key : int;
} // namespace vigilor

namespace vigilor::link {
class Console;
class Link;
} // namespace vigilor::link

namespace vigilor::channel {

class Broadcaster;

// The in-game command channel: administrators type /rcon set vigilor "<command>", the channel
// poll (`Timer5`) reads the variable, and RunChannelCommand carries the command out and sets
// the variable back to "nil". The console buttons and the scheduler hand it made-up answers.
class Interpreter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Interpreter)

public:
    struct Hooks
    {
        // AddBanEntry of the ban list: re-grades the entries with this entry text, or adds one.
        std::function<void(const QString& entryText, int code)> addBanEntry;
        std::function<void()> loadSettings;
        std::function<void()> saveSettings;
    };

    static constexpr int kMinPollMs = 10;

    Interpreter(Settings& settings, link::Link& link, link::Console& console,
                Broadcaster& broadcaster, ErrorSink* errors, QObject* parent = nullptr);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // The tick of `Timer5`: queries the channel variable while the link is up.
    void pollChannel();
    // Interprets one answer holding the channel marker. A step that fails is reported on the
    // console and skipped; the other steps still run and the reset is always queued, so a
    // command that cannot be carried out is not met again at every poll. Never throws.
    void runChannelCommand(const QString& reply);

    // The value between the marker (with or without a blank after "is:") and the first
    // `" default` behind it, lower-cased, line breaks and NULs as blanks; empty when either is
    // missing.
    static QString commandText(const QString& reply);
    // The answer the console buttons and the scheduler hand over:
    // "vigilor" is:"<command>" default is:""
    static QString madeUpAnswer(const QString& command);
    static int pollPeriod(int timeIntervalSeconds); // max(T * 1000 div 3, 10) ms

    // "[Parancs figyelő]" in the "[ S.O.S ]" menu, and the warning shown when the operator
    // switches "Parancs figyelő" on: whole message box texts.
    static inline const QString kHelpText = QStringLiteral(
        "Alap parancs: /rcon set vigilor \"<vigilor parancs>\"\n\r"
        "\n\r"
        "Az vigilor parancs helyére ezeket kell írnod!\n\r"
        "\n\r"
        "ban <név vagy IP> : kitiltja a játékost a szerverről (0-s büntetés, ban)\n\r"
        "ban on/off : a büntető funkció be- és kikapcsolása\n\r"
        "unban <bünt.szám> <név vagy IP> : törli a játékost a banlistáról; pontosan úgy kell "
        "beírni, ahogy a listában szerepel\n\r"
        "lban off/on : az IP címek figyelésének ki- és bekapcsolása\n\r"
        "time : a robot egyszer kiírja a közös chatbe a saját gépének pontos idejét\n\r"
        "time on/off : pontos idő 10 percenként, be/ki\n\r"
        "rsay <message> : üzenet a közös chatbe a robot nevében\n\r"
        "anounce : kiírja az előre megadott szöveget\n\r"
        "anounce on/off : a megadott üzenet ismétlése be/ki\n\r"
        "anounce <üzenet> : beállítja az üzenetet\n\r"
        "AntiFreeze : a robot megírja a közös chatbe, hogy be van-e kapcsolva a fagyás védelem\n\r"
        "AntiFreeze on/off : fagyás védelem be/ki (a 999-es pingű játékosokat rúgja ki, de csak "
        "ha már van pontjuk, és 2 ellenőrzésen át ilyen állapotban voltak)\n\r"
        "interval : megmondja az ellenőrzési időközt\n\r"
        "interval <szám> : beállítja az ellenőrzési időközt (másodpercben)\n\r"
        "restart warn : figyelmeztetés a szerver újraindítása előtt\n\r"
        "restart : a szerver újraindítása figyelmeztetéssel, 3-tól visszaszámolva\n\r"
        "randomize: : pályarotáció keverő (béta, csak saját felelősségre)\n\r"
        "status: : ellenőrzés a lehető leghamarabb\n\r"
        "save : elmenti a robot beállításait\n\r"
        "load : visszatölti a robot beállításait az utoljára mentett állapotra\n\r"
        "\n\r"
        "Keldor");
    static inline const QString kListenerWarning = QStringLiteral(
        "!!! FIGYELEM !!!\n\r"
        "\n\r"
        "A játékszerver természetéből adódóan ez a funkció lelassíthatja a programot, túl rövid "
        "ellenőrzési időköz mellett pedig megbéníthatja a fő funkcióit. Csak akkor kapcsold be, "
        "ha tudod, mit csinálsz!\n\r"
        "Az ellenőrzési időköz legalább 1 perc legyen (ez ajánlás: kevesebbet csak nagyon "
        "fontos esetben állíts be).\n\r"
        "\n\r"
        "Keldor");

    QTimer& pollTimer() { return m_poll; }

private:
    void onChanged(Key key);
    template <typename Step> void step(Step&& work);
    void setMessageAtPosition(const QString& text);

    Settings& m_settings;
    link::Link& m_link;
    link::Console& m_console;
    Broadcaster& m_broadcaster;
    ErrorSink* m_errors;
    Hooks m_hooks;
    QTimer m_poll;
};

} // namespace vigilor::channel
