#include "Replies.h"

#include "Commands.h"

#include <cstring>

namespace protocol {

namespace {

bool isBlank(char c)
{
    const auto code = static_cast<uchar>(c);
    return code >= 1 && code <= 32;
}

} // namespace

std::optional<Reply> MatchReply(QByteArrayView text)
{
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text = text.first(nul);
    const qsizetype lf = text.indexOf('\n');
    if (lf < 0)
        return std::nullopt;
    const QByteArrayView line = text.first(lf);

    for (std::size_t position = 0; position < ReplyPrefixes.size(); ++position) {
        const QByteArrayView prefix(ReplyPrefixes[position]);
        if (prefix.isEmpty())
            break;
        const qsizetype q = line.indexOf(prefix);
        if (q >= 0) {
            return Reply{ static_cast<ReplyKind>(position),
                          line.sliced(q + prefix.size()).toByteArray() };
        }
    }
    return std::nullopt;
}

QList<QByteArray> SplitCommaText(QByteArrayView payload)
{
    const QByteArray text = Trim(payload);
    QList<QByteArray> items;
    const qsizetype n = text.size();
    qsizetype p = 0;

    while (p < n && isBlank(text[p]))
        ++p;
    while (p < n) {
        QByteArray item;
        if (text[p] == '"') {
            // Quoted item: up to the next lone quote; a doubled quote stands for one.
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    ++p;
                    if (p >= n || text[p] != '"')
                        break;
                }
                item += text[p];
                ++p;
            }
        } else {
            const qsizetype start = p;
            while (p < n && !isBlank(text[p]) && text[p] != ',')
                ++p;
            item = text.sliced(start, p - start);
        }
        items.append(item);

        while (p < n && isBlank(text[p]))
            ++p;
        if (p < n && text[p] == ',') {
            if (p + 1 == n)
                items.append(QByteArray());
            do {
                ++p;
            } while (p < n && isBlank(text[p]));
        }
    }
    return items;
}

QByteArray TranslateDownloadReply(QByteArrayView payload, const QByteArray &current)
{
    static constexpr QByteArrayView SizeKey("Size:");
    static constexpr QByteArrayView ResultKey("Result:");
    static constexpr QByteArrayView ErrorKey("Error:");

    QByteArray translation = current;
    if (payload.contains(SizeKey))
        translation = QByteArrayLiteral("SizeOK");

    if (const qsizetype at = payload.indexOf(ResultKey); at >= 0) {
        const QByteArrayView rest = payload.sliced(at + ResultKey.size());
        if (rest.startsWith('1'))
            translation = QByteArrayLiteral("Complete");
        else
            translation = QByteArrayLiteral("Failed:") + rest.toByteArray();
    }

    if (const qsizetype at = payload.indexOf(ErrorKey); at >= 0)
        translation =
                QByteArrayLiteral("Error:") + payload.sliced(at + ErrorKey.size()).toByteArray();

    return translation;
}

void LineAssembler::Feed(QByteArrayView chunk, QList<QByteArrayView> &lines)
{
    qsizetype start = 0;
    for (qsizetype lf = chunk.indexOf('\n'); lf >= 0; lf = chunk.indexOf('\n', start)) {
        const QByteArrayView piece = chunk.sliced(start, lf + 1 - start);
        start = lf + 1;
        if (m_discarding) {
            // The rest of an over-long line: drop it with its LF.
            m_discarding = false;
        } else if (m_pending.size() + piece.size() - 1 > m_maxLineLength) {
            m_pending.clear();
        } else if (m_pending.isEmpty()) {
            lines.append(piece);
        } else {
            // Whole only in a copy; the pending buffer keeps the room of the last one.
            m_joined.swap(m_pending);
            m_joined.append(piece);
            m_pending.resize(0);
            lines.append(m_joined);
        }
    }

    const QByteArrayView rest = chunk.sliced(start);
    if (!m_discarding && !rest.isEmpty()) {
        if (m_pending.size() + rest.size() > m_maxLineLength) {
            m_pending.clear();
            m_discarding = true;
        } else {
            m_pending.append(rest);
        }
    }
}

void LineAssembler::Clear()
{
    m_pending.clear();
    m_discarding = false;
}

} // namespace protocol
