#include "DeviceSession.h"

#include "platform/AnsiUpper.h"
#include "protocol/Commands.h"
#include "protocol/Replies.h"

#include <QMetaMethod>

namespace core {

DeviceSession::DeviceSession(QObject *parent)
    : QObject(parent), m_link(this), m_downloadTimer(this), m_routing(std::make_unique<ByPrefix>())
{
    m_link.setObjectName(QStringLiteral("link"));
    connect(&m_link, &DeviceLink::lineReceived, this, &DeviceSession::Route);
    // What was awaited on a connection is never answered on the next one.
    connect(&m_link, &DeviceLink::connectionLost, this, [this] {
        if (m_routing)
            m_routing->ConnectionLost();
    });

    m_downloadTimer.setObjectName(QStringLiteral("TmrDownload"));
    m_downloadTimer.setInterval(100);
    m_downloadTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_downloadTimer, &QTimer::timeout, this, &DeviceSession::StepDownload);

    connect(&m_sequence, &download::DownloadSequence::statusChanged, this,
            &DeviceSession::downloadStatus);
    connect(&m_sequence, &download::DownloadSequence::progressed, this,
            &DeviceSession::downloadProgress);
    connect(&m_sequence, &download::DownloadSequence::blockFinished, this,
            &DeviceSession::blockFinished);
    connect(&m_sequence, &download::DownloadSequence::stopped, this, [this] {
        m_downloadTimer.stop();
        Q_EMIT downloadStopped(m_sequence.Succeeded());
    });
}

DeviceSession::~DeviceSession() = default;

void DeviceSession::SetRouting(Routing routing)
{
    switch (routing) {
    case Routing::ByPrefix:
        m_routing = std::make_unique<ByPrefix>();
        break;
    case Routing::AnswersOnly:
        m_routing = std::make_unique<AnswersOnly>(m_link, m_sequence);
        break;
    case Routing::None:
        m_routing.reset();
        break;
    }
    m_link.SetReceiveAlways(routing == Routing::AnswersOnly);
}

void DeviceSession::Route(const QByteArray &line)
{
    if (!m_routing)
        return; // the host takes it
    const std::optional<protocol::Reply> reply = protocol::MatchReply(line);
    m_link.LineTaken(reply.has_value());
    // Translated once; a payload without any of the keys leaves ReplyText as it is.
    QByteArray translation;
    if (reply && reply->kind == protocol::ReplyKind::Download)
        translation = protocol::TranslateDownloadReply(reply->payload, {});

    switch (m_routing->Route(reply, translation)) {
    case ReplyRouting::Way::Routed:
        break;
    case ReplyRouting::Way::Ignored:
        Q_EMIT replyIgnored(line);
        return;
    case ReplyRouting::Way::Dropped:
        return;
    }
    Q_EMIT replyReceived(line);

    const QByteArray &payload = reply->payload;
    switch (reply->kind) {
    case protocol::ReplyKind::SetIp:
        Q_EMIT addressesSet(protocol::IsAccepted(payload));
        break;
    case protocol::ReplyKind::RecIp:
        Q_EMIT addressesRead(protocol::SplitCommaText(payload));
        break;
    case protocol::ReplyKind::SetMac:
        Q_EMIT macSet(protocol::IsAccepted(payload));
        break;
    case protocol::ReplyKind::ReqMac:
        Q_EMIT macRead(protocol::Trim(payload));
        break;
    case protocol::ReplyKind::ReqVer:
        Q_EMIT versionRead(protocol::Trim(payload));
        break;
    case protocol::ReplyKind::Upload:
        // Recognised so that it never reaches another handler; nothing here asks for it.
        break;
    case protocol::ReplyKind::Download:
        // Taken whether or not a download runs; the download reads it at its next step.
        if (!translation.isEmpty())
            m_sequence.SetReplyText(translation);
        HurryDownload();
        break;
    }
}

void DeviceSession::DiscardReceived()
{
    const QByteArray dropped = m_link.DiscardReceived();
    if (!dropped.isEmpty())
        Q_EMIT replyIgnored(dropped);
}

std::optional<DeviceSession::OpenBlock> DeviceSession::CurrentBlock() const
{
    using State = download::DownloadSequence::State;
    switch (m_sequence.DownloadState()) {
    case State::WaitSize1:
    case State::WaitSize2:
    case State::SendBlock1:
    case State::SendBlock2:
        return OpenBlock{ m_sequence.BlockAddress(), m_sequence.BlockSize(), 0 };
    case State::WaitResult1:
    case State::WaitResult2: {
        // The block was the last write: what the link still holds of it has not gone.
        const qint32 length = m_sequence.BlockSize();
        return OpenBlock{ m_sequence.BlockAddress(), length,
                          length - qMin<qint64>(length, m_link.BytesToWrite()) };
    }
    default:
        return std::nullopt;
    }
}

void DeviceSession::Send(const QByteArray &command, protocol::ReplyKind answer)
{
    Q_EMIT commandSent(command);
    const quint64 before = m_link.LastWriteSerial();
    m_link.SendCommand(command);
    if (m_routing && m_link.LastWriteSerial() != before)
        m_routing->Requested(answer, m_link.LastWriteSerial());
    m_link.StartReceivePolling();
}

void DeviceSession::SetAddresses(const Addresses &addresses)
{
    Send(protocol::SetIpAddressCommand(addresses[0], addresses[1], addresses[2], addresses[3],
                                       addresses[4]),
         protocol::ReplyKind::SetIp);
}

void DeviceSession::RequestAddresses()
{
    Send(protocol::ReqIpAddressCommand(), protocol::ReplyKind::RecIp);
}

void DeviceSession::SetMac(QByteArrayView mac)
{
    Send(protocol::SetMacAddressCommand(platform::CharUpperBuffA(mac.toByteArray())),
         protocol::ReplyKind::SetMac);
}

void DeviceSession::RequestMac()
{
    Send(protocol::ReqMacAddressCommand(), protocol::ReplyKind::ReqMac);
}

void DeviceSession::RequestVersion()
{
    Send(protocol::ReqVersionCommand(), protocol::ReplyKind::ReqVer);
}

bool DeviceSession::StartDownload(const QByteArray &image, quint32 baseAddress)
{
    if (m_sequence.DownloadState() != download::DownloadSequence::State::Prepare
        || m_downloadTimer.isActive()) {
        return false;
    }
    m_sequence.Start(image, baseAddress);
    m_downloadTimer.start();
    HurryDownload();
    return true;
}

void DeviceSession::StepDownload()
{
    m_sequence.Tick();
}

void DeviceSession::HurryDownload()
{
    if (m_pace != DownloadPace::Replies || m_hurryQueued)
        return;
    // From the loop, as a tick would: the reply that ended a wait is still being handed over.
    m_hurryQueued = true;
    QMetaObject::invokeMethod(this, &DeviceSession::StepUntilTheDevice, Qt::QueuedConnection);
}

void DeviceSession::StepUntilTheDevice()
{
    m_hurryQueued = false;
    if (!m_downloadTimer.isActive())
        return; // stopped meanwhile
    while (m_downloadTimer.isActive() && !m_sequence.AwaitsTheDevice())
        m_sequence.Tick();
    // The wait for the answer counts whole ticks from the step that sent.
    if (m_downloadTimer.isActive())
        m_downloadTimer.start();
}

void DeviceSession::AbortDownload()
{
    m_downloadTimer.stop();
    // A block left open is never continued: only a new connection clears the device.
    if (m_link.CommandHold())
        m_link.Abort();
    m_sequence.Abort();
}

void DeviceSession::SendCommand(QByteArrayView bytes)
{
    Q_EMIT commandSent(bytes.toByteArray());
    // The download writes only its announces this way.
    Q_EMIT blockAnnounced(m_sequence.BlockAddress(), m_sequence.BlockSize());
    DownloadWritten(m_link.SendDownload(bytes));
}

void DeviceSession::DownloadWritten(bool written)
{
    if (m_routing)
        m_routing->DownloadWritten(written ? m_link.LastWriteSerial() : 0);
}

void DeviceSession::SendBlock(QByteArrayView bytes)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&DeviceSession::blockSent)))
        Q_EMIT blockSent(m_sequence.BlockAddress(),
                         QByteArray::fromRawData(bytes.data(), bytes.size()));
    DownloadWritten(m_link.SendDownload(bytes));
}

void DeviceSession::StartReceivePolling()
{
    m_link.StartReceivePolling();
}

void DeviceSession::HoldOtherCommands(bool hold)
{
    m_link.SetCommandHold(hold);
}

void DeviceSession::AbandonBlock()
{
    m_link.AbandonOpenBlock();
}

} // namespace core
