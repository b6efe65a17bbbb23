// Reply lines as the link sees them: an arbitrary byte stream that TCP cuts at arbitrary points,
// reassembled into lines and each line matched against the reply table. The same pieces go
// through the line assembler alone (with a small line limit, so short inputs reach the dropping
// of over-long lines) and through the link's own receive path, without a socket.
//
// Input: one header byte (low 4 bits: number of cut points n; bits 4-6: the assembler's line
// limit, 4 + 8 * value; bit 7: feed the stream one byte at a time instead), n cut points of two
// bytes each (big-endian, scaled to the stream length), then the stream. Escapes in the stream
// let short inputs make lines as long as the limit and longer: 0xFF 0x00 stands for one 0xFF;
// 0xFF k with k from 0xF8 to 0xFF repeats the byte before it until the line so far has
// limit - 4 + (k - 0xF8) bytes, right at the limit; any other 0xFF k repeats the byte before it
// k times (an LF only 1 + k % 8 times: hundreds of empty lines teach nothing and cost time).

#include "FuzzCheck.h"

#include "core/DeviceLink.h"
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

constexpr qsizetype MaxStream = 256;
constexpr qsizetype MaxBytewise = 32;

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
void expandInto(QByteArrayView body, qsizetype limit, Append &&append)
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
                run = std::max<qsizetype>(0, limit - 4 + (count - 0xF8) - lineSize);
            } else if (count != 0) {
                byte = last;
                run = byte == '\n' ? 1 + (count & 7) : count;
            }
            run = std::min(run, MaxStream - size);
        }
        append(run, byte);
        size += run;
        lineSize = byte == '\n' ? 0 : lineSize + run;
        last = byte;
    }
}

// Buffers kept from one input to the next, so that an input allocates little beyond what the
// code under test allocates itself.
struct Scratch
{
    QByteArray stream;
    QByteArray kept;
    std::vector<qsizetype> cuts;
    std::vector<QByteArrayView> parts;
    QList<QByteArrayView> expected;
    QList<QByteArrayView> lines;

    Scratch()
    {
        stream.reserve(MaxStream);
        kept.reserve(MaxStream);
        cuts.reserve(MaxBytewise);
        parts.reserve(MaxBytewise + 1);
    }
};

void expand(QByteArrayView body, qsizetype limit, QByteArray &stream)
{
    stream.resize(0);
    expandInto(body, limit, [&stream](qsizetype run, char byte) { stream.append(run, byte); });
}

// The lines the assembler must hand on, worked out over the whole stream at once: every LF-ended
// line whose text before the LF fits `limit`, in order; longer lines vanish whole. Gives the size
// of the unfinished rest.
qsizetype expectedLines(QByteArrayView stream, qsizetype limit, QList<QByteArrayView> &expected)
{
    expected.clear();
    qsizetype start = 0;
    for (qsizetype lf = stream.indexOf('\n'); lf >= 0; lf = stream.indexOf('\n', start)) {
        if (lf - start <= limit)
            expected.append(stream.sliced(start, lf + 1 - start));
        start = lf + 1;
    }
    return stream.size() - start;
}

// The stream cut into pieces at `cuts` (sorted; equal cuts give empty pieces).
void cutInto(QByteArrayView stream, const std::vector<qsizetype> &cuts,
             std::vector<QByteArrayView> &parts)
{
    parts.clear();
    qsizetype start = 0;
    for (const qsizetype cut : cuts) {
        parts.push_back(stream.sliced(start, cut - start));
        start = cut;
    }
    parts.push_back(stream.sliced(start));
}

void checkAssemblerEnd(const LineAssembler &assembler, qsizetype tail, qsizetype limit)
{
    // An unfinished line waits whole while it fits; beyond that it is being dropped.
    FUZZ_CHECK(assembler.HasPendingLine() == (tail > 0));
    FUZZ_CHECK(assembler.PendingSize() == (tail <= limit ? tail : 0));
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

void checkAssembler(QByteArrayView stream, const std::vector<QByteArrayView> &parts,
                    qsizetype limit, Scratch &scratch)
{
    // However the stream is cut, exactly the lines that arrived whole and fit come out, each
    // while the views of its piece are valid.
    const qsizetype tail = expectedLines(stream, limit, scratch.expected);
    LineAssembler assembler(limit);
    qsizetype next = 0;
    for (const QByteArrayView part : parts) {
        scratch.lines.clear();
        assembler.Feed(part, scratch.lines);
        for (const QByteArrayView line : std::as_const(scratch.lines)) {
            FUZZ_CHECK(next < scratch.expected.size() && line == scratch.expected[next++]);
            FUZZ_CHECK(line.endsWith('\n'));
            FUZZ_CHECK(line.indexOf('\n') == line.size() - 1);
            FUZZ_CHECK(line.size() <= limit + 1);
            checkReply(line);
        }
        FUZZ_CHECK(assembler.PendingSize() <= limit);
    }
    FUZZ_CHECK(next == scratch.expected.size());
    checkAssemblerEnd(assembler, tail, limit);
    // A received text is dispatched by its first line only.
    checkReply(stream);

    // After Clear() the assembler is as good as new, also in the middle of dropping a line: the
    // next line comes out whole.
    assembler.Clear();
    FUZZ_CHECK(!assembler.HasPendingLine() && assembler.PendingSize() == 0);
    scratch.lines.clear();
    assembler.Feed("\n", scratch.lines);
    FUZZ_CHECK(scratch.lines.size() == 1 && scratch.lines.front() == "\n");
}

// One link for the whole run, with no connection: each input hands it its pieces as receives.
// Its taker declines the lines of odd length, so that declining is seen to drop one line only.
struct LinkUnderTest
{
    core::DeviceLink link;
    QByteArrayView report; // what the next receive must report
    int reports = 0;
    // Every line handed on, one after the other.
    QByteArray lines;
    bool declined = false;

    LinkUnderTest()
    {
        lines.reserve(MaxStream);
        QObject::connect(&link, &core::DeviceLink::received, [this](const QByteArray &text) {
            ++reports;
            FUZZ_CHECK(text == report);
        });
        QObject::connect(&link, &core::DeviceLink::lineReceived, [this](const QByteArray &line) {
            FUZZ_CHECK(line.indexOf('\n') == line.size() - 1);
            lines += line;
            if (line.size() % 2 == 0)
                link.LineTaken(false);
            else
                declined = true;
        });
    }
};

// The link cuts each receive at its first NUL and skips a receive of a lone "0" unless a line is
// unfinished; what is left is one stream of lines, all of which fit the link's limit here.
void checkLink(const std::vector<QByteArrayView> &parts, QByteArray &kept)
{
    static LinkUnderTest test;
    kept.resize(0);
    test.lines.resize(0);
    for (const QByteArrayView part : parts) {
        const qsizetype nul = part.indexOf('\0');
        const QByteArrayView text = nul >= 0 ? part.first(nul) : part;
        const bool unfinished = !kept.isEmpty() && !kept.endsWith('\n');
        const int reportsBefore = test.reports;
        test.report = text;
        test.declined = false;
        // Bytes the link does not own, as a socket's read would not be either.
        const bool taken =
                test.link.TakeReceived(QByteArray::fromRawData(part.data(), part.size()));
        FUZZ_CHECK(test.reports == reportsBefore + 1);
        FUZZ_CHECK(taken == !test.declined);
        if (text != "0" || unfinished)
            kept += text;
    }

    // The lines are the stream up to its last LF, each ending at the LF that ends it.
    const qsizetype tail = kept.size() - (kept.lastIndexOf('\n') + 1);
    FUZZ_CHECK(test.lines == QByteArrayView(kept).first(kept.size() - tail));
    FUZZ_CHECK(test.link.PendingReplyBytes() == tail);
    // What waits is the unfinished line; dropping it leaves the link as it was before the input.
    FUZZ_CHECK(test.link.DiscardReceived() == QByteArrayView(kept).last(tail));
    FUZZ_CHECK(test.link.PendingReplyBytes() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    if (input.isEmpty())
        return 0;
    const auto header = static_cast<uchar>(input[0]);
    const qsizetype cutCount = header & 0x0F;
    const qsizetype limit = 4 + 8 * ((header >> 4) & 0x07);
    const bool bytewise = (header & 0x80) != 0;
    if (input.size() < 1 + 2 * cutCount)
        return 0;
    static Scratch scratch;
    expand(input.sliced(1 + 2 * cutCount), limit, scratch.stream);
    const QByteArrayView stream = scratch.stream;

    std::vector<qsizetype> &cuts = scratch.cuts;
    cuts.clear();
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
    cutInto(stream, cuts, scratch.parts);

    checkAssembler(stream, scratch.parts, limit, scratch);
    checkLink(scratch.parts, scratch.kept);
    return 0;
}
