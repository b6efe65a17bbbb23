// Translation of "ACK_DOWNLOAD:" payloads, the only input that drives the download sequence.
//
// Input: one byte n, then the current translation (n % 16 bytes), then the payload.

#include "FuzzCheck.h"

#include "protocol/Replies.h"

#include <QByteArray>

#include <algorithm>

namespace {

constexpr QByteArrayView SizeKey = "Size:";
constexpr QByteArrayView ResultKey = "Result:";
constexpr QByteArrayView ErrorKey = "Error:";

QByteArrayView after(QByteArrayView text, QByteArrayView key)
{
    return text.sliced(text.indexOf(key) + key.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    if (input.isEmpty())
        return 0;
    const qsizetype currentSize =
            std::min<qsizetype>(static_cast<uchar>(input[0]) % 16, input.size() - 1);
    const QByteArray current = input.sliced(1, currentSize).toByteArray();
    const QByteArrayView payload = input.sliced(1 + currentSize);

    const QByteArray translation = protocol::TranslateDownloadReply(payload, current);

    const bool hasSize = payload.contains(SizeKey);
    const bool hasResult = payload.contains(ResultKey);
    const bool hasError = payload.contains(ErrorKey);

    // One of the five forms, and which one follows from the keys alone: "Error:" beats
    // "Result:", which beats "Size:".
    if (hasError) {
        FUZZ_CHECK(translation.startsWith("Error:"));
        const QByteArray expected =
                QByteArrayLiteral("Error:") + after(payload, ErrorKey).toByteArray();
        FUZZ_CHECK(translation == expected);
    } else if (hasResult) {
        const QByteArrayView rest = after(payload, ResultKey);
        if (rest.startsWith('1')) {
            FUZZ_CHECK(translation == "Complete");
        } else {
            FUZZ_CHECK(translation.startsWith("Failed:"));
            const QByteArray expected = QByteArrayLiteral("Failed:") + rest.toByteArray();
            FUZZ_CHECK(translation == expected);
        }
    } else if (hasSize) {
        FUZZ_CHECK(translation == "SizeOK");
    } else {
        FUZZ_CHECK(translation == current);
    }

    // Only a payload without any key leaves the current translation in place.
    if (hasSize || hasResult || hasError) {
        FUZZ_CHECK(protocol::TranslateDownloadReply(payload, QByteArrayLiteral("x"))
                   == translation);
        FUZZ_CHECK(translation.size() <= payload.size() + 7);
    }
    return 0;
}
