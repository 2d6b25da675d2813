#pragma once

#include "settings/autostart.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "io/files.h"
#include "settings/textfile.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>

namespace vigilor::settings {

// Keeps the live settings in the settings file "vigilor.ini" and the list files beside it, in
// the program folder. load(), save() and reset() are LoadSettings, SaveSettings and
// ResetSettings: their steps run in a fixed order because the reactions connected to the
// settings' change signal run in between. Every file is replaced atomically, and a file whose
// content would stay the same is not written at all, since a save follows nearly every answer
// from the server. Load and save throw FileError when a file cannot be read or written; what
// was done before that point stays done.
//
// Files may come back edited by hand: UTF-16 and UTF-8 are read as well as code page 1250 (which
// is what the program writes). A file whose content the program could not take as it stands
// (not text, no recognisable setting, letters code page 1250 lacks), and any file a failed load
// did not get to read, is kept once beside itself ("vigilor.ini.bak", "bans.txt.bak") before the
// program first replaces it; the console says so. An existing backup is never overwritten. A
// list file that is not text at all is not loaded.
//
// The model holds `PublicBanURL` as stored and `PublicUploadURL` decoded; neither is written by
// save(), only by writePublicAddresses().
class SettingsStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsStore)

public:
    static inline const QString kSettingsFile = QStringLiteral("vigilor.ini");
    static inline const QString kBansFile = QStringLiteral("bans.txt");
    static inline const QString kMessagesFile = QStringLiteral("Messages.txt");
    static inline const QString kImportFile = QStringLiteral("SyncURLs.txt");
    static inline const QString kImportExtraFile = QStringLiteral("Imports.ban");
    static inline const QString kResetWarning = QStringLiteral(
        "!!! FIGYELEM !!!\n\r\n\r  Ha visszaállítod az alapbeállításokat, minden egyéb "
        "beállításod el fog veszni! IP cím, rcon jelszó, port, jelölő dobozok, szóval minden, a "
        "banlistát kivéve! A parancs nem lesz visszavonható!\n\rBIZTOSAN ezt akarod?");
    // The names of the files this store writes in its folder, backups included.
    static QStringList writtenFiles();

    // The steps of the sequences that belong to other parts of the program.
    struct Hooks
    {
        // Load: the main window is shown when "Indulás ikonban" is off.
        std::function<void()> showMainWindow;
        // Load, at the end of the server fields, when "Indításkor csatlakozz" is on: connects
        // when the link is down, disconnects when it is up.
        std::function<void()> connectAction;
        // Reset: when the link is connected, the connect action (a disconnect); calls `then` once
        // the link is closed and the event loop has run (at once when it was not connected).
        std::function<void(std::function<void()> then)> disconnectIfConnected;
        // Reset: the Yes/No warning box with kResetWarning, answered through `answered`; no
        // hook means yes.
        std::function<void(const QString&, std::function<void(bool yes)> answered)> confirmReset;
        // The autostart reaction for this store's data folder: runs at every change of
        // "Indulás rendszerrel együtt" and once in every load.
        std::function<void(bool on, const QString& dataFolder)> autostart =
            &applyAutostartForThisProgram;
        // Load: "bans.txt" replaced the ban list (the list box then puts it in its order).
        std::function<void()> banListLoaded;
        // Where a failed autostart reaction is reported; the load goes on.
        std::function<void(const std::exception&)> reportError;
        // A console line: a damaged file found, its original kept.
        std::function<void(const QString&)> consoleLine;
    };

    // programFolder ends with a separator; every file is programFolder + a bare name.
    SettingsStore(Settings& settings, const QString& programFolder, QObject* parent = nullptr);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    QString filePath(const QString& name) const { return m_folder + name; }

    void load();
    // Does nothing while a load runs (a datagram handled amid the load asks for one); the next
    // save after it writes the loaded settings.
    void save();
    // Goes on from the operator's answer and from the end of the disconnect; `done` gets false
    // when the operator said no, true once the defaults are loaded and saved. What the steps
    // after the answer throw goes to whoever called the answer or the end of the disconnect.
    void reset(std::function<void(bool reset)> done = {});

    // The set-up without a window: each key's text written into the settings file as given
    // (the stored form: a scrambled password, an encoded upload address), nothing else of the
    // file changed; a missing file is first made as a save of the defaults makes it. Throws
    // FileError when the file cannot be read or written.
    void writeStoredTexts(const QList<std::pair<Key, QString>>& texts);
    // The key's value in the settings file as the load reads it (the default when missing).
    QVariant fileValue(Key key);

    // The public ban list window's addresses (section "System"), written into the file as it
    // is; nothing else of it changes. Throws Error before writing anything when the upload
    // address is too long to encode.
    void writePublicAddresses(const QString& banUrl, const QString& uploadAddress);

    // What the ban-list upload knows of its FTP servers' encryption (one line, see
    // exchange/pins.h), kept as `PublicUploadPins` in section "System". Read from the file as it
    // is now, written into it at once; no other part of the program touches it.
    static inline const QString kUploadPinsKey = QStringLiteral("PublicUploadPins");
    QString uploadPins();
    void writeUploadPins(const QString& pins);

private:
    struct ListFile
    {
        io::FileMemo memo;
        QStringList lines; // what memo's content holds, when it holds exactly these lines
        bool linesKnown = false;
        bool keepOriginal = false; // before the next replacement
    };

    void loadFiles(int& filesRead);
    std::optional<QStringList> readList(const QString& name, ListFile* file);
    void writeList(const QString& name, const QStringList& lines, ListFile& file);
    void keepOriginal(const QString& path, bool& keep);
    void note(const QString& line) const;
    void refreshIni();
    void writeIni();
    void saveIni();
    void runAutostart();

    void loadValue(Key key);
    void applyValue(Key key);
    QVariant storedValue(Key key) const;
    void saveValue(Key key);
    void saveText(Key key, const QString& value);

    Settings& m_settings;
    QString m_folder;
    Hooks m_hooks;
    IniFile m_ini;
    io::FileMemo m_iniMemo;
    bool m_iniKeepOriginal = false;
    bool m_valuesChanged = true; // since the settings file last matched the model
    bool m_loading = false;      // saves wait until the load is over
    ListFile m_bans;
    ListFile m_messages;
    ListFile m_imports;
};

} // namespace vigilor::settings
