#include "ProfileString.h"

#include "AnsiUpper.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <iterator>
#include <optional>

#ifdef Q_OS_WIN
#  include <windows.h>
// The header's name for the wide function would rename this project's function.
#  undef GetPrivateProfileString
#endif

namespace platform {

namespace {

// Longest line kept whole; the rest of a longer line cannot matter for a 2047-byte value and a
// name, and a garbage file must not make the lookup hold unbounded memory.
constexpr qsizetype MaxLine = 64 * 1024;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    const char *begin = text.begin();
    const char *end = text.end();
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    return QByteArrayView(begin, end);
}

QByteArrayView trimSpaces(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return text.sliced(begin, end - begin);
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (CharUpperAnsi(a[i]) != CharUpperAnsi(b[i]))
            return false;
    }
    return true;
}

// Walks the lines of a file and remembers the answer as soon as it is known.
class Lookup
{
public:
    Lookup(QByteArrayView section, QByteArrayView key) : m_section(section), m_key(key) { }

    bool done() const { return m_done; }
    const std::optional<QByteArray> &value() const { return m_value; }

    void line(QByteArrayView text)
    {
        if (m_done)
            return;
        text = trimBlanks(text);
        if (text.isEmpty())
            return;
        if (text.front() == '[') {
            if (m_inSection) {
                // Later sections of the same name are never searched.
                m_done = true;
                return;
            }
            QByteArrayView name = text.sliced(1);
            if (const qsizetype close = name.indexOf(']'); close >= 0)
                name = name.first(close);
            m_inSection = sameName(trimBlanks(name), m_section);
            return;
        }
        if (text.front() == ';' || !m_inSection)
            return;
        const qsizetype equals = text.indexOf('=');
        if (equals < 0 || !sameName(trimBlanks(text.first(equals)), m_key))
            return;
        QByteArrayView value = trimBlanks(text.sliced(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
            && value.back() == value.front()) {
            value = value.sliced(1, value.size() - 2);
        }
        m_value = value.first(std::min(value.size(), ProfileValueMax)).toByteArray();
        m_done = true;
    }

private:
    QByteArrayView m_section;
    QByteArrayView m_key;
    bool m_inSection = false;
    bool m_done = false;
    std::optional<QByteArray> m_value;
};

// Splits a byte stream into lines at CR, LF or CR LF, fed in arbitrary chunks. A line that lies
// whole in one chunk goes to the lookup as it stands there; only one cut by a chunk's end is
// copied.
class LineSplitter
{
public:
    explicit LineSplitter(Lookup &lookup) : m_lookup(lookup) { }

    void feed(QByteArrayView chunk)
    {
        qsizetype start = 0;
        qsizetype cr = chunk.indexOf('\r');
        qsizetype lf = chunk.indexOf('\n');
        // Once the answer is known the rest of the file cannot change it.
        while (!m_lookup.done()) {
            if (cr >= 0 && cr < start)
                cr = chunk.indexOf('\r', start);
            if (lf >= 0 && lf < start)
                lf = chunk.indexOf('\n', start);
            const qsizetype end = cr < 0 ? lf : (lf < 0 ? cr : std::min(cr, lf));
            if (end < 0) {
                keep(chunk.sliced(start));
                return;
            }
            // Empty lines do not matter, so CR LF may count as two line ends.
            const QByteArrayView piece = chunk.sliced(start, end - start);
            if (m_line.isEmpty()) {
                if (!piece.isEmpty())
                    m_lookup.line(piece.first(std::min(piece.size(), MaxLine)));
            } else {
                keep(piece);
                flush();
            }
            start = end + 1;
        }
    }

    void finish()
    {
        if (!m_lookup.done())
            flush();
    }

private:
    // The part of a line that fits.
    void keep(QByteArrayView piece)
    {
        m_line.append(piece.first(std::min(piece.size(), MaxLine - m_line.size())));
    }

    void flush()
    {
        if (!m_line.isEmpty())
            m_lookup.line(m_line);
        m_line.resize(0);
    }

    Lookup &m_lookup;
    QByteArray m_line;
};

QByteArray defaultResult(QByteArrayView defaultValue)
{
    qsizetype end = defaultValue.size();
    while (end > 0 && defaultValue[end - 1] == ' ')
        --end;
    end = std::min(end, ProfileValueMax);
    return defaultValue.first(end).toByteArray();
}

bool startsWithUtf8Bom(QByteArrayView data)
{
    return data.startsWith("\xEF\xBB\xBF");
}

bool startsWithUtf16LeBom(QByteArrayView data)
{
    return data.size() >= 2 && static_cast<uchar>(data[0]) == 0xFF
            && static_cast<uchar>(data[1]) == 0xFE;
}

// The text comes back in Windows-1252, the code page the names are compared in, so that "€" is
// 0x80 and "Š" matches "š"; characters the code page lacks become "?".
QByteArray utf16LeToSingleByte(QByteArrayView data)
{
    // Windows-1252 0x80-0x9F, by character. The five bytes the code page leaves undefined stand
    // for the control characters of the same number.
    struct HighByte
    {
        char16_t character;
        uchar byte;
    };
    // clang-format off
    static constexpr HighByte High[32] = {
        { 0x0081, 0x81 }, { 0x008D, 0x8D }, { 0x008F, 0x8F }, { 0x0090, 0x90 },
        { 0x009D, 0x9D }, { 0x0152, 0x8C }, { 0x0153, 0x9C }, { 0x0160, 0x8A },
        { 0x0161, 0x9A }, { 0x0178, 0x9F }, { 0x017D, 0x8E }, { 0x017E, 0x9E },
        { 0x0192, 0x83 }, { 0x02C6, 0x88 }, { 0x02DC, 0x98 }, { 0x2013, 0x96 },
        { 0x2014, 0x97 }, { 0x2018, 0x91 }, { 0x2019, 0x92 }, { 0x201A, 0x82 },
        { 0x201C, 0x93 }, { 0x201D, 0x94 }, { 0x201E, 0x84 }, { 0x2020, 0x86 },
        { 0x2021, 0x87 }, { 0x2022, 0x95 }, { 0x2026, 0x85 }, { 0x2030, 0x89 },
        { 0x2039, 0x8B }, { 0x203A, 0x9B }, { 0x20AC, 0x80 }, { 0x2122, 0x99 },
    };
    // clang-format on
    static_assert(std::is_sorted(
            std::begin(High), std::end(High),
            [](const HighByte &a, const HighByte &b) { return a.character < b.character; }));
    QStringDecoder decode(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
    const QString text = decode(data.sliced(2));
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            bytes += static_cast<char>(c);
            continue;
        }
        const auto *found = c > std::end(High)[-1].character
                ? std::end(High)
                : std::lower_bound(std::begin(High), std::end(High), c,
                                   [](const HighByte &h, char16_t x) { return h.character < x; });
        if (found != std::end(High) && found->character == c) {
            bytes += static_cast<char>(found->byte);
            continue;
        }
        // One "?" for a character outside the 16-bit range, not two.
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        bytes += '?';
    }
    return bytes;
}

bool validArguments(QByteArrayView section, QByteArrayView key)
{
    // An empty key asks for nothing that can be found.
    return !key.isEmpty() && !section.isNull();
}

} // namespace

QByteArray ProfileStringFromBytes(QByteArrayView section, QByteArrayView key,
                                  QByteArrayView defaultValue, QByteArrayView contents)
{
    section = trimSpaces(section);
    key = trimSpaces(key);
    if (!validArguments(section, key))
        return defaultResult(defaultValue);

    QByteArray converted;
    if (startsWithUtf16LeBom(contents)) {
        converted = utf16LeToSingleByte(contents);
        contents = converted;
    } else if (startsWithUtf8Bom(contents)) {
        contents = contents.sliced(3);
    }

    Lookup lookup(section, key);
    LineSplitter splitter(lookup);
    splitter.feed(contents);
    splitter.finish();
    return lookup.value() ? *lookup.value() : defaultResult(defaultValue);
}

QByteArray ReadProfileString(QByteArrayView section, QByteArrayView key,
                             QByteArrayView defaultValue, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return defaultResult(defaultValue);
    return ReadProfileString(section, key, defaultValue, file);
}

QByteArray ReadProfileString(QByteArrayView section, QByteArrayView key,
                             QByteArrayView defaultValue, QIODevice &file, qint64 chunkSize)
{
    chunkSize = std::max<qint64>(chunkSize, 3);
    QByteArray chunk = file.read(chunkSize);
    if (startsWithUtf16LeBom(chunk)) {
        // Text files in UTF-16 are small settings files written by an editor: read them whole.
        const qint64 rest = std::min<qint64>(file.size() - chunk.size(), 16 * 1024 * 1024);
        if (rest > 0)
            chunk += file.read(rest);
        return ProfileStringFromBytes(section, key, defaultValue, chunk);
    }

    section = trimSpaces(section);
    key = trimSpaces(key);
    if (!validArguments(section, key))
        return defaultResult(defaultValue);

    Lookup lookup(section, key);
    LineSplitter splitter(lookup);
    splitter.feed(startsWithUtf8Bom(chunk) ? QByteArrayView(chunk).sliced(3) : chunk);
    // Streams the file so that a huge one costs time, not memory, and stops at the answer.
    // Every piece goes into the room of the first.
    while (!lookup.done() && !file.atEnd()) {
        chunk.resize(chunkSize);
        const qint64 got = file.read(chunk.data(), chunkSize);
        if (got <= 0)
            break;
        splitter.feed(QByteArrayView(chunk).first(got));
    }
    splitter.finish();
    return lookup.value() ? *lookup.value() : defaultResult(defaultValue);
}

#ifdef Q_OS_WIN

namespace {

// The path in the ANSI code page, or nothing when some character of it has no byte there.
std::optional<QByteArray> AnsiPath(const QString &path)
{
    const auto *wide = reinterpret_cast<const wchar_t *>(path.utf16());
    const int length = static_cast<int>(path.size());
    BOOL lossy = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                           nullptr, &lossy);
    if (path.isEmpty() || size <= 0 || lossy)
        return std::nullopt;
    QByteArray ansi(size, Qt::Uninitialized);
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, ansi.data(), size, nullptr,
                          &lossy);
    if (lossy)
        return std::nullopt;
    return ansi;
}

} // namespace

QByteArray GetPrivateProfileString(QByteArrayView section, QByteArrayView key,
                                   QByteArrayView defaultValue, const QString &path)
{
    // A folder named in letters of another code page would otherwise lose the settings file.
    const std::optional<QByteArray> ansiPath = AnsiPath(path);
    if (!ansiPath || section.isNull() || key.isNull())
        return ReadProfileString(section, key, defaultValue, path);

    // The system reads C strings; a null section or key would list names instead.
    const QByteArray sectionText = section.toByteArray();
    const QByteArray keyText = key.toByteArray();
    const QByteArray defaultText = defaultValue.toByteArray();
    char buffer[ProfileValueMax + 1] = {};
    const DWORD length =
            ::GetPrivateProfileStringA(sectionText.constData(), keyText.constData(),
                                       defaultValue.isNull() ? nullptr : defaultText.constData(),
                                       buffer, sizeof buffer, ansiPath->constData());
    return QByteArray(buffer, static_cast<qsizetype>(std::min<DWORD>(length, ProfileValueMax)));
}

#else

QByteArray GetPrivateProfileString(QByteArrayView section, QByteArrayView key,
                                   QByteArrayView defaultValue, const QString &path)
{
    return ReadProfileString(section, key, defaultValue, path);
}

#endif

} // namespace platform
