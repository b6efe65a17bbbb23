// Reply lines as the link sees them: an arbitrary byte stream that TCP cuts at arbitrary points,
// reassembled into lines and each line matched against the reply table.
//
// Input: one header byte (low 4 bits: number of cut points n; high 4 bits all set: feed the
// stream one byte at a time instead), n cut points of two bytes each (big-endian, scaled to the
// stream length), then the stream. Escapes in the stream let short inputs make lines as long as
// the assembler keeps and longer: 0xFF 0x00 stands for one 0xFF; 0xFF k with k from 0xF8 to
// 0xFF repeats the byte before it until the line so far has MaxLineLength - 4 + (k - 0xF8)
// bytes, right at the limit; any other 0xFF k repeats the byte before it k * 512 times (an LF
// only k times: thousands of empty lines teach nothing).

#include "FuzzCheck.h"

#include "protocol/Replies.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace {

using protocol::LineAssembler;
using protocol::ReplyKind;

constexpr qsizetype MaxLine = LineAssembler::MaxLineLength;
constexpr qsizetype MaxStream = 3 * MaxLine;
constexpr qsizetype MaxBytewise = 8 * 1024;

// The reply table written out again, so that a change to the real one shows up here.
struct KnownPrefix
{
    QByteArrayView text;
    ReplyKind kind;
};
constexpr std::array<KnownPrefix, 7> KnownPrefixes = { {
        { "ACK_SET_IP:", ReplyKind::SetIp },
        { "ACK_REC_IP:", ReplyKind::RecIp },
        { "ACK_SET_MAC:", ReplyKind::SetMac },
        { "ACK_REQ_MAC:", ReplyKind::ReqMac },
        { "ACK_REQ_VER:", ReplyKind::ReqVer },
        { "ACK_UPLOAD:", ReplyKind::Upload },
        { "ACK_DOWNLOAD:", ReplyKind::Download },
} };

// Hands the stream that `body` stands for to `append` as (count, byte) runs.
template <typename Append>
void expandInto(QByteArrayView body, Append &&append)
{
    qsizetype size = 0;
    qsizetype lineSize = 0;
    char last = 'x';
    for (qsizetype i = 0; i < body.size() && size < MaxStream; ++i) {
        char byte = body[i];
        qsizetype run = 1;
        if (byte == '\xFF' && i + 1 < body.size()) {
            const auto count = static_cast<uchar>(body[++i]);
            if (count >= 0xF8) {
                byte = last == '\n' ? 'x' : last;
                run = std::max<qsizetype>(0, MaxLine - 4 + (count - 0xF8) - lineSize);
            } else if (count != 0) {
                byte = last;
                run = count * (byte == '\n' ? 1 : 512);
            }
            run = std::min(run, MaxStream - size);
        }
        append(run, byte);
        size += run;
        lineSize = byte == '\n' ? 0 : lineSize + run;
        last = byte;
    }
}

QByteArray expand(QByteArrayView body)
{
    // Sized first: growing a stream of some 100 KiB step by step is what would cost the time.
    qsizetype total = 0;
    expandInto(body, [&total](qsizetype run, char) { total += run; });
    QByteArray stream;
    stream.reserve(total);
    expandInto(body, [&stream](qsizetype run, char byte) { stream.append(run, byte); });
    return stream;
}

// What the assembler must hand on, worked out over the whole stream at once: every LF-ended
// line whose text before the LF fits MaxLine, in order; longer lines vanish whole.
QList<QByteArray> expectedLines(QByteArrayView stream, qsizetype *tail)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (;;) {
        const qsizetype lf = stream.indexOf('\n', start);
        if (lf < 0)
            break;
        if (lf - start <= MaxLine)
            lines.append(stream.sliced(start, lf + 1 - start).toByteArray());
        start = lf + 1;
    }
    *tail = stream.size() - start;
    return lines;
}

QList<QByteArray> feed(LineAssembler &assembler, QByteArrayView stream,
                       const std::vector<qsizetype> &cuts)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (const qsizetype cut : cuts) {
        lines += assembler.Feed(stream.sliced(start, cut - start));
        FUZZ_CHECK(assembler.PendingSize() <= MaxLine);
        start = cut;
    }
    lines += assembler.Feed(stream.sliced(start));
    FUZZ_CHECK(assembler.PendingSize() <= MaxLine);
    return lines;
}

void checkAssemblerEnd(const LineAssembler &assembler, qsizetype tail)
{
    // An unfinished line waits whole while it fits; beyond that it is being dropped.
    FUZZ_CHECK(assembler.HasPendingLine() == (tail > 0));
    FUZZ_CHECK(assembler.PendingSize() == (tail <= MaxLine ? tail : 0));
}

// The dispatcher's rule: the text is cut at its first NUL, then before its first LF; the first
// prefix in table order that occurs anywhere in that line wins, and the payload is what follows
// its first occurrence.
void checkReply(QByteArrayView text)
{
    const std::optional<protocol::Reply> reply = protocol::MatchReply(text);

    QByteArrayView cut = text;
    if (const qsizetype nul = cut.indexOf('\0'); nul >= 0)
        cut = cut.first(nul);
    const qsizetype lf = cut.indexOf('\n');
    if (lf < 0) {
        FUZZ_CHECK(!reply);
        return;
    }
    const QByteArrayView line = cut.first(lf);

    const auto winner =
            std::find_if(KnownPrefixes.begin(), KnownPrefixes.end(),
                         [line](const KnownPrefix &p) { return line.contains(p.text); });
    if (winner == KnownPrefixes.end()) {
        FUZZ_CHECK(!reply);
        return;
    }
    FUZZ_CHECK(reply);
    FUZZ_CHECK(reply->kind == winner->kind);
    const qsizetype at = line.indexOf(winner->text);
    FUZZ_CHECK(reply->payload == line.sliced(at + winner->text.size()));
    FUZZ_CHECK(!reply->payload.contains('\n') && !reply->payload.contains('\0'));
    // No prefix that stands earlier in the table occurs anywhere in the line.
    for (auto p = KnownPrefixes.begin(); p != winner; ++p)
        FUZZ_CHECK(!line.contains(p->text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    if (input.isEmpty())
        return 0;
    const auto header = static_cast<uchar>(input[0]);
    const qsizetype cutCount = header & 0x0F;
    const bool bytewise = (header & 0xF0) == 0xF0;
    if (input.size() < 1 + 2 * cutCount)
        return 0;
    const QByteArray stream = expand(input.sliced(1 + 2 * cutCount));

    std::vector<qsizetype> cuts;
    if (bytewise && stream.size() <= MaxBytewise) {
        for (qsizetype i = 1; i < stream.size(); ++i)
            cuts.push_back(i);
    } else {
        for (qsizetype i = 0; i < cutCount; ++i) {
            const auto hi = static_cast<uchar>(input[1 + 2 * i]);
            const auto lo = static_cast<uchar>(input[2 + 2 * i]);
            // Scaled so that the whole stream is reachable; equal cuts give empty pieces.
            cuts.push_back((hi * 256 + lo) * (stream.size() + 1) / 65536);
        }
        std::sort(cuts.begin(), cuts.end());
    }

    qsizetype tail = 0;
    const QList<QByteArray> expected = expectedLines(stream, &tail);

    LineAssembler whole;
    const QList<QByteArray> wholeLines = feed(whole, stream, {});
    checkAssemblerEnd(whole, tail);

    LineAssembler pieces;
    const QList<QByteArray> pieceLines = feed(pieces, stream, cuts);
    checkAssemblerEnd(pieces, tail);

    // However the stream is cut, the same lines come out, and they are exactly the lines that
    // arrived whole and fit.
    FUZZ_CHECK(pieceLines == wholeLines);
    FUZZ_CHECK(wholeLines == expected);

    for (const QByteArray &line : wholeLines) {
        FUZZ_CHECK(line.endsWith('\n'));
        FUZZ_CHECK(line.indexOf('\n') == line.size() - 1);
        FUZZ_CHECK(line.size() <= MaxLine + 1);
        checkReply(line);
    }
    // A received text is dispatched by its first line only.
    checkReply(stream);

    // After Clear() the assembler is as good as new, also in the middle of dropping a line.
    pieces.Clear();
    FUZZ_CHECK(!pieces.HasPendingLine() && pieces.PendingSize() == 0);
    FUZZ_CHECK(feed(pieces, stream, {}) == expected);
    return 0;
}
