#pragma once

#include "protocol/Replies.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace download {
class DownloadSequence;
}

namespace core {

class DeviceLink;

// Which of the lines a session reads go on to the signals of their reply kinds.
class ReplyRouting
{
public:
    // What becomes of one line.
    enum class Way {
        Routed, // to replyReceived() and the signal of its kind
        Ignored, // to replyIgnored(), and no further
        Dropped, // nowhere
    };

    virtual ~ReplyRouting() = default;

    // `reply` is the line read by its prefix, nothing for a line that is no reply; `translation`
    // is an "ACK_DOWNLOAD:" reply's translated text.
    virtual Way Route(const std::optional<protocol::Reply> &reply,
                      const QByteArray &translation) = 0;

    // A request went out in the link's write `serial`; a reply of kind `answer` answers it.
    virtual void Requested(protocol::ReplyKind answer, quint64 serial)
    {
        Q_UNUSED(answer);
        Q_UNUSED(serial);
    }
    // The download's announce or block went out in the link's write `serial` (0: it did not).
    virtual void DownloadWritten(quint64 serial) { Q_UNUSED(serial); }
    // The connection ended: nothing awaited there is answered on the next one.
    virtual void ConnectionLost() { }
};

// As the windows route: every reply by its prefix, asked for or not, whenever it comes. A line
// that is no reply goes nowhere.
class ByPrefix final : public ReplyRouting
{
public:
    Way Route(const std::optional<protocol::Reply> &reply, const QByteArray &translation) override;
};

// Only answers: a read or set is answered by the first reply of its own kind read after its
// command was written; a size acknowledgement only while its announce awaits one and after the
// announce was written; a block's result only after the block's last byte was written. Every
// other line is ignored. It takes the link to read every line as it comes, so that a line that
// was there before cannot pass for the answer to a later command.
class AnswersOnly final : public ReplyRouting
{
public:
    AnswersOnly(const DeviceLink &link, const download::DownloadSequence &download)
        : m_link(link), m_download(download)
    {
    }

    Way Route(const std::optional<protocol::Reply> &reply, const QByteArray &translation) override;
    void Requested(protocol::ReplyKind answer, quint64 serial) override;
    void DownloadWritten(quint64 serial) override { m_downloadSerial = serial; }
    void ConnectionLost() override { m_awaited.clear(); }

private:
    // An answer is taken off the list of those awaited.
    bool Answers(const protocol::Reply &reply, const QByteArray &translation);

    const DeviceLink &m_link;
    const download::DownloadSequence &m_download;
    struct Awaited
    {
        protocol::ReplyKind kind;
        quint64 serial; // the link's write that carried the command
    };
    QList<Awaited> m_awaited;
    // The link's write that carried the download's last announce or block (0: none made).
    quint64 m_downloadSerial = 0;
};

} // namespace core
