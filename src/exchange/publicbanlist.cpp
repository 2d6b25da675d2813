#include "exchange/publicbanlist.h"

#include "exchange/address.h"
#include "exchange/banfile.h"
#include "exchange/pins.h"
#include "exchange/services.h"
#include "exchange/transfer.h"
#include "io/files.h"
#include "link/console.h"
#include "link/dialogs.h"
#include "settings/settings.h"
#include "settings/settingsstore.h"
#include "settings/textfile.h"
#include "text/clock.h"
#include "text/errors.h"

#include <QHash>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QUrl>

namespace vigilor::exchange {

namespace {

// A long merge lets window events run this often.
constexpr qint64 kEventsEveryMs = 20;

QHash<QString, int> lineCounts(const QStringList& lines)
{
    QHash<QString, int> counts;
    for (const QString& line : lines)
        ++counts[line];
    return counts;
}

} // namespace

PublicBanList::PublicBanList(Services& services, QObject* parent)
    : QObject(parent), m_services(services), m_caption(kTitle)
{
}

PublicBanList::~PublicBanList()
{
    if (m_transfer)
        m_transfer->request();
}

void PublicBanList::open()
{
    const Settings& settings = m_services.settings;
    setDownloadAddress(settings.text(Key::PublicBanURL));
    setUploadAddress(settings.text(Key::PublicUploadURL));
    m_base = settings.banList();
    m_own = MergeList(m_base);
    m_ownRow = -1;
    emit ownLinesChanged();
    evaluateUpload();
}

// ---- fields, selection, enabling -----------------------------------------------------------

void PublicBanList::selectOwn(int row)
{
    row = row < 0 || row >= m_own.size() ? -1 : row;
    if (row == m_ownRow)
        return;
    m_ownRow = row;
    emit ownRowChanged(row);
}

void PublicBanList::selectPublic(int row)
{
    row = row < 0 || row >= m_public.size() ? -1 : row;
    if (row == m_publicRow)
        return;
    m_publicRow = row;
    emit publicRowChanged(row);
}

void PublicBanList::setDownloadAddress(const QString& address)
{
    if (address != m_downloadAddress) {
        m_downloadAddress = address;
        emit downloadAddressChanged(address);
    }
    evaluateDownload();
    evaluateUpload();
}

void PublicBanList::setUploadAddress(const QString& address)
{
    if (address != m_uploadAddress) {
        m_uploadAddress = address;
        emit uploadAddressChanged(address);
    }
    evaluateUpload();
}

void PublicBanList::evaluateDownload()
{
    const bool enabled = !m_downloadAddress.isEmpty();
    if (enabled == m_downloadEnabled)
        return;
    m_downloadEnabled = enabled;
    emit enablingChanged();
}

void PublicBanList::evaluateUpload()
{
    const bool enabled = !m_public.isEmpty() && !m_uploadAddress.isEmpty();
    if (enabled == m_uploadEnabled)
        return;
    m_uploadEnabled = enabled;
    emit enablingChanged();
}

void PublicBanList::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    emit captionChanged(caption);
}

void PublicBanList::setBusyMerging(bool merging)
{
    const bool before = busy();
    m_merging = merging;
    if (busy() != before)
        emit busyChanged(busy());
}

void PublicBanList::setTransfer(std::shared_ptr<Cancel> cancel, Transfer kind, const QString& where)
{
    const bool before = busy();
    m_transfer = std::move(cancel);
    m_transferKind = kind;
    m_transferWhere = where;
    if (busy() != before)
        emit busyChanged(busy());
}

void PublicBanList::cancelTransfer()
{
    if (!m_transfer)
        return;
    m_transfer->request();
    const Transfer kind = m_transferKind;
    const QString where = m_transferWhere;
    setTransfer(nullptr);
    m_afterMerge = {};
    m_services.console.consoleLine((kind == Transfer::Download
                                        ? QStringLiteral("A letöltés megszakítva (")
                                        : QStringLiteral("A feltöltés megszakítva (")) +
                                   where + QStringLiteral("); a listák nem változtak."));
    if (kind == Transfer::Download)
        emit downloadFinished(false);
    else
        emit uploadFinished(false);
}

// A transfer's result waits until a merge that lets events run has ended, so that no list
// changes under the merge.
void PublicBanList::whenIdle(std::function<void()> work)
{
    if (m_merging)
        m_afterMerge = std::move(work);
    else
        work();
}

void PublicBanList::report(const QString& message)
{
    m_services.errors.reportError(Error(message));
}

// ---- merging -------------------------------------------------------------------------------

void PublicBanList::mergeLine(Direction direction, const QString& line)
{
    const bool toOwn = direction == Direction::ToOwn;
    MergeList& target = toOwn ? m_own : m_public;
    const bool mayAdd = !toOwn || m_ownLimit < 0 || target.size() < m_ownLimit;
    const MergeList::Result result = target.merge(line, mayAdd);
    if (result == MergeList::Result::Refused)
        ++m_refused;
    if (result != MergeList::Result::Added)
        return;
    // The selection stays on its line.
    int& row = toOwn ? m_ownRow : m_publicRow;
    if (row >= 0 && target.lastAdded() <= row)
        ++row;
}

void PublicBanList::mergeSelected(Direction direction)
{
    if (busy())
        return;
    const bool toOwn = direction == Direction::ToOwn;
    const int row = toOwn ? m_publicRow : m_ownRow;
    if (row < 0)
        return;
    mergeLine(direction, (toOwn ? m_public : m_own).lines()[row]);
    if (toOwn) {
        emit ownLinesChanged();
        emit ownRowChanged(m_ownRow);
    } else {
        emit publicLinesChanged();
        emit publicRowChanged(m_publicRow);
    }
    evaluateUpload();
}

void PublicBanList::mergeToOwn()
{
    mergeSelected(Direction::ToOwn);
}

void PublicBanList::mergeToPublic()
{
    mergeSelected(Direction::ToPublic);
}

void PublicBanList::copyAll(Direction direction)
{
    if (busy())
        return;
    const bool toOwn = direction == Direction::ToOwn;
    m_copyDirection = direction;
    m_copySource = (toOwn ? m_public : m_own).lines();
    m_copyNext = 0;
    setBusyMerging(true);
    mergeSome();
}

void PublicBanList::mergeSome()
{
    const Direction direction = m_copyDirection;
    const bool toOwn = direction == Direction::ToOwn;
    const qsizetype total = m_copySource.size();
    {
        bool more = false;
        // Also when a line fails: the window must not stay busy for good.
        const auto merging = qScopeGuard([this, &more] {
            if (more)
                return;
            m_copySource = {};
            setBusyMerging(false);
        });
        QElapsedTimer piece;
        piece.start();
        while (m_copyNext < total) {
            mergeLine(direction, m_copySource[m_copyNext++]);
            // A long merge lets the window and the link run: the buttons are off while busy, a
            // transfer's result waits for the end (whenIdle), and the window may close, which
            // drops the next piece.
            if (m_copyNext < total && piece.elapsed() >= kEventsEveryMs) {
                more = true;
                QTimer::singleShot(
                    0, this, [this] { guarded(&m_services.errors, [this] { mergeSome(); }); });
                return;
            }
        }
    }
    // The last line of the source list ends selected, and it alone: a selection left in the
    // target list would look like the line ">" or "<" is about to copy.
    (toOwn ? m_publicRow : m_ownRow) = int(total) - 1;
    (toOwn ? m_ownRow : m_publicRow) = -1;
    if (toOwn)
        emit ownLinesChanged();
    else
        emit publicLinesChanged();
    emit ownRowChanged(m_ownRow);
    emit publicRowChanged(m_publicRow);
    evaluateDownload();
    evaluateUpload();
    if (m_afterMerge)
        std::exchange(m_afterMerge, {})();
}

void PublicBanList::copyAllToOwn()
{
    copyAll(Direction::ToOwn);
}

void PublicBanList::copyAllToPublic()
{
    copyAll(Direction::ToPublic);
}

void PublicBanList::removePublicLine()
{
    if (busy() || m_publicRow < 0)
        return;
    m_public.removeAt(m_publicRow);
    m_publicRow = -1;
    emit publicLinesChanged();
    emit publicRowChanged(-1);
}

void PublicBanList::handOver()
{
    Settings& settings = m_services.settings;
    const QStringList current = settings.banList();
    if (current != m_base) {
        // Lines the ban list lost since the own list took it leave the own list too, and lines
        // it gained are merged in.
        QHash<QString, int> left = lineCounts(current);
        for (const QString& line : std::as_const(m_base)) {
            if (left.value(line) > 0) {
                --left[line];
                continue;
            }
            const qsizetype row = m_own.lines().indexOf(line);
            if (row >= 0)
                m_own.removeAt(row);
        }
        QHash<QString, int> known = lineCounts(m_base);
        for (const QString& line : current) {
            if (known.value(line) > 0)
                --known[line];
            else
                m_own.merge(line);
        }
        m_ownRow = -1;
        emit ownLinesChanged();
        emit ownRowChanged(-1);
    }
    m_base = m_own.lines();
    settings.setBanList(m_base);
}

void PublicBanList::storeAddresses()
{
    m_services.store.writePublicAddresses(m_downloadAddress, m_uploadAddress);
}

// ---- transfers -----------------------------------------------------------------------------

void PublicBanList::download()
{
    if (busy())
        return;
    setDownloadAddress(downloadFolder(m_downloadAddress));
    setCaption(kDownloadingCaption);
    const QString url = m_downloadAddress + kListFileName;
    if (QUrl(m_downloadAddress).host().isEmpty()) {
        // Nothing to ask a name server about: "http://" alone, for one.
        report(QStringLiteral("Letöltési hiba (") + withoutCredentials(url) +
               QStringLiteral("): nincs megadva a letöltés helye"));
        emit downloadFinished(false);
        return;
    }
    const quint64 number = ++m_transferNumber;
    setTransfer(m_services.transfers.run<DownloadResult>(
                    this,
                    [url](const TransferLimits& limits, Cancel& cancel) {
                        return exchange::download(url, limits, cancel);
                    },
                    [this, url, number](DownloadResult result) {
                        if (!current(number))
                            return; // cancelled
                        whenIdle(
                            [this, url, result = std::move(result)] { downloaded(url, result); });
                    }),
                Transfer::Download, withoutCredentials(url));
}

void PublicBanList::downloaded(const QString& url, const DownloadResult& result)
{
    setTransfer(nullptr);
    if (result.status != DownloadResult::Status::Ok) {
        if (result.status == DownloadResult::Status::Failed)
            report(result.error);
        emit downloadFinished(false);
        return;
    }
    DownloadedList list = readDownloadedList(result.body);
    const bool webPage =
        list.problem == DownloadedList::Problem::None && isWebPage(list.lines, result.contentType);
    if (list.problem != DownloadedList::Problem::None || webPage) {
        QString why;
        switch (list.problem) {
        case DownloadedList::Problem::NotText:
            why = QStringLiteral("a fájl nem szöveg");
            break;
        case DownloadedList::Problem::TooManyLines:
            why = QStringLiteral("a fájl több mint ") + QString::number(kMaxListLines) +
                  QStringLiteral(" sort tartalmaz");
            break;
        case DownloadedList::Problem::TooLarge:
            why = QStringLiteral("a fájl túl nagy");
            break;
        case DownloadedList::Problem::None:
            why = QStringLiteral("a szerver weblapot küldött (HTML)");
            break;
        }
        report(QStringLiteral("Letöltési hiba (") + withoutCredentials(url) +
               QStringLiteral("): ") + why +
               QStringLiteral(", nem banlista; a lista nem változott"));
        emit downloadFinished(false);
        return;
    }
    m_public = MergeList(list.lines);
    m_publicRow = -1;
    emit publicLinesChanged();
    emit publicRowChanged(-1);
    evaluateUpload();
    setCaption(kReadyCaption);
    emit downloadFinished(true);
}

void PublicBanList::upload()
{
    if (busy())
        return;
    const QByteArray content = listFileBytes(m_public.lines());
    try {
        io::replaceFile(m_services.programFolder + kListFileName, content);
    } catch (const std::exception& e) {
        m_services.errors.reportError(e);
        emit uploadFinished(false);
        return;
    }
    const std::optional<UploadTarget> target = parseUploadAddress(m_uploadAddress);
    if (!target) {
        m_services.dialogs.message(kBadLoginMessage);
        emit uploadFinished(false);
        return;
    }
    setCaption(kUploadingCaption);
    setUploadAddress(target->fieldText());
    const std::optional<Endpoint> endpoint = ftpEndpoint(target->host);
    if (!endpoint) {
        report(QStringLiteral("Feltöltési hiba: hibás gépnév vagy port: ") + target->host);
        emit uploadFinished(false);
        return;
    }
    const QString server = pinName(*endpoint);
    QString pin;
    try {
        pin = readServerPins(m_services.store.uploadPins()).value(server);
    } catch (const std::exception& e) {
        // Unknown whether the server was trusted before: no upload rather than a weaker one.
        m_services.errors.reportError(e);
        emit uploadFinished(false);
        return;
    }
    const UploadJob job{*endpoint, target->user, target->password, target->folder, content, pin};
    const QString where = QStringLiteral("ftp://") + target->host + target->folder;
    const quint64 number = ++m_transferNumber;
    setTransfer(m_services.transfers.run<UploadResult>(
                    this,
                    [job](const TransferLimits& limits, Cancel& cancel) {
                        return exchange::upload(job, limits, cancel);
                    },
                    [this, number, server, pin, where](UploadResult result) {
                        if (!current(number))
                            return; // cancelled
                        if (!result.newPin.isEmpty() && result.newPin != pin)
                            keepPin(server, result.newPin, where);
                        whenIdle([this, result = std::move(result)] { uploaded(result); });
                    }),
                Transfer::Upload, where);
}

// What the upload learnt of the server's encryption, for the uploads after it.
void PublicBanList::keepPin(const QString& server, const QString& pin, const QString& where)
{
    try {
        ServerPins pins = readServerPins(m_services.store.uploadPins());
        pins.insert(server, pin);
        m_services.store.writeUploadPins(serverPinsText(pins));
    } catch (const std::exception& e) {
        m_services.errors.reportError(e);
    }
    if (pin != kVerifiedByAuthority)
        m_services.console.consoleLine(
            QStringLiteral("Az FTP-szerver (") + where +
            QStringLiteral(") tanúsítványa nem hitelesíthető; az első feltöltéskor a program "
                           "elfogadta, és megjegyezte a nyilvános kulcsát: ") +
            pin +
            QStringLiteral(". A további feltöltések csak ezzel a kulccsal és csak titkosítva "
                           "mennek erre a szerverre."));
}

void PublicBanList::uploaded(const UploadResult& result)
{
    setTransfer(nullptr);
    if (!result.warning.isEmpty())
        m_services.console.consoleLine(result.warning);
    switch (result.status) {
    case UploadResult::Status::Cancelled:
        emit uploadFinished(false);
        return;
    case UploadResult::Status::Failed:
        report(result.error);
        emit uploadFinished(false);
        return;
    case UploadResult::Status::NoConnection:
        m_services.dialogs.message(kNoConnectionMessage);
        emit uploadFinished(false);
        return;
    case UploadResult::Status::Listed:
    case UploadResult::Status::NotListed:
        m_services.dialogs.message(
            result.status == UploadResult::Status::Listed ? kUploadOkMessage : kNotListedMessage);
        setCaption(kReadyCaption);
        emit uploadFinished(true);
        return;
    }
}

} // namespace vigilor::exchange
