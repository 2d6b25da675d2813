#pragma once

#include "exchange/merge.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vigilor::exchange {

class Cancel;
struct DownloadResult;
struct Services;
struct UploadResult;

// The public ban list window without its widgets: the own list (the ban list's lines) beside a
// public list, the two address fields, the enabling of "Letöltés" and "Feltölt", the caption,
// and every action of the window. The window binds to one instance; the timed import drives an
// instance that is never shown.
//
// Transfers run off the window's thread (see TransferRunner); while one runs, or while a long
// merge runs in pieces from the event loop, the instance is busy and the actions that would change
// its lists or start another transfer do nothing. A running transfer can be cancelled; its finished
// signal fires on every path.
class PublicBanList final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PublicBanList)

public:
    static inline const QString kTitle = QStringLiteral("Nyilvános banlista");
    static inline const QString kReadyCaption = kTitle + QStringLiteral(" - Kész");
    static inline const QString kDownloadingCaption =
        kTitle + QStringLiteral(" - Letöltés folyamatban...");
    static inline const QString kUploadingCaption =
        kTitle + QStringLiteral(" - Feltöltés folyamatban...");
    static inline const QString kBadLoginMessage =
        QStringLiteral("Belépési információ helytelen! Próbáld újra!");
    static inline const QString kUploadOkMessage = QStringLiteral("Frissítés sikeres!");
    static inline const QString kNotListedMessage =
        QStringLiteral("Frissítési hiba: Átviteli hiba");
    static inline const QString kNoConnectionMessage =
        QStringLiteral("Frissítési hiba: Nincs kapcsolat");

    explicit PublicBanList(Services& services, QObject* parent = nullptr);
    ~PublicBanList() override;

    // The opening step: the stored addresses into the fields, the ban list into the own list.
    void open();

    const QStringList& ownLines() const { return m_own.lines(); }
    const QStringList& publicLines() const { return m_public.lines(); }
    // The selected line of each list; -1 for none.
    int ownRow() const { return m_ownRow; }
    int publicRow() const { return m_publicRow; }
    void selectOwn(int row);
    void selectPublic(int row);

    const QString& downloadAddress() const { return m_downloadAddress; }
    const QString& uploadAddress() const { return m_uploadAddress; }
    // A change of a field evaluates the enabling rule, as typing does.
    void setDownloadAddress(const QString& address);
    void setUploadAddress(const QString& address);

    const QString& caption() const { return m_caption; }
    bool downloadEnabled() const { return m_downloadEnabled; }
    bool uploadEnabled() const { return m_uploadEnabled; }
    bool busy() const { return m_transfer != nullptr || m_merging; }

    // "Letöltés": the field made a folder address, then the public list replaced by the lines of
    // the field's address followed by "rconpb.ban", once the whole file has arrived. Ends with
    // downloadFinished.
    void download();
    // "Feltölt": the public list written to "rconpb.ban" in the program folder, then uploaded
    // to the folder of the upload address. Ends with uploadFinished.
    void upload();
    // "Mégse" during a transfer: it stops within a second, the lists stay as they were, and its
    // finished signal fires now (not ok).
    void cancelTransfer();
    // "<" and ">": the selected line of one list merged into the other (the merge rule).
    void mergeToOwn();
    void mergeToPublic();
    // "<<" and ">>": every line of one list merged into the other, from the first to the last.
    // Afterwards the last line of the source list is the one selected line of the window.
    void copyAllToOwn();
    void copyAllToPublic();
    // The Delete key in the public list.
    void removePublicLine();
    // OK: the ban list takes the own list's lines. Changes the ban list underwent since the
    // window opened (an in-game "ban", say) are merged in rather than lost.
    void handOver();
    // Closing: both addresses into the settings file. Throws Error, before writing anything,
    // when the upload address is too long to be stored.
    void storeAddresses();

    // The timed import adds no lines to the own list beyond this many; lines it could not add
    // are counted.
    void limitOwnGrowth(int lines) { m_ownLimit = lines; }
    int refusedLines() const { return m_refused; }

signals:
    void ownLinesChanged();
    void publicLinesChanged();
    void ownRowChanged(int row);
    void publicRowChanged(int row);
    void downloadAddressChanged(const QString& address);
    void uploadAddressChanged(const QString& address);
    void captionChanged(const QString& caption);
    void enablingChanged();
    void busyChanged(bool busy);
    // ok: the public list now holds the downloaded lines. Fires for every download started,
    // also a failed or cancelled one.
    void downloadFinished(bool ok);
    // completed: the file was stored and the listing looked at afterwards.
    void uploadFinished(bool completed);

private:
    enum class Direction
    {
        ToOwn,
        ToPublic
    };
    enum class Transfer
    {
        Download,
        Upload
    };

    void setCaption(const QString& caption);
    void evaluateDownload();
    void evaluateUpload();
    void setBusyMerging(bool merging);
    void setTransfer(std::shared_ptr<Cancel> cancel, Transfer kind = Transfer::Download,
                     const QString& where = QString());
    bool current(quint64 transfer) const { return m_transfer && transfer == m_transferNumber; }
    void mergeSelected(Direction direction);
    void copyAll(Direction direction);
    void mergeLine(Direction direction, const QString& line);
    // The running copy's next piece: a long copy hands the event loop its turn between pieces.
    void mergeSome();
    void whenIdle(std::function<void()> work);
    void downloaded(const QString& url, const DownloadResult& result);
    void uploaded(const UploadResult& result);
    void keepPin(const QString& server, const QString& pin, const QString& where);
    void report(const QString& message);

    Services& m_services;
    MergeList m_own;
    MergeList m_public;
    QStringList m_base; // the ban list as the own list last took it or gave it
    int m_ownRow = -1;
    int m_publicRow = -1;
    QString m_downloadAddress;
    QString m_uploadAddress;
    QString m_caption;
    bool m_downloadEnabled = false;
    bool m_uploadEnabled = false;
    bool m_merging = false;
    std::shared_ptr<Cancel> m_transfer; // cancels the running transfer
    Transfer m_transferKind = Transfer::Download;
    QString m_transferWhere;      // its address, for the console
    quint64 m_transferNumber = 0; // counts the transfers started; a late result is dropped
    std::function<void()> m_afterMerge;           // a transfer's result that arrived during a merge
    // The copy that runs in pieces: its direction, its source list, the next line to merge.
    Direction m_copyDirection = Direction::ToOwn;
    QStringList m_copySource;
    qsizetype m_copyNext = 0;
    int m_ownLimit = -1;
    int m_refused = 0;
};

} // namespace vigilor::exchange
