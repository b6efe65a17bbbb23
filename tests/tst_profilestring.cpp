// The settings reader: the lookup rules of the classic private-profile files, byte for byte,
// over a file in memory and over a file on disk.
#include "platform/ProfileString.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#ifdef Q_OS_WIN
#  include <windows.h>
// The header's name for the wide function would hide the one under test.
#  undef GetPrivateProfileString
#endif

using platform::GetPrivateProfileString;
using platform::ProfileStringFromBytes;
using platform::ReadProfileString;

namespace {

#ifdef Q_OS_WIN
// Rows where the system's lookup answers otherwise than the reader, on Windows ('W'), under Wine
// ('L'), whose lookup is its own, or on both ('*'); "|" separates rows, and a name stands for its
// "section:" and "key:" rows too.
struct SystemAnswer
{
    const char *rows;
    char where;
    QByteArray answer;
    const char *why;
};
const SystemAnswer SystemAnswers[] = {
    { "VT, FF and ^Z are not blanks", 'W', "\x0Cv\x1A", "a vertical tab is a blank" },
    { "VT, FF and ^Z are not blanks", 'L', "v", "VT, FF and ^Z are blanks" },
    { "VT around a section name is part of it", '*', "v", "a vertical tab is a blank" },
    { "UTF-8 byte-order mark skipped, first section", 'W', "d", "the mark spoils line 1" },
    { "tab before the section argument|tab after the key argument|text after the first ] is not "
      "in the name|key before the first section, empty section argument|key before the first "
      "section, blank section argument|comment line cannot be asked for by its text|UTF-16BE "
      "gives the default|empty key does not find a key line with an empty name",
      'L', "v",
      "Wine trims tabs from the names asked, ends a section name at its last ], puts "
      "keys before any section in one of no name, keeps comment lines as keys, "
      "reads UTF-16BE and finds an empty key" },
    { "header without ]|name ends at the first ]|empty section name|quotes in the default kept",
      'L', "d", "Wine wants a ] and a name, and takes quotes off the default too" },
    { "A umlaut|a umlaut|E acute|S caron|OE ligature|Z caron|Y diaeresis|thorn|o slash|UTF-16LE "
      "section name folded as Windows-1252",
      'L', "d", "Wine folds the case of names in ASCII only" },
    { "quotes removed before the cut", 'L', QByteArray(2046, 'x'), "Wine cuts with the quotes" },
    { "UTF-16LE character beyond 16 bits is one ?", 'L', "a??b", "Wine gives a ? per half" },
    { "all spaces", 'L', " ", "Wine keeps one space of a default of spaces" },
};

// What the system answers for the current row; the table's reason goes to the log.
QByteArray systemAnswer(const QByteArray &expected)
{
    const QByteArray tag = QTest::currentDataTag();
    const char where =
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") ? 'L' : 'W';
    for (const SystemAnswer &entry : SystemAnswers) {
        for (const QByteArray &row : QByteArray(entry.rows).split('|')) {
            if ((entry.where == where || entry.where == '*')
                && (tag == row || tag.endsWith(QByteArray(": " + row)))) {
                qInfo("the system differs here: %s", entry.why);
                return entry.answer;
            }
        }
    }
    return expected;
}
#endif

// Windows-1252 file text re-encoded as UTF-16LE, optionally with its byte-order mark first.
QByteArray utf16Le(QStringView text, bool byteOrderMark = true)
{
    QByteArray out;
    if (byteOrderMark)
        out += "\xFF\xFE";
    for (const QChar c : text) {
        out += static_cast<char>(c.unicode() & 0xFF);
        out += static_cast<char>(c.unicode() >> 8);
    }
    return out;
}

QByteArray utf16Be(QStringView text)
{
    QByteArray out("\xFE\xFF");
    for (const QChar c : text) {
        out += static_cast<char>(c.unicode() >> 8);
        out += static_cast<char>(c.unicode() & 0xFF);
    }
    return out;
}

// Every byte from 0x80 to 0xFF, in order.
QByteArray highBytes()
{
    QByteArray out;
    for (int b = 0x80; b <= 0xFF; ++b)
        out += static_cast<char>(b);
    return out;
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(contents) == contents.size();
}

// Random bytes in which no line can be a section header ("[" is replaced) and, unless
// `allowNul`, no NUL appears. The same seed gives the same bytes.
QByteArray garbage(qsizetype size, quint32 seed, bool allowNul)
{
    QRandomGenerator random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out) {
        auto b = static_cast<char>(random.bounded(256));
        if (b == '[' || (!allowNul && b == '\0'))
            b = 'x';
        c = b;
    }
    return out;
}

// Writes a file of `size` bytes of garbage in pieces, with `head` before and `tail` after it.
bool writeHugeFile(const QString &path, const QByteArray &head, qint64 size, const QByteArray &tail)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(head) != head.size())
        return false;
    const qsizetype piece = 1024 * 1024;
    quint32 seed = 1;
    for (qint64 written = 0; written < size; written += piece) {
        const QByteArray bytes = garbage(piece, seed++, false);
        if (file.write(bytes) != bytes.size())
            return false;
    }
    return file.write(tail) == tail.size();
}

} // namespace

class TestProfileString final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookup_data();
    void lookup();
    void caseFolding_data();
    void caseFolding();
    void encodings_data();
    void encodings();
    void defaults_data();
    void defaults();
    void lineAcrossReadChunks_data();
    void lineAcrossReadChunks();
    void utf16FileLongerThanAReadChunk();
    void folderNames_data();
    void folderNames();
    void missingFile();
    void directoryInsteadOfFile();
    void unreadableFile();
    void binaryGarbage_data();
    void binaryGarbage();
    void hugeFile_data();
    void hugeFile();

private:
    void addColumns();
    void checkBothWays();
};

void TestProfileString::addColumns()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("defaultValue");
    QTest::addColumn<QByteArray>("expected");
}

// The row's lookup over the bytes in memory and over the same bytes written to a file.
void TestProfileString::checkBothWays()
{
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, defaultValue);
    QFETCH(QByteArray, expected);

    QCOMPARE(ProfileStringFromBytes(section, key, defaultValue, contents), expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(writeFile(path, contents));
    QCOMPARE(ReadProfileString(section, key, defaultValue, path), expected);
    // Streamed in the smallest pieces the reader takes: every boundary falls inside the text.
    QBuffer buffer(&contents);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(ReadProfileString(section, key, defaultValue, buffer, 3), expected);
#ifdef Q_OS_WIN
    // The same row against the system's lookup, which the tool uses on Windows; the table above
    // applies to the Windows-1252 code page only.
    if (::GetACP() != 1252)
        QSKIP("the system's code page is not Windows-1252");
    QCOMPARE(GetPrivateProfileString(section, key, defaultValue, path), systemAnswer(expected));
#endif
}

void TestProfileString::lookup_data()
{
    addColumns();
    const QByteArray sk = "[s]\r\nk=v\r\n";

    QTest::newRow("names without regard to case")
            << QByteArray("[SectionName]\r\nTestKey=TestValue\r\n") << QByteArray("sectionname")
            << QByteArray("TESTKEY") << QByteArray("d") << QByteArray("TestValue");
    QTest::newRow("the tool's own file")
            << QByteArray("[LAN]\r\nADR=127.0.0.1\r\nPORT=2000\r\n") << QByteArray("LAN")
            << QByteArray("PORT") << QByteArray("2000") << QByteArray("2000");
    QTest::newRow("blanks around key, = and value")
            << QByteArray("[s]\r\n  key \t= \t val \t\r\n") << QByteArray("s") << QByteArray("key")
            << QByteArray("d") << QByteArray("val");
    QTest::newRow("blank inside a key name is part of it")
            << QByteArray("[s]\r\nmy key=v\r\n") << QByteArray("s") << QByteArray("my key")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("blanks inside the brackets")
            << QByteArray("[ \tx\t ]\r\nk=v\r\n") << QByteArray("x") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("blanks before the section header")
            << QByteArray("  \t[s]\r\nk=v\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("blank lines before the section")
            << QByteArray(" \r\n\t\r\n\r\n[s]\r\nk=v\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("spaces around the arguments") << sk << QByteArray("  s  ") << QByteArray("  k  ")
                                                 << QByteArray("d") << QByteArray("v");
    QTest::newRow("tab before the section argument")
            << sk << QByteArray("\ts") << QByteArray("k") << QByteArray("d") << QByteArray("d");
    QTest::newRow("tab after the key argument")
            << sk << QByteArray("s") << QByteArray("k\t") << QByteArray("d") << QByteArray("d");
    QTest::newRow("header without ]") << QByteArray("[s   \r\nk=v\r\n") << QByteArray("s")
                                      << QByteArray("k") << QByteArray("d") << QByteArray("v");
    QTest::newRow("no [ is no header") << QByteArray("s]\r\nk=v\r\n") << QByteArray("s")
                                       << QByteArray("k") << QByteArray("d") << QByteArray("d");
    QTest::newRow("name ends at the first ]")
            << QByteArray("[a]b]\r\nk=v\r\n") << QByteArray("a") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("text after the first ] is not in the name")
            << QByteArray("[a]b]\r\nk=v\r\n") << QByteArray("a]b") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("key after ] on the header line is ignored")
            << QByteArray("[s]k=v\r\n") << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("d");
    QTest::newRow("[ inside a name") << QByteArray("[[s]\r\nk=v\r\n") << QByteArray("[s")
                                     << QByteArray("k") << QByteArray("d") << QByteArray("v");
    QTest::newRow("empty section name") << QByteArray("[]\r\nk=v\r\n") << QByteArray("")
                                        << QByteArray("k") << QByteArray("d") << QByteArray("v");
    QTest::newRow("key before the first section, empty section argument")
            << QByteArray("k=v\r\n[s]\r\nk2=v2\r\n") << QByteArray("") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("key before the first section, blank section argument")
            << QByteArray("k=v\r\n[s]\r\nk2=v2\r\n") << QByteArray(" ") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("key before the first section, its name asked in a section")
            << QByteArray("k=v\r\n[s]\r\nk2=v2\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");

    // Quotes.
    QTest::newRow("double quotes keep the spaces inside")
            << QByteArray("[s]\r\nk=  \"   v   \"  \r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("   v   ");
    QTest::newRow("single quotes") << QByteArray("[s]\r\nk='x y'\r\n") << QByteArray("s")
                                   << QByteArray("k") << QByteArray("d") << QByteArray("x y");
    QTest::newRow("only the outermost pair goes")
            << QByteArray("[s]\r\nk=\"'v'\"\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("'v'");
    QTest::newRow("different quotes stay")
            << QByteArray("[s]\r\nk=\"v'\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("\"v'");
    QTest::newRow("empty quotes") << QByteArray("[s]\r\nk=\"\"\r\n") << QByteArray("s")
                                  << QByteArray("k") << QByteArray("d") << QByteArray("");
    QTest::newRow("one lone quote") << QByteArray("[s]\r\nk=\"\r\n") << QByteArray("s")
                                    << QByteArray("k") << QByteArray("d") << QByteArray("\"");
    QTest::newRow("quote in the middle stays")
            << QByteArray("[s]\r\nk=\"a\"b\"\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("a\"b");
    QTest::newRow("quote only at the start stays")
            << QByteArray("[s]\r\nk=\"ab\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("\"ab");
    QTest::newRow("quotes around a key are part of it")
            << QByteArray("[s]\r\n\"k\"=v\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("quoted key asked with its quotes")
            << QByteArray("[s]\r\n\"k\"=v\r\n") << QByteArray("s") << QByteArray("\"k\"")
            << QByteArray("d") << QByteArray("v");

    // Comments.
    QTest::newRow("comment line") << QByteArray("[s]\r\n;k=v\r\n") << QByteArray("s")
                                  << QByteArray("k") << QByteArray("d") << QByteArray("d");
    QTest::newRow("comment line cannot be asked for by its text")
            << QByteArray("[s]\r\n;k=v\r\n") << QByteArray("s") << QByteArray(";k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("comment line after blanks")
            << QByteArray("[s]\r\n \t;k=v\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("commented section header hides nothing after it")
            << QByteArray(";[s]\r\nk=1\r\n[s]\r\nk=2\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("2");
    QTest::newRow("# is not a comment") << QByteArray("[s]\r\n#k=v\r\n") << QByteArray("s")
                                        << QByteArray("#k") << QByteArray("d") << QByteArray("v");
    QTest::newRow("#k is not k") << QByteArray("[s]\r\n#k=v\r\n") << QByteArray("s")
                                 << QByteArray("k") << QByteArray("d") << QByteArray("d");
    QTest::newRow("no comments at the end of a line")
            << QByteArray("[s]\r\nk=v ;note\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("v ;note");
    QTest::newRow("value starting with ;")
            << QByteArray("[s]\r\nk=;x\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray(";x");
    QTest::newRow("# at the end of a line is text")
            << QByteArray("[s]\r\nk=v #x\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("v #x");

    // Present, empty and absent.
    QTest::newRow("empty value is not the default")
            << QByteArray("[s]\r\nk=\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("dflt") << QByteArray("");
    QTest::newRow("value of blanks is empty")
            << QByteArray("[s]\r\nk= \t  \r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("dflt") << QByteArray("");
    QTest::newRow("line without = is no key")
            << QByteArray("[s]\r\nk\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("dflt") << QByteArray("dflt");
    QTest::newRow("missing key") << sk << QByteArray("s") << QByteArray("j") << QByteArray("dflt")
                                 << QByteArray("dflt");
    QTest::newRow("missing section")
            << sk << QByteArray("t") << QByteArray("k") << QByteArray("dflt") << QByteArray("dflt");
    QTest::newRow("value after the first =")
            << QByteArray("[s]\r\nk=a=b\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("a=b");
    QTest::newRow("key line with an empty name")
            << QByteArray("[s]\r\n=v\r\n") << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("d");

    // Which section, which key.
    QTest::newRow("first key wins") << QByteArray("[s]\r\nk=1\r\nk=2\r\n") << QByteArray("s")
                                    << QByteArray("k") << QByteArray("d") << QByteArray("1");
    QTest::newRow("first key wins whatever its case")
            << QByteArray("[s]\r\nK=1\r\nk=2\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("1");
    QTest::newRow("first section of a name")
            << QByteArray("[s]\r\nk=1\r\n[s]\r\nk=2\r\nj=3\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray("1");
    QTest::newRow("later section of the same name is never searched")
            << QByteArray("[s]\r\nk=1\r\n[s]\r\nk=2\r\nj=3\r\n") << QByteArray("s")
            << QByteArray("j") << QByteArray("d") << QByteArray("d");
    QTest::newRow("empty first section hides the second")
            << QByteArray("[s]\r\n[s]\r\nk=2\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("same name in another case is the same section")
            << QByteArray("[S]\r\nk=1\r\n[t]\r\n[s]\r\nj=2\r\n") << QByteArray("s")
            << QByteArray("j") << QByteArray("d") << QByteArray("d");
    QTest::newRow("section between others")
            << QByteArray("[a]\r\nk=1\r\n[s]\r\nk=2\r\n[b]\r\nk=3\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray("2");
    QTest::newRow("last section") << QByteArray("[a]\r\nk=1\r\n[s]\r\nk=2\r\n[b]\r\nk=3\r\n")
                                  << QByteArray("b") << QByteArray("k") << QByteArray("d")
                                  << QByteArray("3");
    QTest::newRow("key of another section is not found")
            << QByteArray("[a]\r\nj=1\r\n[s]\r\nk=2\r\n") << QByteArray("s") << QByteArray("j")
            << QByteArray("d") << QByteArray("d");

    // Line ends.
    QTest::newRow("LF only") << QByteArray("[s]\nk=v\n") << QByteArray("s") << QByteArray("k")
                             << QByteArray("d") << QByteArray("v");
    QTest::newRow("CR only") << QByteArray("[s]\rk=v\r") << QByteArray("s") << QByteArray("k")
                             << QByteArray("d") << QByteArray("v");
    QTest::newRow("CR only, second key") << QByteArray("[s]\rk=v\rj=w\r") << QByteArray("s")
                                         << QByteArray("j") << QByteArray("d") << QByteArray("w");
    QTest::newRow("lone CR ends the value")
            << QByteArray("[s]\r\nk=v\rj=w\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("runs of line ends")
            << QByteArray("[s]\r\r\n\n\n\r\r\nk=v\n\r") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("no line end at the end of the file")
            << QByteArray("[s]\r\nk=v") << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("v");

    // Values come back byte for byte.
    QTest::newRow("Windows-1252 letters")
            << QByteArray("[s]\r\nk=\xE9t\xE9\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("\xE9t\xE9");
    QTest::newRow("UTF-8 text without a byte-order mark")
            << QByteArray("[s]\r\nk=caf\xC3\xA9\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("caf\xC3\xA9");
    QTest::newRow("every byte from 0x80 to 0xFF")
            << QByteArray("[s]\r\nk=" + highBytes() + "\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << highBytes();
    QTest::newRow("control characters inside a value")
            << QByteArray("[s]\r\nk=a\x01\x02\x1F\x7F"
                          "b\r\n")
            << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("a\x01\x02\x1F\x7F"
                          "b");
    // Only space and tab are blanks here: vertical tab, form feed, ^Z and the no-break space
    // are kept.
    QTest::newRow("VT, FF and ^Z are not blanks")
            << QByteArray("[s]\r\nk=\x0B\x0Cv\x1A\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("\x0B\x0Cv\x1A");
    QTest::newRow("no-break space is not a blank")
            << QByteArray("[s]\r\nk=\xA0v\xA0\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("\xA0v\xA0");
    QTest::newRow("VT around a section name is part of it")
            << QByteArray("[\x0Bs]\r\nk=v\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");

    // Length.
    QTest::newRow("value of 3000 bytes cut to 2047")
            << QByteArray("[s]\r\nk=" + QByteArray(3000, 'x') + "\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray(2047, 'x');
    QTest::newRow("value of 2048 bytes cut to 2047")
            << QByteArray("[s]\r\nk=" + QByteArray(2047, 'x') + "y\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray(2047, 'x');
    QTest::newRow("value of 2047 bytes whole")
            << QByteArray("[s]\r\nk=" + QByteArray(2046, 'x') + "y\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray(QByteArray(2046, 'x') + "y");
    QTest::newRow("quotes removed before the cut")
            << QByteArray("[s]\r\nk=\"" + QByteArray(2047, 'x') + "\"\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray(2047, 'x');
    QTest::newRow("long quoted value keeps its opening quote off")
            << QByteArray("[s]\r\nk=\"" + QByteArray(3000, 'x') + "\"\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray(2047, 'x');
    QTest::newRow("long value does not hide the next key")
            << QByteArray("[s]\r\nk=" + QByteArray(100000, 'x') + "\r\nj=w\r\n") << QByteArray("s")
            << QByteArray("j") << QByteArray("d") << QByteArray("w");
}

void TestProfileString::lookup()
{
    checkBothWays();
}

void TestProfileString::caseFolding_data()
{
    addColumns();
    const auto row = [](const char *name, const QByteArray &fileName, const QByteArray &asked,
                        bool found) {
        // The same name tried as a section and as a key.
        QTest::addRow("section: %s", name)
                << QByteArray("[" + fileName + "]\r\nk=v\r\n") << asked << QByteArray("k")
                << QByteArray("d") << QByteArray(found ? "v" : "d");
        QTest::addRow("key: %s", name)
                << QByteArray("[s]\r\n" + fileName + "=v\r\n") << QByteArray("s") << asked
                << QByteArray("d") << QByteArray(found ? "v" : "d");
    };
    row("ASCII", "LAN", "lan", true);
    row("ASCII mixed", "pOrT", "PoRt", true);
    row("A umlaut", "\xC4RGER", "\xE4rger", true);
    row("a umlaut", "\xE4rger", "\xC4RGER", true);
    row("E acute", "\xC9T\xC9", "\xE9t\xE9", true);
    row("S caron", "\x8A", "\x9A", true);
    row("OE ligature", "\x9C", "\x8C", true);
    row("Z caron", "\x8E", "\x9E", true);
    row("Y diaeresis", "\x9F", "\xFF", true);
    row("thorn", "\xFE", "\xDE", true);
    row("o slash", "\xD8", "\xF8", true);
    // Bytes that look like case pairs but are not letters of the code page.
    row("division sign is not the multiplication sign", "\xF7", "\xD7", false);
    row("sharp s is not SS", "\xDF", "SS", false);
    row("sharp s matches itself", "\xDF", "\xDF", true);
    row("micro sign has no upper case here", "\xB5", "M", false);
    row("grave accent is not @", "`", "@", false);
    row("brace is not bracket", "{", "[", false);
    row("undefined byte matches itself only", "\x81", "\xA1", false);
    row("no folding across different lengths", "LANX", "lan", false);
}

void TestProfileString::caseFolding()
{
    checkBothWays();
}

void TestProfileString::encodings_data()
{
    addColumns();
    const QString text = QStringLiteral("[s]\r\nk=v\r\n");

    QTest::newRow("UTF-8 byte-order mark skipped, first section")
            << QByteArray("\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray("v");
    QTest::newRow("UTF-8 byte-order mark skipped, second section")
            << QByteArray("\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n") << QByteArray("t")
            << QByteArray("k") << QByteArray("d") << QByteArray("w");
    QTest::newRow("UTF-8 byte-order mark on a line of its own")
            << QByteArray("\xEF\xBB\xBF\r\n[s]\r\nk=v\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("UTF-8 byte-order mark later in the file is text")
            << QByteArray("[s]\r\n\xEF\xBB\xBFk=v\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("d");
    QTest::newRow("UTF-8 byte-order mark only")
            << QByteArray("\xEF\xBB\xBF") << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("d");
    QTest::newRow("UTF-16LE with byte-order mark")
            << utf16Le(text) << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("v");
    QTest::newRow("UTF-16LE, LF only")
            << utf16Le(u"[LAN]\nADR=127.0.0.2\nPORT=2001\n") << QByteArray("lan")
            << QByteArray("port") << QByteArray("d") << QByteArray("2001");
    QTest::newRow("UTF-16LE value in Latin-1 range")
            << utf16Le(u"[s]\r\nk=\u00E9t\u00E9\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("\xE9t\xE9");
    QTest::newRow("UTF-16LE euro sign comes back as Windows-1252")
            << utf16Le(u"[s]\r\nk=\u20AC\u2122\u0178\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("\x80\x99\x9F");
    QTest::newRow("UTF-16LE undefined Windows-1252 bytes round-trip")
            << utf16Le(u"[s]\r\nk=\u0081\u008D\u008F\u0090\u009D\r\n") << QByteArray("s")
            << QByteArray("k") << QByteArray("d") << QByteArray("\x81\x8D\x8F\x90\x9D");
    QTest::newRow("UTF-16LE character beyond 16 bits is one ?")
            << utf16Le(u"[s]\r\nk=a\U0001F600b\r\n") << QByteArray("s") << QByteArray("k")
            << QByteArray("d") << QByteArray("a?b");
    QTest::newRow("UTF-16LE section name folded as Windows-1252")
            << utf16Le(u"[\u0160]\r\nk=v\r\n") << QByteArray("\x9A") << QByteArray("k")
            << QByteArray("d") << QByteArray("v");
    QTest::newRow("UTF-16LE without byte-order mark is not read as text")
            << utf16Le(text, false) << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("d");
    QTest::newRow("UTF-16BE gives the default")
            << utf16Be(text) << QByteArray("s") << QByteArray("k") << QByteArray("d")
            << QByteArray("d");
    QTest::newRow("empty file") << QByteArray() << QByteArray("s") << QByteArray("k")
                                << QByteArray("dflt") << QByteArray("dflt");
}

void TestProfileString::encodings()
{
    checkBothWays();
}

void TestProfileString::defaults_data()
{
    addColumns();
    const QByteArray file = "[s]\r\nk=v\r\n";
    const auto row = [&file](const char *name, const QByteArray &defaultValue,
                             const QByteArray &expected) {
        QTest::addRow("%s", name) << file << QByteArray("s") << QByteArray("missing")
                                  << defaultValue << expected;
    };
    row("plain", "dflt", "dflt");
    row("trailing spaces removed", "default  ", "default");
    row("leading spaces kept", "   default   ", "   default");
    row("tabs kept", "\tdefault\t", "\tdefault\t");
    row("trailing CR LF kept", "d\r\n", "d\r\n");
    row("null default", QByteArray(), "");
    row("empty default", "", "");
    row("all spaces", "   ", "");
    row("quotes in the default kept", "\"d\"", "\"d\"");
    row("bytes above 0x7F kept", highBytes(), highBytes());
    row("default of 3000 bytes cut to 2047", QByteArray(3000, 'y'), QByteArray(2047, 'y'));

    QTest::newRow("empty key asks for nothing")
            << file << QByteArray("s") << QByteArray("") << QByteArray("d") << QByteArray("d");
    QTest::newRow("key of spaces asks for nothing")
            << file << QByteArray("s") << QByteArray("  ") << QByteArray("d") << QByteArray("d");
    QTest::newRow("empty key does not find a key line with an empty name")
            << QByteArray("[s]\r\n=v\r\n") << QByteArray("s") << QByteArray("") << QByteArray("d")
            << QByteArray("d");
}

void TestProfileString::defaults()
{
    checkBothWays();
}

void TestProfileString::lineAcrossReadChunks_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("cut");

    // The file is read in pieces of 64 KiB: put each byte of "\r\nk=value\r\n" in turn on the
    // first byte of the second piece.
    const int tailSize = 11;
    for (const QByteArray &head : { QByteArray(), QByteArray("\xEF\xBB\xBF") }) {
        for (int cut = 0; cut <= tailSize; ++cut) {
            QTest::addRow("%s%d bytes before the piece boundary",
                          head.isEmpty() ? "" : "byte-order mark, ", cut)
                    << head << cut;
        }
    }
}

void TestProfileString::lineAcrossReadChunks()
{
    QFETCH(QByteArray, head);
    QFETCH(int, cut);

    const QByteArray tail = "\r\nk=value\r\n";
    QCOMPARE(tail.size(), 11);
    const qsizetype piece = 64 * 1024;
    QByteArray contents = head + "[s]\r\n;";
    contents += QByteArray(piece - cut - contents.size(), 'c');
    contents += tail;
    QCOMPARE(contents.indexOf(tail), piece - cut);

    QCOMPARE(ProfileStringFromBytes("s", "k", "d", contents), QByteArray("value"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(writeFile(path, contents));
    QCOMPARE(GetPrivateProfileString("s", "k", "d", path), QByteArray("value"));
}

void TestProfileString::utf16FileLongerThanAReadChunk()
{
    QString text = QStringLiteral(";");
    text += QString(70000, u'c');
    text += QStringLiteral("\r\n[s]\r\nk=v\r\n");
    const QByteArray contents = utf16Le(text);
    QVERIFY(contents.size() > 128 * 1024);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(writeFile(path, contents));
    QCOMPARE(GetPrivateProfileString("s", "k", "d", path), QByteArray("v"));
}

void TestProfileString::folderNames_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("blanks, letters of the code page") << QStringLiteral("Prüfstand Köln é");
    // Beyond Windows-1252 the system cannot be given the path; the reader takes over.
    QTest::newRow("letters of no single-byte code page") << QStringLiteral("設定 ツール");
}

void TestProfileString::folderNames()
{
    QFETCH(QString, folder);
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && QDir(dir.path()).mkdir(folder));
    const QString path = QDir::toNativeSeparators(dir.filePath(folder + u"/QL_T36.ini"));
    QVERIFY(writeFile(path, "[LAN]\r\nADR=127.0.0.7\r\n"));
    QCOMPARE(GetPrivateProfileString("LAN", "ADR", "192.168.0.1", path), QByteArray("127.0.0.7"));
}

void TestProfileString::missingFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(GetPrivateProfileString("LAN", "ADR", "192.168.0.1", path), QByteArray("192.168.0.1"));
    QCOMPARE(GetPrivateProfileString("LAN", "PORT", "2000  ", path), QByteArray("2000"));
}

void TestProfileString::directoryInsteadOfFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("QL_T36.ini")));
    QCOMPARE(GetPrivateProfileString("LAN", "ADR", "127.0.0.1", path), QByteArray("127.0.0.1"));
}

void TestProfileString::unreadableFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(writeFile(path, "[LAN]\r\nADR=127.0.0.9\r\n"));
#ifdef Q_OS_WIN
    // No permission bits here: the unreadable file is one that another program holds open
    // without sharing it.
    const HANDLE held = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                      0, nullptr, OPEN_EXISTING, 0, nullptr);
    const QByteArray heldValue = GetPrivateProfileString("LAN", "ADR", "127.0.0.1", path);
    QVERIFY(held != INVALID_HANDLE_VALUE && ::CloseHandle(held));
    QCOMPARE(heldValue, QByteArray("127.0.0.1"));
    QCOMPARE(GetPrivateProfileString("LAN", "ADR", "127.0.0.1", path), QByteArray("127.0.0.9"));
    return;
#endif
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    {
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly)) {
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QSKIP("a file without read permission is still readable here (running as root)");
        }
    }
    const QByteArray value = GetPrivateProfileString("LAN", "ADR", "127.0.0.1", path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(value, QByteArray("127.0.0.1"));
}

void TestProfileString::binaryGarbage_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : { 7u, 1234u, 99991u })
        QTest::addRow("seed %u", seed) << seed;
}

void TestProfileString::binaryGarbage()
{
    QFETCH(quint32, seed);
    // Every byte value, NUL, CR and LF included, but never a "[": no section can exist.
    const QByteArray contents = garbage(256 * 1024, seed, true);
    QVERIFY(!contents.contains('['));
    QVERIFY(contents.contains('\0'));
    QVERIFY(contents.contains('='));

    QCOMPARE(ProfileStringFromBytes("LAN", "ADR", "192.168.0.1", contents),
             QByteArray("192.168.0.1"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(writeFile(path, contents));
    QCOMPARE(GetPrivateProfileString("LAN", "ADR", "192.168.0.1", path), QByteArray("192.168.0.1"));
}

void TestProfileString::hugeFile_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("50 MB without the section")
            << QByteArray() << QByteArray() << QByteArray("dflt");
    QTest::newRow("section at the start")
            << QByteArray("[LAN]\r\nADR=127.0.0.5\r\n") << QByteArray() << QByteArray("127.0.0.5");
    QTest::newRow("section at the end")
            << QByteArray() << QByteArray("\r\n[LAN]\r\nADR=127.0.0.6\r\n")
            << QByteArray("127.0.0.6");
}

// Only the result is checked: the reader streams the file, so it must still find a section at
// the end without holding 50 MB at once.
void TestProfileString::hugeFile()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QL_T36.ini"));
    QVERIFY(writeHugeFile(path, head, 50 * 1024 * 1024, tail));
    QVERIFY(QFileInfo(path).size() >= 50 * 1024 * 1024);
    QCOMPARE(GetPrivateProfileString("LAN", "ADR", "dflt", path), expected);
}

QTEST_APPLESS_MAIN(TestProfileString)
#include "tst_profilestring.moc"
