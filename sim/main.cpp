// ql-t36-sim: a QL-T36 on loopback, with a traffic log on standard output.

#include "Bytes.h"
#include "DeviceSimulator.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTextStream>
#include <QTime>

#include <cstdlib>
#include <optional>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void logLine(QChar direction, const QString &text)
{
    out() << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << direction
          << direction << ' ' << text << Qt::endl;
}

[[noreturn]] void fail(const QString &message)
{
    QTextStream(stderr) << "ql-t36-sim: " << message << Qt::endl;
    std::exit(2);
}

int nonNegative(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    const QString text = parser.value(option);
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0)
        fail(QStringLiteral("--%1 wants a number of 0 or more, not \"%2\"")
                     .arg(option.names().constFirst(), text));
    return value;
}

QByteArray escapedBytes(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    const std::optional<QByteArray> bytes = sim::unescape(parser.value(option).toLatin1());
    if (!bytes)
        fail(QStringLiteral("--%1: bad escape in \"%2\" (use \\r \\n \\t \\\\ \\xHH)")
                     .arg(option.names().constFirst(), parser.value(option)));
    return *bytes;
}

// The port a QL-T36 listens on.
constexpr quint16 DevicePort = 2000;

struct ListenAddress
{
    QHostAddress address;
    quint16 port = DevicePort;
};

// "127.0.0.1:2000", "[::1]:2000", "localhost:2000", or an address alone (the device's port).
ListenAddress parseListen(const QString &text)
{
    ListenAddress result;
    QString host = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    const bool bracketed = text.startsWith(QLatin1Char('['));
    const bool hasPort = colon >= 0
            && (bracketed ? text.lastIndexOf(QLatin1Char(']')) == colon - 1
                          : text.indexOf(QLatin1Char(':')) == colon);
    if (hasPort) {
        bool ok = false;
        const uint port = text.sliced(colon + 1).toUInt(&ok);
        if (!ok || port > 65535)
            fail(QStringLiteral("--listen: bad port in \"%1\"").arg(text));
        result.port = quint16(port);
        host = text.first(colon);
    }
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.sliced(1, host.size() - 2);
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    if (!result.address.setAddress(host))
        fail(QStringLiteral("--listen: \"%1\" is not an IP address").arg(host));
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ql-t36-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Simulates a QL-T36 device for the maintenance tool: answers its commands over TCP, "
            "takes firmware blocks into memory and logs all traffic on standard output.\n"
            "Texts given to --garbage and --unsolicited may use \\r \\n \\t \\\\ and \\xHH.\n"
            "Block numbers K count Download commands from 0 since the simulator started."));
    parser.addHelpOption();

    const QCommandLineOption listenOption(
            QStringLiteral("listen"),
            QStringLiteral("Address and port to listen on (port 0 picks a free one, which the "
                           "log's first line names: \"listening on ADDRESS:PORT\")."),
            QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:%1").arg(DevicePort));
    const QCommandLineOption allowRemoteOption(
            QStringLiteral("allow-remote"),
            QStringLiteral("Allow --listen on an address other than loopback."));
    const QCommandLineOption versionOption(QStringLiteral("version-text"),
                                           QStringLiteral("Firmware version the device reports."),
                                           QStringLiteral("TEXT"), QStringLiteral("2.00"));
    const QCommandLineOption versionAfterOption(
            QStringLiteral("version-after-download"),
            QStringLiteral("Firmware version reported from the first connection opened after one "
                           "on which a block was written."),
            QStringLiteral("TEXT"));
    const QCommandLineOption macOption(QStringLiteral("mac"),
                                       QStringLiteral("Initial MAC address text."),
                                       QStringLiteral("TEXT"), QStringLiteral("00A0B1C2D3E4"));
    const QCommandLineOption addressesOption(
            QStringLiteral("addresses"),
            QStringLiteral("Initial device IP, DP-310 IP, subnet mask, gateway and multicast "
                           "address, comma-separated."),
            QStringLiteral("A,B,C,D,E"),
            QStringLiteral("192.168.0.10,192.168.0.20,255.255.255.0,192.168.0.254,239.0.0.1"));
    const QCommandLineOption delayOption(QStringLiteral("reply-delay"),
                                         QStringLiteral("Delay every reply by MS milliseconds."),
                                         QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption splitOption(
            QStringLiteral("split-at"),
            QStringLiteral("Send each reply as two TCP writes, the first BYTES long."),
            QStringLiteral("BYTES"), QStringLiteral("0"));
    const QCommandLineOption splitPauseOption(
            QStringLiteral("split-pause"),
            QStringLiteral("Pause between the two writes of a split reply."), QStringLiteral("MS"),
            QStringLiteral("100"));
    const QCommandLineOption byteSegmentsOption(
            QStringLiteral("byte-segments"),
            QStringLiteral("Send each reply one byte per write (overrides --split-at)."));
    const QCommandLineOption bytePauseOption(
            QStringLiteral("byte-pause"),
            QStringLiteral("Pause between the one-byte writes of --byte-segments."),
            QStringLiteral("MS"), QStringLiteral("10"));
    const QCommandLineOption blockResultOption(
            QStringLiteral("block-result"),
            QStringLiteral("Answer block K with ACK_DOWNLOAD: followed by PAYLOAD instead of "
                           "Result:1, e.g. 3=Result:0 or 2=Error:Flash; an empty PAYLOAD "
                           "withholds the result. Repeatable."),
            QStringLiteral("K=PAYLOAD"));
    const QCommandLineOption ignoreAnnounceOption(
            QStringLiteral("ignore-announce"),
            QStringLiteral("Ignore the announce of block K: no Size reply, no block taken. "
                           "Repeatable."),
            QStringLiteral("K"));
    const QCommandLineOption dropOption(
            QStringLiteral("drop-replies"),
            QStringLiteral("Don't send the replies to the first N commands that have one."),
            QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption closeAfterOption(
            QStringLiteral("close-after"),
            QStringLiteral("Close the connection (FIN) once, after the Nth command since start "
                           "and the reply to it."),
            QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption resetAfterOption(
            QStringLiteral("reset-after"),
            QStringLiteral("Like --close-after, but reset the connection (RST)."),
            QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption refuseSetsOption(
            QStringLiteral("refuse-sets"),
            QStringLiteral("Answer SetIP_ADR and SetMAC_ADR with failure and change nothing."));
    const QCommandLineOption garbageOption(QStringLiteral("garbage"),
                                           QStringLiteral("Write TEXT in front of every reply."),
                                           QStringLiteral("TEXT"));
    const QCommandLineOption unsolicitedOption(
            QStringLiteral("unsolicited"),
            QStringLiteral("Send the reply TEXT (CR LF appended) unasked after each connect."),
            QStringLiteral("TEXT"));
    const QCommandLineOption unsolicitedDelayOption(
            QStringLiteral("unsolicited-delay"),
            QStringLiteral("How long after the connect --unsolicited is sent."),
            QStringLiteral("MS"), QStringLiteral("1000"));

    parser.addOptions({ listenOption, allowRemoteOption, versionOption, macOption, addressesOption,
                        delayOption, splitOption, splitPauseOption, byteSegmentsOption,
                        bytePauseOption, blockResultOption, ignoreAnnounceOption, dropOption,
                        closeAfterOption, resetAfterOption, refuseSetsOption, garbageOption,
                        unsolicitedOption, unsolicitedDelayOption });
    parser.addOption(versionAfterOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\"")
                     .arg(parser.positionalArguments().first()));

    sim::DeviceSimulator device;
    device.setAllowRemote(parser.isSet(allowRemoteOption));
    device.setVersion(parser.value(versionOption).toLatin1());
    if (parser.isSet(versionAfterOption) && parser.value(versionAfterOption).isEmpty())
        fail(QStringLiteral("--version-after-download wants a version text"));
    device.setVersionAfterDownload(parser.value(versionAfterOption).toLatin1());
    device.setMacAddress(parser.value(macOption).toLatin1());
    if (!device.setAddresses(parser.value(addressesOption).toLatin1().split(',')))
        fail(QStringLiteral("--addresses wants exactly five comma-separated items"));

    device.setReplyDelay(nonNegative(parser, delayOption));
    device.setReplySplit(nonNegative(parser, splitOption), nonNegative(parser, splitPauseOption));
    device.setOneByteSegments(parser.isSet(byteSegmentsOption),
                              nonNegative(parser, bytePauseOption));
    for (const QString &item : parser.values(blockResultOption)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        bool ok = false;
        const int block = equals > 0 ? item.first(equals).toInt(&ok) : -1;
        if (!ok || block < 0)
            fail(QStringLiteral("--block-result wants K=PAYLOAD, not \"%1\"").arg(item));
        device.setBlockReply(block, item.sliced(equals + 1).toLatin1());
    }
    for (const QString &item : parser.values(ignoreAnnounceOption)) {
        bool ok = false;
        const int block = item.toInt(&ok);
        if (!ok || block < 0)
            fail(QStringLiteral("--ignore-announce wants a block number, not \"%1\"").arg(item));
        device.setIgnoredAnnounce(block);
    }
    device.dropReplies(nonNegative(parser, dropOption));
    if (parser.isSet(closeAfterOption) && parser.isSet(resetAfterOption))
        fail(QStringLiteral("--close-after and --reset-after exclude each other"));
    if (parser.isSet(resetAfterOption))
        device.closeAfterCommands(nonNegative(parser, resetAfterOption),
                                  sim::DeviceSimulator::CloseMode::Reset);
    else
        device.closeAfterCommands(nonNegative(parser, closeAfterOption));
    device.setRefuseSets(parser.isSet(refuseSetsOption));
    device.setReplyGarbage(escapedBytes(parser, garbageOption));
    device.setUnsolicitedOnConnect(escapedBytes(parser, unsolicitedOption),
                                   nonNegative(parser, unsolicitedDelayOption));

    QObject::connect(&device, &sim::DeviceSimulator::logMessage, &device,
                     [](const QString &text) { logLine(QLatin1Char('*'), text); });
    QObject::connect(&device, &sim::DeviceSimulator::commandReceived, &device, [](QByteArray line) {
        logLine(QLatin1Char('<'), sim::printable(line.append('\r')));
    });
    QObject::connect(
            &device, &sim::DeviceSimulator::dataSent, &device,
            [](const QByteArray &bytes) { logLine(QLatin1Char('>'), sim::printable(bytes)); });
    QObject::connect(&device, &sim::DeviceSimulator::blockReceived, &device,
                     [](const sim::BlockRecord &block) {
                         logLine(QLatin1Char('<'),
                                 QStringLiteral("[block #%1 at 0x%2, %3 bytes, crc32 0x%4, %5]")
                                         .arg(block.index)
                                         .arg(block.address, 8, 16, QLatin1Char('0'))
                                         .arg(block.length)
                                         .arg(block.crc32, 8, 16, QLatin1Char('0'))
                                         .arg(block.written ? QStringLiteral("written")
                                                            : QStringLiteral("not written")));
                     });

    const ListenAddress where = parseListen(parser.value(listenOption));
    if (!device.listen(where.address, where.port)) {
        QTextStream err(stderr);
        err << "ql-t36-sim: " << device.errorString() << Qt::endl;
        if (!where.address.isLoopback() && !device.allowRemote())
            err << "ql-t36-sim: --allow-remote permits a non-loopback address" << Qt::endl;
        return 1;
    }
    return QCoreApplication::exec();
}
