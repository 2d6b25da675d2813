#pragma once

#include <QString>

namespace vigilor {

// The program's name and release, as the window's title, the console's start line and
// "--version" show it.
inline const QString kProgramCaption = QStringLiteral("Vigilor CoD/UO/CoD2  1.8 release 1");

} // namespace vigilor
