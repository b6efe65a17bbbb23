#include "DownloadSequence.h"

#include "protocol/Commands.h"

#include <algorithm>
#include <limits>

namespace download {

void DownloadSequence::Start(const QByteArray &image, quint32 baseAddress)
{
    m_image = image;
    m_baseAddress = baseAddress;
    DownloadBusy = 1;
    DownloadState = Prepare;
}

void DownloadSequence::SendAnnounce()
{
    const QByteArray command =
            protocol::DownloadCommand(BlockAddress, static_cast<quint32>(BlockSize));
    m_port.SendCommand(command.constData(), static_cast<int>(command.size()));
    m_port.HoldOtherCommands(true);
    m_port.StartReceivePolling();
    WaitTicks = SizeWaitTicks;
    ReplyText.clear();
    m_port.SetStatusText(QStringLiteral("Update Start"));
}

void DownloadSequence::SendBlock()
{
    // Straight from the image, no copy: the block lies inside it by construction.
    Q_ASSERT(BlockData >= 0 && BlockSize > 0 && BlockData + BlockSize <= m_image.size());
    m_port.SendCommand(m_image.constData() + BlockData, BlockSize);
    m_port.HoldOtherCommands(false);
    m_port.StartReceivePolling();
    ReplyText.clear();
    m_port.SetStatusText(QStringLiteral("Data Send"));
    WaitTicks = ResultWaitTicks;
}

bool DownloadSequence::SizeAcknowledged()
{
    if (ReplyText == "SizeOK")
        return true;
    --WaitTicks;
    return false;
}

void DownloadSequence::SizeWaitOver()
{
    m_port.AbandonBlock();
    // "Update Start" left standing would read as if the update were still going.
    m_port.SetStatusText(QStringLiteral("Error!!(Timeout)"));
    DownloadState = Abandon;
}

DownloadSequence::Outcome DownloadSequence::ResultTest()
{
    if (ReplyText.contains("Complete")) {
        m_port.SetStatusText(QStringLiteral("Update Complete"));
        return Outcome::Success;
    }
    if (ReplyText.contains("Failed") || ReplyText.contains("Error")) {
        m_port.SetStatusText(protocol::FromWire(ReplyText));
        return Outcome::Failure;
    }
    m_port.StepProgress();
    if (--WaitTicks <= 0) {
        m_port.SetStatusText(QStringLiteral("Error!!(Timeout)"));
        return Outcome::Timeout;
    }
    return Outcome::Waiting;
}

void DownloadSequence::StopSequence()
{
    DownloadState = 0;
    DownloadBusy = 0;
    // Timers off first: releasing the hold may connect anew, and a failure box runs the event
    // loop, where another tick would start the sequence over.
    m_port.Stopped();
    m_port.HoldOtherCommands(false);
}

void DownloadSequence::Tick()
{
    switch (DownloadState) {
    case Prepare:
        BlockSize = BlockLength;
        BlockNumber = 0;
        DownloadLength = static_cast<qint32>(
                std::min<qsizetype>(m_image.size(), std::numeric_limits<qint32>::max()));
        DownloadState = DownloadLength == 0 ? Abandon : Announce1;
        break;

    case Announce1: {
        const qint32 offset = BlockLength * BlockNumber;
        BlockAddress = m_baseAddress + static_cast<quint32>(offset);
        BlockData = offset;
        BlockSize = std::min(DownloadLength - offset, BlockLength);
        if (BlockSize <= 0) {
            DownloadState = Prepare2;
            break;
        }
        SendAnnounce();
        DownloadState = WaitSize1;
        break;
    }

    case WaitSize1:
        if (SizeAcknowledged())
            DownloadState = SendBlock1;
        else if (WaitTicks <= 0)
            SizeWaitOver();
        break;

    case SendBlock1:
        SendBlock();
        DownloadState = WaitResult1;
        break;

    case WaitResult1:
        switch (ResultTest()) {
        case Outcome::Success:
            DownloadState = NextBlock1;
            break;
        case Outcome::Failure:
            // A block the device refused ends phase 1; phase 2 still runs.
            DownloadState = Prepare2;
            break;
        case Outcome::Timeout:
            DownloadState = Abandon;
            break;
        case Outcome::Waiting:
            break;
        }
        break;

    case NextBlock1:
        ++BlockNumber;
        DownloadState = BlockNumber < Phase1Blocks ? Announce1 : Prepare2;
        break;

    case Prepare2:
        BlockSize = BlockLength;
        BlockNumber = Phase2FirstBlock;
        DownloadState = Announce2;
        break;

    case Announce2:
        BlockAddress = static_cast<quint32>((BlockNumber - Phase2FirstBlock) * BlockLength);
        BlockData = BlockLength * BlockNumber;
        // Never beyond the image: a short image has less (or nothing) for phase 2.
        BlockSize = std::min(DownloadLength - BlockData, BlockLength);
        if (BlockSize <= 0) {
            DownloadState = Finished;
            break;
        }
        SendAnnounce();
        DownloadState = WaitSize2;
        break;

    case WaitSize2:
        if (SizeAcknowledged())
            DownloadState = SendBlock2;
        else if (WaitTicks <= 0)
            SizeWaitOver();
        break;

    case SendBlock2:
        SendBlock();
        DownloadState = WaitResult2;
        break;

    case WaitResult2:
        switch (ResultTest()) {
        case Outcome::Success:
            DownloadState = NextBlock2;
            break;
        case Outcome::Failure:
        case Outcome::Timeout:
            DownloadState = Abandon;
            break;
        case Outcome::Waiting:
            break;
        }
        break;

    case NextBlock2:
        ++BlockNumber;
        DownloadState = BlockNumber < Phase2EndBlock ? Announce2 : Finished;
        break;

    case Abandon:
        DownloadState = Stop;
        break;

    default: // Finished, Stop and anything unexpected
        StopSequence();
        break;
    }
}

} // namespace download
