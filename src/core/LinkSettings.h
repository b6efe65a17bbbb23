#pragma once

#include <QString>

// Where the device is: the settings file "QL_T36.ini" in the program's folder, section "LAN",
// keys "ADR" and "PORT", read once and never written. Values are taken as text, unchecked; a
// missing file, section or key gives the default.
namespace core {

struct LinkSettings
{
    QString address;
    QString port;
};

inline constexpr char SettingsFileName[] = "QL_T36.ini";
inline constexpr char DefaultAddress[] = "192.168.0.1";
inline constexpr char DefaultPort[] = "2000";

// Reads the settings file in `folder`.
LinkSettings ReadLinkSettings(const QString &folder);

} // namespace core
