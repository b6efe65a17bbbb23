// The address-list rule of "ACK_REC_IP:" over arbitrary payloads.
//
// Bound on the number of items. Let T be the payload trimmed (bytes 0-32 off both ends), C the
// number of commas in T, B the number of maximal runs of bytes 1-32 in T and Q the number of
// double quotes in T. An empty T gives no items. Otherwise every item but the first starts after
// the scan has passed either at least one comma or blank between it and the item before (and no
// two items share that comma or that run of blanks, since an item always begins with a byte
// that is no blank), or directly after the closing quote of a quoted item, which takes two
// quotes. A comma that ends T adds one empty item, but then no item follows it, so it is not
// used by any other item. Hence: items <= 1 + C + B + Q / 2, and without quotes items <= 1 + C + B.

#include "FuzzCheck.h"

#include "protocol/Commands.h"
#include "protocol/Replies.h"

#include <QByteArray>
#include <QList>

namespace {

bool isBlank(char c)
{
    const auto code = static_cast<uchar>(c);
    return code >= 1 && code <= 32;
}

bool isSeparator(char c)
{
    return c == ',' || isBlank(c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView payload = fuzz::bytes(data, size);
    const QList<QByteArray> items = protocol::SplitCommaText(payload);
    const QByteArray trimmed = protocol::Trim(payload);

    // The reply handler trims the payload first; that must make no difference.
    FUZZ_CHECK(protocol::SplitCommaText(trimmed) == items);

    qsizetype commas = 0;
    qsizetype blankRuns = 0;
    qsizetype quotes = 0;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const char c = trimmed[i];
        commas += c == ',' ? 1 : 0;
        quotes += c == '"' ? 1 : 0;
        if (isBlank(c) && (i == 0 || !isBlank(trimmed[i - 1])))
            ++blankRuns;
    }

    if (trimmed.isEmpty()) {
        FUZZ_CHECK(items.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!items.isEmpty());
    FUZZ_CHECK(items.size() <= 1 + commas + blankRuns + quotes / 2);

    qsizetype total = 0;
    for (const QByteArray &item : items)
        total += item.size();
    FUZZ_CHECK(total <= payload.size());

    // A comma as the very last byte stands for one more, empty, item.
    if (trimmed.endsWith(',') && quotes == 0)
        FUZZ_CHECK(items.back().isEmpty());

    if (quotes == 0) {
        // Without quotes the items are exactly the runs of bytes that are neither comma nor
        // blank, in order, with empty items only where commas follow each other.
        QByteArray joined;
        QByteArray kept;
        for (const QByteArray &item : items) {
            for (const char c : item)
                FUZZ_CHECK(!isSeparator(c));
            joined += item;
        }
        for (const char c : trimmed) {
            if (!isSeparator(c))
                kept += c;
        }
        FUZZ_CHECK(joined == kept);
        // Every comma closes the item before it, and one item follows the last comma.
        FUZZ_CHECK(items.size() >= 1 + commas);
        FUZZ_CHECK(items.size() <= 1 + commas + blankRuns);
    }
    return 0;
}
