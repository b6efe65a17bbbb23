#include "DownloadSequence.h"

#include "protocol/Commands.h"

#include <algorithm>
#include <limits>

namespace download {

void DownloadSequence::Start(const QByteArray &image, quint32 baseAddress)
{
    m_image = image;
    m_baseAddress = baseAddress;
    m_blocksFailed = 0;
    m_blocksAccepted = 0;
    m_busy = 1;
    m_state = State::Prepare;
}

void DownloadSequence::SetWaits(int sizeWaitTicks, int resultWaitTicks)
{
    m_sizeWait = std::max(1, sizeWaitTicks);
    m_resultWait = std::max(1, resultWaitTicks);
}

bool DownloadSequence::InPhase2() const
{
    return m_state >= State::Prepare2 && m_state <= State::Finished;
}

DownloadSequence::State DownloadSequence::Phased(State state) const
{
    return InPhase2() ? static_cast<State>(static_cast<int>(state) + PhaseStride) : state;
}

bool DownloadSequence::PlaceBlock()
{
    if (InPhase2()) {
        m_blockAddress = static_cast<quint32>((m_blockNumber - Phase2FirstBlock) * BlockLength);
        m_blockData = BlockLength * m_blockNumber;
    } else {
        m_blockData = BlockLength * m_blockNumber;
        m_blockAddress = m_baseAddress + static_cast<quint32>(m_blockData);
    }
    // Never beyond the image: a short image has less (or nothing) for phase 2.
    m_blockSize = std::min(m_downloadLength - m_blockData, BlockLength);
    return m_blockSize > 0;
}

void DownloadSequence::SendAnnounce()
{
    m_link.SendCommand(
            protocol::DownloadCommand(m_blockAddress, static_cast<quint32>(m_blockSize)));
    m_link.HoldOtherCommands(true);
    m_link.StartReceivePolling();
    m_waitTicks = m_sizeWait;
    m_replyText.clear();
    Q_EMIT statusChanged(QStringLiteral("Update Start"));
}

void DownloadSequence::SendBlock()
{
    // Straight from the image, no copy: the block lies inside it by construction.
    Q_ASSERT(m_blockData >= 0 && m_blockSize > 0 && m_blockData + m_blockSize <= m_image.size());
    m_link.SendBlock(QByteArrayView(m_image).sliced(m_blockData, m_blockSize));
    m_link.HoldOtherCommands(false);
    m_link.StartReceivePolling();
    m_replyText.clear();
    Q_EMIT statusChanged(QStringLiteral("Data Send"));
    m_waitTicks = m_resultWait;
}

void DownloadSequence::SizeWaitOver()
{
    m_link.AbandonBlock();
    // "Update Start" left standing would read as if the update were still going.
    FinishBlock(QStringLiteral("Error!!(Timeout)"), false);
    m_state = State::Abandon;
}

bool DownloadSequence::AwaitsTheDevice() const
{
    switch (m_state) {
    case State::WaitSize1:
    case State::WaitSize2:
        return m_replyText != "SizeOK";
    case State::WaitResult1:
    case State::WaitResult2:
        return !m_replyText.contains("Complete") && !m_replyText.contains("Failed")
                && !m_replyText.contains("Error");
    default:
        return false;
    }
}

DownloadSequence::Outcome DownloadSequence::ResultTest()
{
    if (m_replyText.contains("Complete")) {
        FinishBlock(QStringLiteral("Update Complete"), true);
        return Outcome::Success;
    }
    if (m_replyText.contains("Failed") || m_replyText.contains("Error")) {
        FinishBlock(protocol::FromWire(m_replyText), false);
        return Outcome::Failure;
    }
    Q_EMIT progressed();
    if (--m_waitTicks <= 0) {
        FinishBlock(QStringLiteral("Error!!(Timeout)"), false);
        return Outcome::Timeout;
    }
    return Outcome::Waiting;
}

void DownloadSequence::FinishBlock(const QString &result, bool accepted)
{
    ++(accepted ? m_blocksAccepted : m_blocksFailed);
    Q_EMIT statusChanged(result);
    Q_EMIT blockFinished(m_blockAddress, m_blockSize, result);
}

void DownloadSequence::StopSequence()
{
    m_state = State::Prepare;
    m_busy = 0;
    // Timers off first: releasing the hold may connect anew, and a failure box runs the event
    // loop, where another tick would start the sequence over.
    Q_EMIT stopped();
    m_link.HoldOtherCommands(false);
}

void DownloadSequence::Abort()
{
    if (m_busy == 0)
        return;
    ++m_blocksFailed; // whatever was sent, the image is not in the device whole
    m_state = State::Prepare;
    m_busy = 0;
    Q_EMIT stopped();
}

void DownloadSequence::Tick()
{
    switch (m_state) {
    case State::Prepare:
        m_blockSize = BlockLength;
        m_blockNumber = 0;
        m_downloadLength = static_cast<qint32>(
                std::min<qsizetype>(m_image.size(), std::numeric_limits<qint32>::max()));
        m_state = m_downloadLength == 0 ? State::Abandon : State::Announce1;
        break;

    // One block, the same in both phases.
    case State::Announce1:
    case State::Announce2:
        if (!PlaceBlock()) {
            m_state = InPhase2() ? State::Finished : State::Prepare2;
            break;
        }
        SendAnnounce();
        m_state = Phased(State::WaitSize1);
        break;

    case State::WaitSize1:
    case State::WaitSize2:
        if (m_replyText == "SizeOK")
            m_state = Phased(State::SendBlock1);
        else if (--m_waitTicks <= 0)
            SizeWaitOver();
        break;

    case State::SendBlock1:
    case State::SendBlock2:
        SendBlock();
        m_state = Phased(State::WaitResult1);
        break;

    case State::WaitResult1:
    case State::WaitResult2:
        switch (ResultTest()) {
        case Outcome::Success:
            m_state = Phased(State::NextBlock1);
            break;
        case Outcome::Failure:
            // A block the device refused ends phase 1, and phase 2 still runs; in phase 2 it
            // ends the sequence.
            m_state = InPhase2() ? State::Abandon : State::Prepare2;
            break;
        case Outcome::Timeout:
            m_state = State::Abandon;
            break;
        case Outcome::Waiting:
            break;
        }
        break;

    case State::NextBlock1:
    case State::NextBlock2: {
        ++m_blockNumber;
        const bool more = m_blockNumber < (InPhase2() ? Phase2EndBlock : Phase1Blocks);
        m_state =
                more ? Phased(State::Announce1) : (InPhase2() ? State::Finished : State::Prepare2);
        break;
    }

    case State::Prepare2:
        m_blockSize = BlockLength;
        m_blockNumber = Phase2FirstBlock;
        m_state = State::Announce2;
        break;

    case State::Abandon:
        m_state = State::Stop;
        break;

    case State::Finished:
    case State::Stop:
    default: // and anything unexpected
        StopSequence();
        break;
    }
}

} // namespace download
