// The settings-file reader over arbitrary files and names: over the bytes at once, and streamed
// from a device in pieces cut anywhere, as it reads a file, all in memory.
//
// Input: section name, LF, key name, LF, then the file's bytes.

#include "FuzzCheck.h"

#include "platform/AnsiUpper.h"
#include "platform/ProfileString.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr QByteArrayView FirstDefault = "";
constexpr QByteArrayView SecondDefault = "~none~  ";
constexpr QByteArrayView SecondDefaultResult = "~none~";

// The streaming reader over the same bytes, in pieces of `chunkSize`: small pieces put their
// boundaries inside names, values and CR LF pairs.
QByteArray readStreamed(QByteArrayView section, QByteArrayView key, QByteArrayView defaultValue,
                        QByteArrayView contents, qint64 chunkSize)
{
    // One buffer device for the whole run; it lets go of the input's bytes before they go.
    static QBuffer file;
    file.setData(QByteArray::fromRawData(contents.data(), contents.size()));
    FUZZ_CHECK(file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QByteArray value = platform::ReadProfileString(section, key, defaultValue, file, chunkSize);
    file.close();
    file.setData(QByteArray());
    return value;
}

// `name` upper-cased, with blanks around it that do not count, in `padded` (whose room is kept
// from one input to the next).
QByteArrayView paddedUpper(QByteArrayView name, QByteArrayView before, QByteArrayView after,
                           QByteArray &padded)
{
    padded.resize(0);
    padded.append(before);
    for (const char c : name)
        padded.append(platform::CharUpperAnsi(c));
    padded.append(after);
    return padded;
}

bool isUtf16Le(QByteArrayView contents)
{
    return contents.startsWith("\xFF\xFE");
}

QString utf16Le(QByteArrayView contents)
{
    QStringDecoder decode(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
    return decode(contents.sliced(2));
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Blanks, then "=" right before `at`.
bool followsEquals(QByteArrayView file, qsizetype at)
{
    while (at > 0 && isBlank(file[at - 1]))
        --at;
    return at > 0 && file[at - 1] == '=';
}

// Blanks, then the end of the line or of the file, from `at` on.
bool endsLine(QByteArrayView file, qsizetype at)
{
    while (at < file.size() && isBlank(file[at]))
        ++at;
    return at == file.size() || file[at] == '\r' || file[at] == '\n';
}

// A found value stands in the file after "=" and blanks and runs to blanks and the end of its
// line, with or without one pair of matching quotes around it (a value cut to its maximum
// length stops early).
bool standsAsValue(QByteArrayView file, QByteArrayView value)
{
    const bool cut = value.size() == platform::ProfileValueMax;
    for (qsizetype at = file.indexOf(value); at >= 0; at = file.indexOf(value, at + 1)) {
        const qsizetype end = at + value.size();
        if (followsEquals(file, at) && (cut || endsLine(file, end)))
            return true;
        const char quote = at > 0 ? file[at - 1] : '\0';
        if ((quote == '"' || quote == '\'') && followsEquals(file, at - 1)
            && (cut || (end < file.size() && file[end] == quote && endsLine(file, end + 1)))) {
            return true;
        }
    }
    return false;
}

bool isPlainAscii(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto code = static_cast<uchar>(c);
        return code >= 1 && code <= 0x7E && c != '?';
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    const qsizetype end1 = input.indexOf('\n');
    if (end1 < 0)
        return 0;
    const qsizetype end2 = input.indexOf('\n', end1 + 1);
    if (end2 < 0)
        return 0;
    const QByteArrayView section = input.first(end1);
    const QByteArrayView key = input.sliced(end1 + 1, end2 - end1 - 1);
    const QByteArrayView contents = input.sliced(end2 + 1);

    const QByteArray value = platform::ProfileStringFromBytes(section, key, FirstDefault, contents);
    const QByteArray other =
            platform::ProfileStringFromBytes(section, key, SecondDefault, contents);

    // At once and streamed: the same answer, wherever the pieces are cut. The file goes in 1 to
    // 16 pieces of equal size, as the inputs' sizes vary; in one piece it is read as the reader
    // reads any file shorter than its piece size.
    const bool utf16 = isUtf16Le(contents);
    const qint64 pieces = 1 + static_cast<qint64>(size % 16);
    const qint64 chunkSize = std::max<qint64>(3, (contents.size() + pieces - 1) / pieces);
    FUZZ_CHECK(readStreamed(section, key, SecondDefault, contents, chunkSize) == other);

    FUZZ_CHECK(value.size() <= platform::ProfileValueMax);
    FUZZ_CHECK(!value.contains('\r') && !value.contains('\n'));

    // A value that was found does not depend on the default: either both lookups gave their
    // default back, or both gave the same value.
    const bool found = !(value == FirstDefault && other == SecondDefaultResult);
    FUZZ_CHECK(!found || value == other);

    // A found value comes from the file, byte for byte. A UTF-16 file is read as single-byte
    // text; its plain ASCII survives that unchanged ("?" may also stand for a character the
    // code page lacks, so a value with "?" or bytes above 0x7F is only held to its length).
    if (found && !utf16) {
        FUZZ_CHECK(contents.contains(value));
        // (The reader keeps 64 KiB of a line; a longer file may cut a value where its line is cut.)
        if (contents.size() < 64 * 1024)
            FUZZ_CHECK(standsAsValue(contents, value));
    } else if (found) {
        const QString text = utf16Le(contents);
        FUZZ_CHECK(value.size() <= text.size());
        if (isPlainAscii(value))
            FUZZ_CHECK(text.contains(QLatin1String(value)));
    }

    // Names match without regard to case, and blanks around the names do not count.
    static QByteArray otherSection;
    static QByteArray otherKey;
    FUZZ_CHECK(platform::ProfileStringFromBytes(paddedUpper(section, " ", "  ", otherSection),
                                                paddedUpper(key, "  ", " ", otherKey),
                                                SecondDefault, contents)
               == other);
    return 0;
}
