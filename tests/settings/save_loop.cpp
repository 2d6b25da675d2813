// Saves changing settings in a loop until it is killed; prints "ready" once every file exists.
#include "loopstate.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    vigilor::Settings settings;
    vigilor::settings::SettingsStore store(settings, QString::fromLocal8Bit(argv[1]));
    for (int round = QByteArray(argv[2]).toInt();; ++round) {
        vigilor::test::fillLoopState(settings, round);
        store.save();
        if (round == QByteArray(argv[2]).toInt()) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}
