#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// The command texts the tool sends to the QL-T36. Every command is a byte string ending in
// exactly one CR; nothing else (no LF, no NUL) is appended.
namespace protocol {

inline constexpr char CommandTerminator = '\r';

QByteArray SetIpAddressCommand(QByteArrayView deviceIp, QByteArrayView dp310Ip,
                               QByteArrayView subnetMask, QByteArrayView gateway,
                               QByteArrayView multicast);
QByteArray ReqIpAddressCommand();
// The caller upper-cases the MAC text; the command carries it as given.
QByteArray SetMacAddressCommand(QByteArrayView mac);
QByteArray ReqMacAddressCommand();
QByteArray ReqVersionCommand();
// "Download(0x%08x,0x%0x)" + CR: the address with eight digits, the length without padding.
QByteArray DownloadCommand(quint32 address, quint32 length);

// Window texts and wire bytes convert one to one (Latin-1), so a byte a field holds goes out
// unchanged and a byte a reply carries comes back unchanged.
QByteArray ToWire(const QString &text);
QString FromWire(QByteArrayView bytes);

// Removes every leading and trailing character whose code is 0 to 32.
QByteArray Trim(QByteArrayView text);
inline QByteArray Trim(const QByteArray &text)
{
    return Trim(QByteArrayView(text));
}
QString Trim(const QString &text);

} // namespace protocol
