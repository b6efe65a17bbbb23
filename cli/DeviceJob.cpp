#include "DeviceJob.h"

#include "Console.h"

#include "protocol/Commands.h"

namespace cli {

using core::DeviceLink;
using core::DeviceSession;

DeviceJob::DeviceJob(const Target &target, const Request &request, QObject *parent)
    : QObject(parent), m_request(request), m_replyTimer(this)
{
    m_outcome.target = target;
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        End(false, QStringLiteral("no reply within %1 s").arg(m_request.replyTimeoutMs / 1000.0));
    });
}

double DeviceJob::Seconds() const
{
    return m_clock.isValid() ? static_cast<double>(m_clock.nsecsElapsed()) / 1e9 : 0.0;
}

void DeviceJob::Start()
{
    m_clock.start();
    DeviceLink &link = m_session.Link();
    link.SetAddress(m_outcome.target.host);
    link.SetPort(QString::number(m_outcome.target.port));
    link.SetConnectTimeout(m_request.connectTimeoutMs);
    connect(&link, &DeviceLink::connected, this, &DeviceJob::OnConnected);
    connect(&link, &DeviceLink::connectFailed, this,
            [this](const QString &text) { End(false, text); });
    link.BeginConnect();
}

void DeviceJob::OnConnected()
{
    // A lost connection ends a read or a set at once; a flash carries on to its own time-outs,
    // which fail the block it was in.
    if (m_request.command != Command::Flash) {
        connect(&m_session.Link(), &DeviceLink::connectionLost, this,
                [this](const QString &text) { End(false, text); });
    }
    Ask();
}

void DeviceJob::Ask()
{
    const auto accepted = [this](const QString &failure) {
        return [this, failure](bool ok) { End(ok, ok ? QString() : failure); };
    };
    switch (m_request.command) {
    case Command::Version:
    case Command::Scan:
        connect(&m_session, &DeviceSession::versionRead, this, [this](const QByteArray &version) {
            m_outcome.version = protocol::FromWire(version);
            End(true, QString());
        });
        m_session.RequestVersion();
        break;
    case Command::Addresses:
        connect(&m_session, &DeviceSession::addressesRead, this,
                [this](const QList<QByteArray> &items) {
                    // The first five are the addresses, as the window fills its fields.
                    for (qsizetype i = 0; i < 5; ++i)
                        m_outcome.addresses.append(protocol::FromWire(items.value(i)));
                    End(true, QString());
                });
        m_session.RequestAddresses();
        break;
    case Command::SetAddresses:
        connect(&m_session, &DeviceSession::addressesSet, this,
                accepted(QStringLiteral("IP Address Set Failed")));
        m_session.SetAddresses(m_request.addresses);
        break;
    case Command::Mac:
        connect(&m_session, &DeviceSession::macRead, this, [this](const QByteArray &mac) {
            m_outcome.mac = protocol::FromWire(mac);
            End(true, QString());
        });
        m_session.RequestMac();
        break;
    case Command::SetMac:
        connect(&m_session, &DeviceSession::macSet, this,
                accepted(QStringLiteral("MAC Address Set Failed")));
        m_session.SetMac(m_request.mac);
        break;
    case Command::Flash:
        connect(&m_session, &DeviceSession::blockFinished, this,
                [this](quint32 address, qint32 length, const QString &result) {
                    // The device's own text ends in the CR of its reply line.
                    const BlockResult block{ address, length, OneLine(result) };
                    m_outcome.blocks.append(block);
                    Q_EMIT blockFinished(block);
                });
        connect(&m_session, &DeviceSession::downloadStopped, this, &DeviceJob::OnDownloadStopped);
        m_session.StartDownload(m_request.image, m_request.baseAddress);
        return;
    }
    m_replyTimer.start(m_request.replyTimeoutMs);
}

void DeviceJob::OnDownloadStopped(bool succeeded)
{
    if (succeeded) {
        End(true, QString());
        return;
    }
    for (const BlockResult &block : std::as_const(m_outcome.blocks)) {
        if (block.result != QLatin1String("Update Complete")) {
            End(false, QString::asprintf("block 0x%08x: ", block.address) + block.result);
            return;
        }
    }
    End(false, QStringLiteral("download stopped"));
}

void DeviceJob::End(bool ok, const QString &error, Ending how)
{
    if (m_done)
        return;
    m_done = true;
    m_replyTimer.stop();
    // Nothing the session says from here on belongs to this outcome.
    disconnect(&m_session, nullptr, this, nullptr);
    disconnect(&m_session.Link(), nullptr, this, nullptr);
    if (how == Ending::Abort) {
        m_session.AbortDownload();
        m_session.Link().Abort();
    } else {
        m_session.Link().CloseLink();
    }
    m_outcome.ok = ok;
    m_outcome.error = OneLine(error);
    m_outcome.seconds = Seconds();
    Q_EMIT finished();
}

void DeviceJob::Interrupt()
{
    End(false, QStringLiteral("interrupted"), Ending::Abort);
}

} // namespace cli
