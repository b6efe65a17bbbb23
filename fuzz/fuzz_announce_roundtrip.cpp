// The announce command of a download, formatted by the tool and read back by the simulator.
//
// Input: the block's address and length (four bytes each, little-endian); whatever follows is
// also given to the simulator's parser as a command line of its own.

#include "FuzzCheck.h"

#include "Command.h"
#include "protocol/Commands.h"

#include <QByteArray>

namespace {

quint32 littleEndian32(QByteArrayView bytes)
{
    quint32 value = 0;
    for (qsizetype i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uchar>(bytes[i]);
    return value;
}

// "Download(0x%08x,0x%0x)" worked out without printf.
QByteArray expectedAnnounce(quint32 address, quint32 length)
{
    return QByteArrayLiteral("Download(0x") + QByteArray::number(address, 16).rightJustified(8, '0')
            + QByteArrayLiteral(",0x") + QByteArray::number(length, 16) + QByteArrayLiteral(")\r");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    if (input.size() < 8)
        return 0;
    const quint32 address = littleEndian32(input.first(4));
    const quint32 length = littleEndian32(input.sliced(4, 4));

    // Exactly the template's bytes and one CR; no LF, no NUL.
    const QByteArray command = protocol::DownloadCommand(address, length);
    FUZZ_CHECK(command == expectedAnnounce(address, length));
    FUZZ_CHECK(command.endsWith('\r') && command.count('\r') == 1);
    FUZZ_CHECK(!command.contains('\n') && !command.contains('\0'));

    // The device reads back what the tool meant, in the form the tool must write.
    const sim::Command parsed = sim::parseCommand(QByteArrayView(command).chopped(1));
    FUZZ_CHECK(parsed.kind == sim::CommandKind::Download);
    FUZZ_CHECK(parsed.valid);
    FUZZ_CHECK(parsed.exactForm);
    FUZZ_CHECK(parsed.address == address);
    FUZZ_CHECK(parsed.length == length);

    // The other way round: a line the simulator takes as an announce in the tool's exact form
    // is what the tool writes for those numbers, so there is one spelling per block.
    const QByteArrayView line = input.sliced(8);
    const sim::Command other = sim::parseCommand(line);
    if (other.kind == sim::CommandKind::Download && other.valid && other.exactForm)
        FUZZ_CHECK(protocol::DownloadCommand(other.address, other.length).chopped(1) == line);
    return 0;
}
