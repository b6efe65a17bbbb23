#include "report/EventsReport.h"

#include "run/DeviceJob.h"
#include "io/Output.h"

#include "protocol/Commands.h"

#include <QDateTime>
#include <QJsonDocument>

namespace cli {

namespace {

// A command or reply without its line end, which every one of them has.
QString Text(const QByteArray &bytes)
{
    QByteArray text = bytes;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return protocol::FromWire(text);
}

} // namespace

void Events::Emit(const QString &device, const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("seq"), ++m_sequence);
    fields.insert(QStringLiteral("time"),
                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    fields.insert(QStringLiteral("device"),
                  device.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(device));
    fields.insert(QStringLiteral("event"), event);
    m_output.Out(QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact))
                 + QLatin1Char('\n'));
}

void Events::WatchJob(DeviceJob &job)
{
    const QString device = job.Result().target.Label();
    core::DeviceSession &session = job.Session();
    // Its own context: the job cuts its ties to the session when it ends, this does not.
    auto *context = new QObject(&job);
    QObject::connect(&session.Link(), &core::DeviceLink::connected, context,
                     [this, device] { Emit(device, QStringLiteral("connect")); });
    QObject::connect(&session.Link(), &core::DeviceLink::connectFailed, context,
                     [this, device](const QString &text, int code) {
                         Emit(device, QStringLiteral("connect failed"),
                              { { QStringLiteral("error"), WithCause(text, code) } });
                     });
    QObject::connect(&session, &core::DeviceSession::commandSent, context,
                     [this, device](const QByteArray &command) {
                         Emit(device, QStringLiteral("command"),
                              { { QStringLiteral("text"), Text(command) } });
                     });
    QObject::connect(&session, &core::DeviceSession::replyReceived, context,
                     [this, device](const QByteArray &line) {
                         Emit(device, QStringLiteral("reply"),
                              { { QStringLiteral("text"), Text(line) },
                                { QStringLiteral("ignored"), false } });
                     });
    QObject::connect(&session, &core::DeviceSession::replyIgnored, context,
                     [this, device](const QByteArray &line) {
                         Emit(device, QStringLiteral("reply"),
                              { { QStringLiteral("text"), Text(line) },
                                { QStringLiteral("ignored"), true } });
                     });
    QObject::connect(&session, &core::DeviceSession::blockAnnounced, context,
                     [this, device](quint32 address, qint32 length) {
                         Emit(device, QStringLiteral("block start"),
                              { { QStringLiteral("address"), qint64(address) },
                                { QStringLiteral("length"), length } });
                     });
    QObject::connect(&job, &DeviceJob::blockFinished, context,
                     [this, device](const BlockResult &block) {
                         Emit(device, QStringLiteral("block end"),
                              { { QStringLiteral("address"), qint64(block.address) },
                                { QStringLiteral("length"), block.length },
                                { QStringLiteral("result"), block.result } });
                     });
    QObject::connect(
            &job, &DeviceJob::retrying, context, [this, device](const QString &why, int attempt) {
                Emit(device, QStringLiteral("retry"),
                     { { QStringLiteral("why"), why }, { QStringLiteral("attempt"), attempt } });
            });
}

} // namespace cli
