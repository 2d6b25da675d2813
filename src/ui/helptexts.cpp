#include "ui/helptexts.h"

#include "io/files.h"
#include "link/console.h"
#include "settings/textfile.h"
#include "text/errors.h"
#include "text/version.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace vigilor::ui::help {

const QString& rconCommands()
{
    static const QString text = QStringLiteral(
        "--- Alap RCON parancsok ---\n\r"
        "say <szöveg> - írás a szerverre (konzolba)\n\r"
        "status - a szerver állapota (pálya, játékosok stb.)\n\r"
        "kick <név> - valaki kirúgása név szerint\n\r"
        "clientkick <szám> - kirúgás sorszám (slot) szerint, ahogy a statusban látszik\n\r"
        "dir maps/mp bsp - a szerver pályalistája\n\r"
        "map <mapnév> - pályaváltás\n\r"
        "map_restart - a pálya újraindítása (CoD2-ben teljes újratöltés)\n\r"
        "fast_restart - (csak CoD2) gyors pályaújraindítás, mint CoD-ban és UO-ban a "
        "map_restart\n\r"
        "setfriendlyfire <0/1/2/3> - csapatsebzés: 0 nincs, 1 bekapcsolva, 2 visszaverődő "
        "sebzés, 3 mindkettő sérül\n\r"
        "\n\r"
        "--- cvar-ok/dvar-ok (használat: set <cvar> <érték>) ---\n\r"
        "sv_hostname - a szerver neve, ahogy a szerverböngészők mutatják\n\r"
        "sv_maxclients - legfeljebb ennyi játékos lehet a szerveren\n\r"
        "sv_maxping - a belépéskor megengedett legnagyobb ping (csak ennél kisebb pinggel lehet "
        "csatlakozni)\n\r"
        "g_gametype <gametype> - játékmód (például dm, tdm, sd, ctf)\n\r"
        "g_gravity <szám> - gravitáció (alapértéke 800)\n\r"
        "g_speed <szám> - sebesség (alapértéke 190)\n\r"
        "\n\r"
        "További parancsokért és változókért keress rá a weben!");
    return text;
}

const QString& firstStart()
{
    static const QString text =
        QString(47, u' ') +
        QStringLiteral(
            "... _ _ _ ... ELSŐ INDÍTÁS ... _ _ _ ...\n\r\n\r"
            "A program most betölti az alapbeállításokat.\n\r"
            "Az alapbeállítások nem szabályok: változtasd meg őket józan ésszel! Például a nem "
            "kirúgandó banlista-bejegyzések az IP figyelővel és a figyelmeztetővel együtt "
            "elárasztják a chatet figyelmeztetésekkel.\n\r"
            "A frissítési időköz legkisebb ajánlott értéke 40 másodperc, mert a parancs figyelő "
            "háromszor olyan gyakran kérdez, mint a banlista figyelő, a szerverek pedig nem "
            "bírnak sok parancsot rövid idő alatt; az 1 perc az optimális.\n\r"
            "Sok rendbontótól gyorsan így szabadulhatsz meg: kapcsold ki a parancs figyelőt, "
            "állíts rövidebb időközt, és kapcsold ki a chat üzeneteket.\n\r"
            "Mielőtt hibát jelentenél, próbáld meg magad megoldani a problémát!");
    return text;
}

const QString& about()
{
    static const QString text =
        u"Vigilor\n\r\n\r"_s + kProgramCaption + u"\n\rVerzió: "_s +
        QStringLiteral(VIGILOR_VERSION) +
        u"\n\r\n\r"
        "Adminisztrációs robot Call of Duty, United Offensive és Call of Duty 2 dedikált "
        "szerverekhez. A játék távoli konzolján (rcon, UDP) át figyeli a szervert: "
        "betartatja a banlistát, a ping-, rate- és fagyásszabályokat, üzeneteket küld a "
        "chatbe, és a játékból is irányítható."_s;
    return text;
}

QString documentationFile()
{
    return documentationFileFor(QCoreApplication::applicationDirPath());
}

QStringList documentationPlaces(const QString& programFolder)
{
    return {
        programFolder + u"/docs/README.md"_s,
        QDir::cleanPath(programFolder + u"/../share/doc/vigilor/README.md"_s),
        QStringLiteral(VIGILOR_SOURCE_DIR "/README.md"),
        u"/usr/share/doc/vigilor/README.md"_s,
    };
}

QString documentationCopy(const QString& folder)
{
    QFile embedded(u":/docs/README.md"_s);
    if (!embedded.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = embedded.readAll();
    const QString file = folder + u"/README.md"_s;
    try {
        if (io::readFileIfPresent(file) != content) {
            QDir().mkpath(folder);
            io::replaceFile(file, content);
        }
    } catch (const FileError&) {
        return {};
    }
    return file;
}

QString documentationFileFor(const QString& programFolder, const QString& copyFolder)
{
    for (const QString& place : documentationPlaces(programFolder)) {
        if (QFileInfo(place).isFile())
            return place;
    }
    const QString copy = documentationCopy(copyFolder);
    return copy.isEmpty() ? documentationPlaces(programFolder).constFirst() : copy;
}

QString documentationCopyFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u"/vigilor"_s;
}

void openDocumentation(link::Console& console, const QString& file)
{
    const QString shown = QDir::toNativeSeparators(file);
    if (!QFileInfo(file).isFile())
        console.consoleLine(u"A dokumentáció nem található: "_s + shown);
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
        console.consoleLine(u"A dokumentáció nem nyitható meg: "_s + shown);
}

} // namespace vigilor::ui::help
