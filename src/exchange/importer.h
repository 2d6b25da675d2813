#pragma once

#include <QObject>
#include <QTimer>

namespace vigilor::exchange {

class PublicBanList;
struct Services;

// The timed import and export: the import list's "+" and "-", the import timer `ImpTimer`, and
// the import run ("Import most", each tick). A run drives a public ban list instance that is
// never shown: download the selected address, merge every line into the own list, hand it to
// the ban list, and, with "Import után feltöltés ide:", merge the own list into the public list
// and upload it to `ExpAd`. One run at a time; a tick during a run is skipped with a console
// line.
class Importer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Importer)

public:
    static inline const QString kAddTitle = QStringLiteral("Új távoli banlista hozzáadása");
    static inline const QString kAddPrompt = QStringLiteral("Add meg az URL-t:");

    explicit Importer(Services& services, QObject* parent = nullptr);
    ~Importer() override;

    // "+": asks for an address and adds it to the import list, or selects it when the list
    // holds it already, once the operator answered. Pressed again while the box is open, it
    // does nothing.
    void addAddress();
    // "-": removes the selected address.
    void removeAddress();
    // "Import most" and each tick of the timer.
    void runNow();
    bool running() const { return m_run != nullptr; }

    const QTimer& timer() const { return m_timer; }

signals:
    // A run ended, whether it got to its end or stopped at a failed step.
    void runFinished();

private:
    void applySwitch();
    void downloaded(bool ok);
    void uploaded(bool completed);
    void finish();
    void addressEntered(const QString& answer);
    template <typename Work> void step(Work work) noexcept;

    Services& m_services;
    QTimer m_timer;
    PublicBanList* m_run = nullptr;
    bool m_asking = false; // the input box of "+" is open
};

} // namespace vigilor::exchange
