#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>
#include <optional>

// How the tool reads the device's reply lines.
namespace protocol {

// Position in the prefix table; it selects the handler.
enum class ReplyKind {
    SetIp = 0,
    RecIp = 1,
    SetMac = 2,
    ReqMac = 3,
    ReqVer = 4,
    Upload = 5,
    Download = 6,
};

// Searched in this order; the empty entry ends the search.
inline constexpr std::array<const char *, 8> ReplyPrefixes = {
    "ACK_SET_IP:",  "ACK_REC_IP:", "ACK_SET_MAC:",  "ACK_REQ_MAC:",
    "ACK_REQ_VER:", "ACK_UPLOAD:", "ACK_DOWNLOAD:", "",
};

struct Reply
{
    ReplyKind kind;
    QByteArray payload;
};

// Cuts the text at its first NUL (it is a C string on the wire side) and at its first LF, then
// finds the first prefix of the table, in table order, that occurs anywhere in that line. The
// payload is everything after the prefix's first occurrence, a CR before the LF included.
// A text without LF is no reply.
std::optional<Reply> MatchReply(QByteArrayView text);

// A set command's result: accepted when the payload begins with "1".
inline bool IsAccepted(QByteArrayView payload)
{
    return payload.startsWith('1');
}

// The address-list rule of "ACK_REC_IP:": trimmed, then items separated by commas, blanks
// (codes 1-32) or both; a double-quoted item may hold separators and "" stands for one quote;
// two commas in a row give an empty item; a trailing comma adds one empty item.
QList<QByteArray> SplitCommaText(QByteArrayView payload);

// Translation of an "ACK_DOWNLOAD:" payload: "SizeOK", "Complete", "Failed:<rest>" or
// "Error:<rest>", the later test winning; a payload with none of the keys leaves `current`.
QByteArray TranslateDownloadReply(QByteArrayView payload, const QByteArray &current);

// Reassembles reply lines that TCP delivers in arbitrary pieces. Every complete line is handed
// on with its LF; the bytes after the last LF wait for the next piece. A line that grows beyond
// MaxLineLength (or the limit given) without an LF is dropped whole (including the rest of it that
// arrives later), so a peer cannot make the tool hold unbounded memory.
class LineAssembler
{
public:
    static constexpr qsizetype MaxLineLength = 64 * 1024;

    // A smaller limit lets the fuzz target reach the dropping with short inputs.
    explicit LineAssembler(qsizetype maxLineLength = MaxLineLength) : m_maxLineLength(maxLineLength)
    {
    }

    // Appends to `lines` the lines that `chunk` completes, LF included: views into `chunk`, or,
    // for a line begun in an earlier chunk, into the assembler's own copy of it, which stays
    // valid until the next Feed (Clear() leaves it alone). The whole chunk is taken before this
    // returns, so what is done with the lines meanwhile acts on the state after the chunk.
    void Feed(QByteArrayView chunk, QList<QByteArrayView> &lines);
    bool HasPendingLine() const { return !m_pending.isEmpty() || m_discarding; }
    qsizetype PendingSize() const { return m_pending.size(); }
    const QByteArray &Pending() const { return m_pending; }
    void Clear();

private:
    qsizetype m_maxLineLength;
    QByteArray m_pending;
    QByteArray m_joined; // the last line that began in an earlier chunk
    bool m_discarding = false;
};

} // namespace protocol
