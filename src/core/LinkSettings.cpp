#include "LinkSettings.h"

#include "platform/ProfileString.h"
#include "platform/ProgramPath.h"
#include "protocol/Commands.h"

namespace core {

LinkSettings ReadLinkSettings(const QString &folder)
{
    const QString path = platform::JoinPath(folder, QLatin1String(SettingsFileName));
    return LinkSettings{
        protocol::FromWire(platform::GetPrivateProfileString("LAN", "ADR", DefaultAddress, path)),
        protocol::FromWire(platform::GetPrivateProfileString("LAN", "PORT", DefaultPort, path)),
    };
}

} // namespace core
