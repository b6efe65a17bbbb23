#include "ReplyRouting.h"

#include "core/DeviceLink.h"
#include "download/DownloadSequence.h"

namespace core {

ReplyRouting::Way ByPrefix::Route(const std::optional<protocol::Reply> &reply,
                                  const QByteArray &translation)
{
    Q_UNUSED(translation);
    return reply ? Way::Routed : Way::Dropped;
}

ReplyRouting::Way AnswersOnly::Route(const std::optional<protocol::Reply> &reply,
                                     const QByteArray &translation)
{
    return reply && Answers(*reply, translation) ? Way::Routed : Way::Ignored;
}

void AnswersOnly::Requested(protocol::ReplyKind answer, quint64 serial)
{
    m_awaited.append({ answer, serial });
}

bool AnswersOnly::Answers(const protocol::Reply &reply, const QByteArray &translation)
{
    if (reply.kind == protocol::ReplyKind::Download) {
        using State = download::DownloadSequence::State;
        const State state = m_download.DownloadState();
        if (!m_link.IsWritten(m_downloadSerial))
            return false; // read before the announce or the block was out
        if (translation == "SizeOK")
            return state == State::WaitSize1 || state == State::WaitSize2;
        return !translation.isEmpty()
                && (state == State::WaitResult1 || state == State::WaitResult2);
    }
    for (qsizetype i = 0; i < m_awaited.size(); ++i) {
        if (m_awaited[i].kind == reply.kind && m_link.IsWritten(m_awaited[i].serial)) {
            m_awaited.remove(i);
            return true;
        }
    }
    return false;
}

} // namespace core
