// SaveSettings runs after nearly every answer from the server, so its cost when nothing changed
// matters most; one changed value rewrites the settings file alone. LoadSettings of the same
// files for comparison. 255 ban entries, 256 message lines and 50 import addresses.
#include "settings/settings.h"
#include "settings/settingsstore.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vigilor;

namespace {

struct Folder
{
    QTemporaryDir dir;
    Settings settings;
    settings::SettingsStore store{settings, dir.path() + u'/'};

    Folder()
    {
        settings::SettingsStore::Hooks hooks;
        hooks.autostart = nullptr; // the store only, not the desktop's autostart folder
        store.setHooks(hooks);
        QStringList bans, messages, imports;
        for (int i = 0; i < 255; ++i)
            bans << QStringLiteral("%1.%2.%3.* Kitiltott játékos %4 (csalás)")
                        .arg(10 + i % 200)
                        .arg(i)
                        .arg(i * 7 % 256)
                        .arg(i);
        for (int i = 0; i < 256; ++i)
            messages << QStringLiteral(
                            "^3Üdvözöl a szerver! ^7Szabályok: ne csalj, ne káromkodj. #%1")
                            .arg(i);
        for (int i = 0; i < 50; ++i)
            imports << QStringLiteral("http://banlista%1.example.org/lista/").arg(i);
        settings.setBanList(bans);
        settings.setMessages(messages);
        settings.setImportList(imports);
        settings.setHost(QStringLiteral("192.168.1.20"));
        settings.setPort(QStringLiteral("28960"));
        settings.setPassword(QStringLiteral("titkos jelszó"));
        store.save();
    }
};

void BM_SaveUnchanged(benchmark::State& state)
{
    Folder f;
    for (auto _ : state)
        f.store.save();
}
BENCHMARK(BM_SaveUnchanged)->Unit(benchmark::kMicrosecond);

void BM_SaveOneValueChanged(benchmark::State& state)
{
    Folder f;
    int round = 0;
    for (auto _ : state) {
        f.settings.setNumber(Key::TimeInterval, 60 + (++round & 1));
        f.store.save();
    }
}
BENCHMARK(BM_SaveOneValueChanged)->Unit(benchmark::kMicrosecond);

void BM_SaveOneBanChanged(benchmark::State& state)
{
    Folder f;
    QStringList bans = f.settings.banList();
    int round = 0;
    for (auto _ : state) {
        bans[0] = QStringLiteral("1.2.3.%1").arg(++round & 1);
        f.settings.setBanList(bans);
        f.store.save();
    }
}
BENCHMARK(BM_SaveOneBanChanged)->Unit(benchmark::kMicrosecond);

void BM_Load(benchmark::State& state)
{
    Folder f;
    for (auto _ : state)
        f.store.load();
}
BENCHMARK(BM_Load)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
