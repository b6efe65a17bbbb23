#include "Trace.h"

#include "Console.h"
#include "DeviceJob.h"
#include "Output.h"

#include "protocol/Commands.h"

#include <QTime>

#include <array>

namespace cli {

namespace {

QString Escaped(const QByteArray &bytes)
{
    return EscapedText(protocol::FromWire(bytes));
}

void Line(Output &output, const QString &device, const char *direction, const QString &text)
{
    output.Err(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ')
               + device + QLatin1Char(' ') + QLatin1String(direction) + QLatin1Char(' ') + text
               + QLatin1Char('\n'));
}

} // namespace

quint32 Crc32(QByteArrayView bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 i = 0; i < entries.size(); ++i) {
            quint32 crc = i;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1u) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
            entries[i] = crc;
        }
        return entries;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ static_cast<uchar>(byte)) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

void TraceJob(DeviceJob &job, Output &output)
{
    const QString device = job.Result().target.Label();
    core::DeviceSession &session = job.Session();
    // Its own context: the job cuts its ties to the session when it ends, the trace does not.
    auto *context = new QObject(&job);
    QObject::connect(&session, &core::DeviceSession::commandSent, context,
                     [&output, device](const QByteArray &command) {
                         Line(output, device, ">>", Escaped(command));
                     });
    QObject::connect(&session, &core::DeviceSession::replyReceived, context,
                     [&output, device](const QByteArray &line) {
                         Line(output, device, "<<", Escaped(line));
                     });
    QObject::connect(&session, &core::DeviceSession::replyIgnored, context,
                     [&output, device](const QByteArray &line) {
                         Line(output, device, "<<", QStringLiteral("ignored: ") + Escaped(line));
                     });
    QObject::connect(&session, &core::DeviceSession::blockSent, context,
                     [&output, device](quint32 address, const QByteArray &bytes) {
                         Line(output, device, "==",
                              QString::asprintf("block 0x%08x length 0x%x crc32 0x%08x", address,
                                                static_cast<unsigned>(bytes.size()), Crc32(bytes)));
                     });
    QObject::connect(&session.Link(), &core::DeviceLink::statusChanged, context,
                     [&output, device](const QString &text) {
                         Line(output, device, "--", Escaped(protocol::ToWire(text)));
                     });
}

} // namespace cli
