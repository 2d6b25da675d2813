#pragma once

#include <QString>

namespace vigilor {
class Dialogs;
class ErrorSink;
class Settings;
namespace link {
class Console;
}
namespace settings {
class SettingsStore;
}
} // namespace vigilor

namespace vigilor::exchange {

class TransferRunner;

// What the ban-list exchange uses of the rest of the program.
struct Services
{
    Settings& settings;
    settings::SettingsStore& store;
    Dialogs& dialogs;
    ErrorSink& errors; // the application's error handler
    link::Console& console;
    TransferRunner& transfers;
    QString programFolder; // ends with a separator
};

} // namespace vigilor::exchange
