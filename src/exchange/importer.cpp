#include "exchange/importer.h"

#include "exchange/address.h"
#include "exchange/publicbanlist.h"
#include "exchange/services.h"
#include "link/console.h"
#include "link/dialogs.h"
#include "rules/banentry.h"
#include "settings/settings.h"
#include "text/errors.h"
#include "text/textutil.h"

namespace vigilor::exchange {

namespace {

constexpr int kMinute = 60'000;

} // namespace

Importer::Importer(Services& services, QObject* parent) : QObject(parent), m_services(services)
{
    Settings& settings = m_services.settings;
    m_timer.setObjectName(QStringLiteral("ImpTimer"));
    m_timer.setInterval(settings.importInterval() * kMinute);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { guarded(&m_services.errors, [this] { runNow(); }); });
    connect(&settings, &Settings::changed, this, [this](Key key) {
        guarded(&m_services.errors, [this, key] {
            if (key == Key::TimedImport)
                applySwitch();
        });
    });
    // A new period restarts a running timer's count.
    connect(&settings, &Settings::importIntervalChanged, this,
            [this](int minutes) noexcept { m_timer.setInterval(minutes * kMinute); });
    applySwitch();
}

Importer::~Importer() = default;

void Importer::applySwitch()
{
    if (!m_services.settings.flag(Key::TimedImport))
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
}

void Importer::addAddress()
{
    if (m_asking)
        return;
    m_asking = true;
    const QString prefilled = QStringLiteral("http://");
    m_services.dialogs.input(
        kAddTitle, kAddPrompt, prefilled, [this, prefilled](std::optional<QString> answer) {
            m_asking = false;
            // A cancelled dialog gives back what it was opened with.
            guarded(&m_services.errors, [&] { addressEntered(answer.value_or(prefilled)); });
        });
}

void Importer::addressEntered(const QString& answer)
{
    Settings& settings = m_services.settings;
    if (answer.isEmpty())
        return;
    const QString address = withScheme(answer);
    const QString folded = text::asciiLower(address);
    const QStringList& list = settings.importList();
    for (qsizetype row = 0; row < list.size(); ++row) {
        if (text::asciiLower(list[row]) == folded) {
            settings.setImportSelection(int(row));
            return;
        }
    }
    settings.setImportList(QStringList(list) << address);
}

void Importer::removeAddress()
{
    Settings& settings = m_services.settings;
    const int row = settings.importSelection();
    if (row < 0)
        return;
    QStringList list = settings.importList();
    list.removeAt(row);
    // The entry after it takes the selection (the one before, for the last).
    settings.setImportList(list);
}

// Each step of a run hands its errors to the error handler; an error ends the run. Nothing
// escapes: the steps run from the transfers' signals.
template <typename Work> void Importer::step(Work work) noexcept
{
    guarded(work, [this](const std::exception& e) {
        m_services.errors.reportError(e);
        guarded(&m_services.errors, [this] { finish(); });
    });
}

void Importer::runNow()
{
    if (m_run) {
        m_services.console.consoleLine(
            QStringLiteral("Az import kimarad: az előző import még nem ért véget."));
        return;
    }
    Settings& settings = m_services.settings;
    const int row = settings.importSelection();
    if (row < 0 || row >= settings.importList().size()) {
        m_services.errors.reportError(
            Error(QStringLiteral("Import: az import listában nincs letöltési cím, az import "
                                 "elmaradt (a \"+\" gombbal adható hozzá).")));
        emit runFinished();
        return;
    }
    m_run = new PublicBanList(m_services, this);
    m_run->setObjectName(QStringLiteral("ImportRun"));
    m_run->limitOwnGrowth(rules::kLookupLimit);
    connect(m_run, &PublicBanList::downloadFinished, this,
            [this](bool ok) noexcept { step([this, ok] { downloaded(ok); }); });
    connect(m_run, &PublicBanList::uploadFinished, this,
            [this](bool completed) noexcept { step([this, completed] { uploaded(completed); }); });
    step([&] {
        m_run->open();
        m_run->setDownloadAddress(settings.importList()[row]);
        m_run->download();
    });
}

void Importer::downloaded(bool ok)
{
    if (!m_run)
        return;
    if (!ok) {
        finish();
        return;
    }
    m_run->copyAllToOwn();
    m_run->handOver();
    if (!m_services.settings.flag(Key::ExportAlso)) {
        uploaded(true);
        return;
    }
    m_run->setUploadAddress(m_services.settings.uploadAddress());
    m_run->copyAllToPublic();
    m_run->upload();
}

void Importer::uploaded(bool completed)
{
    if (!m_run)
        return;
    // Once more, as the run's last step; changes the ban list underwent meanwhile stay.
    if (completed)
        m_run->handOver();
    finish();
}

void Importer::finish()
{
    if (!m_run)
        return;
    if (const int refused = m_run->refusedLines(); refused > 0)
        m_services.console.consoleLine(
            QStringLiteral("Import: ") + QString::number(refused) +
            QStringLiteral(" új bejegyzés nem került a banlistába, mert az legfeljebb ") +
            QString::number(rules::kLookupLimit) +
            QStringLiteral(" bejegyzésre készült (a keresés csak ennyit néz át)."));
    std::exchange(m_run, nullptr)->deleteLater();
    emit runFinished();
}

} // namespace vigilor::exchange
