#include "report/Trace.h"

#include "io/Console.h"
#include "run/DeviceJob.h"

#include "protocol/Commands.h"

#include <QTime>

#include <array>

namespace cli {

namespace {

QString Escaped(const QByteArray &bytes)
{
    return EscapedText(protocol::FromWire(bytes));
}

void Line(const TraceWriter &write, const QString &device, const char *direction,
          const QString &text)
{
    write(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ') + device
          + QLatin1Char(' ') + QLatin1String(direction) + QLatin1Char(' ') + text
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

void TraceJob(DeviceJob &job, const TraceWriter &write)
{
    const QString device = job.Result().target.Label();
    core::DeviceSession &session = job.Session();
    // Its own context: the job cuts its ties to the session when it ends, the trace does not.
    auto *context = new QObject(&job);
    QObject::connect(&session, &core::DeviceSession::commandSent, context,
                     [write, device](const QByteArray &command) {
                         Line(write, device, ">>", Escaped(command));
                     });
    QObject::connect(
            &session, &core::DeviceSession::replyReceived, context,
            [write, device](const QByteArray &line) { Line(write, device, "<<", Escaped(line)); });
    QObject::connect(&session, &core::DeviceSession::replyIgnored, context,
                     [write, device](const QByteArray &line) {
                         Line(write, device, "<<", QStringLiteral("ignored: ") + Escaped(line));
                     });
    QObject::connect(&session, &core::DeviceSession::blockSent, context,
                     [write, device](quint32 address, const QByteArray &bytes) {
                         Line(write, device, "==",
                              QString::asprintf("block 0x%08x length 0x%x crc32 0x%08x", address,
                                                static_cast<unsigned>(bytes.size()), Crc32(bytes)));
                     });
    QObject::connect(&job, &DeviceJob::noted, context, [write, device](const QString &text) {
        Line(write, device, "--", EscapedText(text));
    });
    QObject::connect(&session.Link(), &core::DeviceLink::statusChanged, context,
                     [write, device](const QString &text) {
                         Line(write, device, "--", Escaped(protocol::ToWire(text)));
                     });
}

} // namespace cli
