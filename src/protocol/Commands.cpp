#include "Commands.h"

#include <cstdio>

namespace protocol {

namespace {

QByteArray withTerminator(QByteArray text)
{
    text.append(CommandTerminator);
    return text;
}

bool isTrimmed(uint code)
{
    return code <= 32;
}

} // namespace

QByteArray SetIpAddressCommand(QByteArrayView deviceIp, QByteArrayView dp310Ip,
                               QByteArrayView subnetMask, QByteArrayView gateway,
                               QByteArrayView multicast)
{
    QByteArray text = QByteArrayLiteral("SetIP_ADR(");
    text += deviceIp;
    text += ',';
    text += dp310Ip;
    text += ',';
    text += subnetMask;
    text += ',';
    text += gateway;
    text += ',';
    text += multicast;
    text += ')';
    return withTerminator(std::move(text));
}

QByteArray ReqIpAddressCommand()
{
    return withTerminator(QByteArrayLiteral("ReqIP_ADR"));
}

QByteArray SetMacAddressCommand(QByteArrayView mac)
{
    QByteArray text = QByteArrayLiteral("SetMAC_ADR(");
    text += mac;
    text += ')';
    return withTerminator(std::move(text));
}

QByteArray ReqMacAddressCommand()
{
    return withTerminator(QByteArrayLiteral("ReqMAC_ADR"));
}

QByteArray ReqVersionCommand()
{
    return withTerminator(QByteArrayLiteral("ReqVer"));
}

QByteArray DownloadCommand(quint32 address, quint32 length)
{
    // "Download(0x" + 8 + ",0x" + up to 8 + ")" stays well inside the buffer.
    char buffer[48];
    static_assert(sizeof(quint32) == sizeof(unsigned int));
    const int n = std::snprintf(buffer, sizeof buffer, "Download(0x%08x,0x%0x)", address, length);
    return withTerminator(QByteArray(buffer, n));
}

QByteArray ToWire(const QString &text)
{
    return text.toLatin1();
}

QString FromWire(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray Trim(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmed(static_cast<uchar>(text[begin])))
        ++begin;
    while (end > begin && isTrimmed(static_cast<uchar>(text[end - 1])))
        --end;
    return text.sliced(begin, end - begin).toByteArray();
}

QString Trim(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmed(text[begin].unicode()))
        ++begin;
    while (end > begin && isTrimmed(text[end - 1].unicode()))
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace protocol
