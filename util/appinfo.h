#pragma once

#include <QString>

// Identity of the program as the user and the update server see it.
namespace AppInfo {

inline const QString version = QStringLiteral("1.03");
inline const QString productId = QStringLiteral("4");
inline const QString windowTitle = QStringLiteral("Sievra");
inline const QString messageTitle = QStringLiteral("Sievra v") + version;
inline const QString programIcon = QStringLiteral(":/formIcons/Icons/program_icon.png");

} // namespace AppInfo
