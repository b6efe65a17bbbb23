// flash: a firmware image to every device, with what a roll-out needs (a dry run, a version to
// skip and one to verify, canaries, a failure limit, retries) and what its report adds (each
// block, the image's checksums, the plan of a dry run).

#include "commands/Commands.h"
#include "commands/Fields.h"
#include "commands/FlashDownload.h"
#include "commands/Values.h"
#include "io/Console.h"
#include "report/Trace.h"
#include "run/Steps.h"

#include "download/FirmwareImage.h"
#include "platform/StreamRead.h"
#include "protocol/Commands.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

using download::DownloadSequence;

constexpr int DefaultSizeWaitMs = DownloadSequence::SizeWaitTicks * 100;
constexpr int DefaultResultWaitMs = DownloadSequence::ResultWaitTicks * 100;
constexpr int DefaultVerifyDelayMs = 5000;
constexpr int MaxRetries = 10;
constexpr int MaxFailuresLimit = 100000;

const ResultField BlocksField{
    QStringLiteral("blocks"),
    QStringLiteral("\"blocks\" ([{\"address\", \"length\", \"result\"}])"),
    [](const Outcome &outcome) {
        QJsonArray blocks;
        for (const BlockResult &block : outcome.blocks)
            blocks.append(QJsonObject{ { QStringLiteral("address"), qint64(block.address) },
                                       { QStringLiteral("length"), block.length },
                                       { QStringLiteral("result"), block.result } });
        return QJsonValue(blocks);
    },
    {},
    NoCells
};

const ResultField CutField{
    QStringLiteral("cut"),
    QStringLiteral("\"cut\" (null, or the block an interrupt cut: {\"address\", \"length\", "
                   "\"sent\" (bytes handed to the system, not all of which need have reached the "
                   "device)})"),
    [](const Outcome &outcome) {
        if (!outcome.cut)
            return QJsonValue(QJsonValue::Null);
        return QJsonValue(QJsonObject{ { QStringLiteral("address"), qint64(outcome.cut->address) },
                                       { QStringLiteral("length"), outcome.cut->length },
                                       { QStringLiteral("sent"), outcome.cut->sent } });
    },
    {},
    NoCells
};

const ResultField VersionAfterField{
    QStringLiteral("versionAfter"),
    QStringLiteral("\"versionAfter\" (flash: read on a new connection, or null)"),
    [](const Outcome &outcome) { return TextOrNull(outcome.versionAfter); },
    {},
    NoCells
};

const ResultField AttemptsField{ QStringLiteral("attempts"),
                                 QStringLiteral("\"attempts\""),
                                 [](const Outcome &outcome) {
                                     return QJsonValue(outcome.attempts);
                                 },
                                 {},
                                 NoCells };

QString Hex(quint32 value, int digits = 0)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

// A version text to compare with what a device reports, blanks at both ends aside.
OptionDef VersionText(const QString &name, const QString &help, std::optional<QString> &field)
{
    return OptionDef{ { name },
                      QStringLiteral("TEXT"),
                      help,
                      [name, &field](Invocation &, const QStringList &values) {
                          const QString text = values.constLast();
                          RequiredValue(text, QStringLiteral("--") + name, text.size());
                          field = protocol::Trim(text);
                      } };
}

class Flash final : public Command
{
public:
    Flash();

    void Prepare(Invocation &invocation, const QStringList &values) override;
    void Plan(DeviceJob &job) const override;
    QString SuccessText(const Outcome &outcome) const override;

    bool DryRun() const override { return m_dryRun; }
    std::optional<download::DownloadPlan> Download() const override;
    void AddToDocument(QJsonObject &document) const override;
    QString Note() const override;
    bool PlanReport() const override { return m_dryRun; }
    // With --skip-version a dry run reads each device's version, to say which it would flash.
    bool SendsNothing() const override { return m_dryRun && !m_skipVersion; }
    QString PlanText(const QList<Outcome> &outcomes, const RunFacts &run,
                     const DeviceText &deviceText) const override;

private:
    void ReadImage(Invocation &invocation, const QString &path);
    QJsonObject ImageEntry() const;

    QByteArray m_image; // at most what the download can write
    qint64 m_imageLength = 0; // the image's whole length
    quint32 m_baseAddress = download::MainBaseAddress;
    bool m_allowTruncation = false;
    // Nothing is sent, unless --skip-version has the versions read.
    bool m_dryRun = false;
    std::optional<QString> m_skipVersion; // a device that runs it already is left alone
    std::optional<QString> m_verifyVersion; // read on a new connection after the flash
    int m_verifyDelayMs = DefaultVerifyDelayMs;
    bool m_verifyDelayGiven = false;
    int m_sizeWaitMs = DefaultSizeWaitMs;
    int m_resultWaitMs = DefaultResultWaitMs;
    core::DeviceSession::DownloadPace m_pace = core::DeviceSession::DownloadPace::Ticks;
};

Flash::Flash()
{
    const qint64 blockKiB = DownloadSequence::BlockLength / 1024;
    const qint64 maxMiB = download::MaxImageLength / (1024 * 1024);
    const quint32 phase2Offset = DownloadSequence::Phase2FirstBlock * DownloadSequence::BlockLength;
    m_definition.name = QStringLiteral("flash");
    m_definition.arguments = { QStringLiteral("IMAGE") };
    m_definition.options = {
        Documented(Flag({ QStringLiteral("backup") },
                        QStringLiteral("phase 1 from %1, the backup area")
                                .arg(download::BackupBaseAddress),
                        [this](Invocation &) { m_baseAddress = download::BackupBaseAddress; }),
                   QStringLiteral("Write the first phase to the backup area (address %1).")
                           .arg(download::BackupBaseAddress)),
        Documented(Flag({ QStringLiteral("allow-truncation") },
                        QStringLiteral("flash an image longer than %1 MiB anyway (only its first "
                                       "%1 MiB are written)")
                                .arg(maxMiB),
                        [this](Invocation &) { m_allowTruncation = true; }),
                   QStringLiteral("Flash an image longer than %1\\ MiB anyway: only its first "
                                  "%1\\ MiB are written.")
                           .arg(maxMiB)),
        Documented(Flag({ QStringLiteral("dry-run") },
                        QStringLiteral("print the plan (devices, blocks with address, length and "
                                       "CRC-32, bytes not written) and send nothing; with "
                                       "--skip-version, read each device's version and say which "
                                       "would be flashed (\"planned\") and which \"skipped\""),
                        [this](Invocation &) { m_dryRun = true; }),
                   QStringLiteral("Print the plan and send nothing; with\n"
                                  ".BR \\-\\-skip\\-version ,\n"
                                  "read each device's version (and send nothing else) and report "
                                  "those that would\n"
                                  "be flashed \"planned\" and the others \"skipped\".")),
        Documented(VersionText(QStringLiteral("skip-version"),
                               QStringLiteral("read the version first, twice on the connection "
                                              "(the answers must agree, or the device fails); a "
                                              "device that runs TEXT already is \"skipped\" (a "
                                              "success)"),
                               m_skipVersion),
                   QStringLiteral("Read the version first, twice, each answer after its own "
                                  "command; a device\n"
                                  "whose two answers differ fails, naming both; one that runs\n"
                                  ".I TEXT\n"
                                  "already is reported \"skipped\", a success.")),
        Documented(VersionText(QStringLiteral("verify-version"),
                               QStringLiteral("after the flash, read the version twice on a new "
                                              "connection; a device whose answers differ or are "
                                              "not TEXT fails"),
                               m_verifyVersion),
                   QStringLiteral("After the flash, read the version twice on a new connection; "
                                  "a device whose\n"
                                  "answers differ, or are not\n"
                                  ".IR TEXT ,\n"
                                  "fails.")),
        Documented(Seconds(
                           { QStringLiteral("verify-delay") },
                           QStringLiteral("with --verify-version, the wait before the new "
                                          "connection"),
                           MaxTimeoutSeconds, DefaultVerifyDelayMs,
                           [this](Invocation &) -> int & {
                               m_verifyDelayGiven = true;
                               return m_verifyDelayMs;
                           },
                           true),
                   QStringLiteral("With\n"
                                  ".BR \\-\\-verify\\-version ,\n"
                                  "the wait before that connection, 0 to %1 (default %2).")
                           .arg(MaxTimeoutSeconds)
                           .arg(DefaultVerifyDelayMs / 1000)),
        Documented(Integer({ QStringLiteral("max-failures") }, QStringLiteral("N"),
                           QStringLiteral("once N devices have failed, start no further one (they "
                                          "are \"not started\"; up to -j devices are under way "
                                          "when a failure becomes known, so up to N+j-1 may fail: "
                                          "see --canary); 0 for no limit"),
                           0, MaxFailuresLimit, 0,
                           [](Invocation &invocation) -> int & {
                               return invocation.fleet.maxFailures;
                           }),
                   QStringLiteral("Once\n"
                                  ".I N\n"
                                  "devices have failed, start no further device: those left are "
                                  "reported \"not\n"
                                  "started\" and the run fails.\n"
                                  "Up to\n"
                                  ".B \\-\\-jobs\n"
                                  "devices are under way when a failure becomes known, so up to\n"
                                  ".IR N + j \\-1\n"
                                  "may fail; a canary, or a smaller\n"
                                  ".BR \\-\\-jobs ,\n"
                                  "bounds it tighter.")),
        Documented(Integer({ QStringLiteral("canary") }, QStringLiteral("K"),
                           QStringLiteral("the first K devices (in the order given, up to -j at "
                                          "once) are done before any other starts; the others "
                                          "start only if all K succeeded, else they are \"not "
                                          "started\"; 0 for none"),
                           0, MaxFailuresLimit, 0,
                           [](Invocation &invocation) -> int & { return invocation.fleet.canary; }),
                   QStringLiteral("The first\n"
                                  ".I K\n"
                                  "devices, in the order given (up to\n"
                                  ".B \\-\\-jobs\n"
                                  "at once), are done before any other starts; the others start "
                                  "only if all\n"
                                  ".I K\n"
                                  "succeeded (a skipped device succeeds), and are reported \"not "
                                  "started\"\n"
                                  "otherwise.")),
        Documented(Integer({ QStringLiteral("retries") }, QStringLiteral("N"),
                           QStringLiteral("try a device again, after a short back-off, whose "
                                          "connection failed, or ended before the device answered "
                                          "anything, or whose first announce got no size "
                                          "acknowledgement; never once a block byte was written"),
                           0, MaxRetries, 0,
                           [](Invocation &invocation) -> int & { return invocation.job.retries; }),
                   QStringLiteral("Try a device again, up to\n"
                                  ".I N\n"
                                  "times (0 to %1, default 0) after a short back\\-off, when its "
                                  "connection failed,\n"
                                  "or ended or was reset before the device answered anything, or "
                                  "its first\n"
                                  "announce got no size acknowledgement; never once a byte of a "
                                  "block was\n"
                                  "written.")
                           .arg(MaxRetries)),
        Documented(OptionDef{ { QStringLiteral("pace") },
                              QStringLiteral("PACE"),
                              QStringLiteral("\"ticks\" (the default): a step of the download "
                                             "per 0.1 s, as the windows do, the pacing devices "
                                             "have been used with; \"replies\": each step as "
                                             "soon as the device has answered the one before "
                                             "(the same bytes in the same order, and the same "
                                             "waits), which assumes the device is ready once it "
                                             "has answered"),
                              [this](Invocation &, const QStringList &values) {
                                  using Pace = core::DeviceSession::DownloadPace;
                                  if (values.constLast() == QLatin1String("ticks"))
                                      m_pace = Pace::Ticks;
                                  else if (values.constLast() == QLatin1String("replies"))
                                      m_pace = Pace::Replies;
                                  else
                                      Fail(QStringLiteral("--pace wants \"ticks\" or "
                                                          "\"replies\", not \"%1\"")
                                                   .arg(values.constLast()));
                              } },
                   QStringLiteral("How the download steps on.\n"
                                  ".B ticks\n"
                                  "(the default) takes a step every 0.1\\ s, as the windows do: "
                                  "the pacing devices\n"
                                  "have been used with, five steps a block.\n"
                                  ".B replies\n"
                                  "takes each step as soon as the device has answered the one "
                                  "before: the block\n"
                                  "right after its size acknowledgement, the next announce right "
                                  "after the\n"
                                  "result.\n"
                                  "The device gets the same bytes in the same order and the waits "
                                  "are the same;\n"
                                  "only the idle time goes.\n"
                                  "It assumes that a device is ready for the next step once it "
                                  "has answered.")),
        Documented(Seconds({ QStringLiteral("size-timeout") },
                           QStringLiteral("the wait for a block's size acknowledgement, in steps "
                                          "of 0.1 s"),
                           MaxTimeoutSeconds, DefaultSizeWaitMs,
                           [this](Invocation &) -> int & { return m_sizeWaitMs; }),
                   QStringLiteral("The wait for a block's size acknowledgement, in steps of "
                                  "0.1\\ s (default %1).")
                           .arg(DefaultSizeWaitMs / 1000)),
        Documented(Seconds({ QStringLiteral("result-timeout") },
                           QStringLiteral("the wait for a block's result, in steps of 0.1 s"),
                           MaxTimeoutSeconds, DefaultResultWaitMs,
                           [this](Invocation &) -> int & { return m_resultWaitMs; }),
                   QStringLiteral("The wait for a block's result, in steps of 0.1\\ s (default "
                                  "%1).")
                           .arg(DefaultResultWaitMs / 1000)),
    };
    m_definition.help = QStringLiteral("download a firmware image: up to %1 blocks of %2 KiB from "
                                       "0x%3, then the image's bytes from 0x%4 to addresses 0 and "
                                       "0x%5")
                                .arg(DownloadSequence::Phase1Blocks)
                                .arg(blockKiB)
                                .arg(download::MainBaseAddress, 0, 16)
                                .arg(phase2Offset, 0, 16)
                                .arg(DownloadSequence::BlockLength, 0, 16);
    m_definition.manual =
            QStringLiteral("Download a firmware image: up to %1 blocks of %2\\ KiB from address "
                           "0x%3\n"
                           "(with\n"
                           ".BR \\-\\-backup :\n"
                           "from %4, the backup area), then the image's bytes from 0x%5 to "
                           "device\n"
                           "addresses 0 and 0x%6.\n"
                           "An image longer than %7\\ MiB is refused unless\n"
                           ".B \\-\\-allow\\-truncation\n"
                           "is given.\n"
                           ".I IMAGE\n"
                           "may be a pipe, or \\- for standard input: it is read to its end.\n"
                           "Its options, under FLASH OPTIONS, include those of a roll\\-out\n"
                           ".RB ( \\-\\-dry\\-run ,\n"
                           ".BR \\-\\-skip\\-version ,\n"
                           ".BR \\-\\-verify\\-version ,\n"
                           ".BR \\-\\-max\\-failures ,\n"
                           ".BR \\-\\-canary ,\n"
                           ".BR \\-\\-retries )\n"
                           "and the waits.")
                    .arg(DownloadSequence::Phase1Blocks)
                    .arg(blockKiB)
                    .arg(download::MainBaseAddress, 0, 16)
                    .arg(download::BackupBaseAddress)
                    .arg(phase2Offset, 0, 16)
                    .arg(DownloadSequence::BlockLength, 0, 16)
                    .arg(maxMiB);
    m_definition.fields = { &BlocksField, &CutField, &VersionField, &VersionAfterField,
                            &AttemptsField };
}

// The image as the update window loads it, cut to what the download can write: the bytes past
// it never go out, so they are not kept. A stream (a pipe, "-" for standard input) is read to
// its end, for its length.
void Flash::ReadImage(Invocation &invocation, const QString &path)
{
    const QFileInfo info(path);
    QByteArray bytes;
    qint64 length = 0;
    if (path == QLatin1String("-") || (info.exists() && !info.isFile() && !info.isDir())) {
        const platform::StreamContents stream =
                platform::ReadStream(path, download::MaxImageLength);
        if (stream.signalNumber != 0) {
            invocation.signalNumber = stream.signalNumber; // the run ends as interrupted
            return;
        }
        if (!stream.error.isEmpty())
            Fail(QStringLiteral("cannot read the image %1: %2").arg(path, stream.error));
        bytes = stream.bytes;
        length = stream.total;
    } else {
        if (info.isDir())
            Fail(QStringLiteral("the image %1 is not a regular file").arg(path));
        const download::ImageFile file = download::ReadImageFile(path, download::MaxImageLength);
        if (!file.ok)
            Fail(QStringLiteral("cannot read the image %1: %2").arg(path, file.error));
        if (file.bytes.size() != std::min(file.fileLength, download::MaxImageLength))
            Fail(QStringLiteral("cannot read the image %1: %2 of its %3 bytes read")
                         .arg(path)
                         .arg(file.bytes.size())
                         .arg(file.fileLength));
        bytes = file.bytes;
        length = file.fileLength;
    }
    if (length <= 0)
        Fail(QStringLiteral("the image %1 is empty").arg(path));
    if (download::BytesNotWritten(length) > 0 && !m_allowTruncation)
        Fail(QStringLiteral("the image %1 is %2 bytes, but only its first %3 can be written "
                            "(--allow-truncation writes them anyway)")
                     .arg(path)
                     .arg(length)
                     .arg(download::MaxImageLength));
    m_image = bytes;
    m_imageLength = length;
}

void Flash::Prepare(Invocation &invocation, const QStringList &values)
{
    ReadImage(invocation, values[0]);
    if (m_verifyDelayGiven && !m_verifyVersion)
        Fail(QStringLiteral("--verify-delay goes with --verify-version"));
}

void Flash::Plan(DeviceJob &job) const
{
    if (m_skipVersion) {
        job.Then(steps::ReadVersion());
        job.Then(steps::ConfirmVersion(&Outcome::version));
        job.Then(steps::Check([skip = m_skipVersion](DeviceJob &read) {
            if (read.Values().version == skip)
                read.Finish(QStringLiteral("skipped"));
            else
                read.StepDone();
        }));
    }
    if (m_dryRun) {
        job.Then(steps::Check(
                [](DeviceJob &planned) { planned.Finish(QStringLiteral("planned")); }));
        return;
    }
    job.Then(steps::Download(m_image, m_baseAddress, m_sizeWaitMs, m_resultWaitMs, m_pace));
    if (m_verifyVersion) {
        // The device may restart into the new firmware: a connection of its own, later.
        job.Then(steps::Disconnect(m_verifyDelayMs));
        job.Then(steps::Connect());
        job.Then(steps::ReadVersion(&Outcome::versionAfter));
        job.Then(steps::ConfirmVersion(&Outcome::versionAfter));
        job.Then(steps::Check([verify = *m_verifyVersion](DeviceJob &read) {
            const QString after = read.Values().versionAfter.value_or(QString());
            if (after == verify)
                read.StepDone();
            else
                read.Fail(QStringLiteral("the version after the flash is \"%1\", not \"%2\"")
                                  .arg(after, verify));
        }));
    }
}

QString Flash::SuccessText(const Outcome &outcome) const
{
    if (outcome.status == QLatin1String("skipped"))
        return QStringLiteral("skipped: runs ") + outcome.version.value_or(QString());
    if (outcome.status == QLatin1String("planned"))
        return outcome.version ? QStringLiteral("planned: runs ") + *outcome.version
                               : QStringLiteral("planned");
    qint64 bytes = 0;
    for (const BlockResult &block : outcome.blocks)
        bytes += block.length;
    QString text = QStringLiteral("Update Complete: %1 %2, %3 bytes")
                           .arg(outcome.blocks.size())
                           .arg(outcome.blocks.size() == 1 ? QStringLiteral("block")
                                                           : QStringLiteral("blocks"))
                           .arg(bytes);
    if (outcome.versionAfter)
        text += QStringLiteral("; runs ") + *outcome.versionAfter;
    if (outcome.attempts > 1)
        text += QStringLiteral("; %1 attempts").arg(outcome.attempts);
    return text;
}

std::optional<download::DownloadPlan> Flash::Download() const
{
    if (m_image.isEmpty())
        return std::nullopt;
    return download::PlanDownload(m_image.size(), m_baseAddress);
}

QJsonObject Flash::ImageEntry() const
{
    QJsonArray blocks;
    for (const download::PlannedBlock &block :
         download::PlanDownload(m_image.size(), m_baseAddress).blocks) {
        const QByteArrayView bytes = QByteArrayView(m_image).sliced(block.offset, block.length);
        blocks.append(QJsonObject{ { QStringLiteral("phase"), block.phase },
                                   { QStringLiteral("address"), qint64(block.address) },
                                   { QStringLiteral("offset"), block.offset },
                                   { QStringLiteral("length"), block.length },
                                   { QStringLiteral("crc32"), qint64(Crc32(bytes)) } });
    }
    // Of what is written: the image's bytes past the limit never reach a device.
    const QByteArray sha256 = QCryptographicHash::hash(m_image, QCryptographicHash::Sha256);
    return QJsonObject{ { QStringLiteral("length"), m_imageLength },
                        { QStringLiteral("notWritten"), m_imageLength - m_image.size() },
                        { QStringLiteral("sha256"), QString::fromLatin1(sha256.toHex()) },
                        { QStringLiteral("blocks"), blocks } };
}

void Flash::AddToDocument(QJsonObject &document) const
{
    // None when a signal ended the wait for a piped image.
    if (m_imageLength > 0)
        document.insert(QStringLiteral("image"), ImageEntry());
}

QString Flash::Note() const
{
    const qint64 written = m_image.size();
    const qint64 notWritten = m_imageLength - written;
    if (m_imageLength == 0 || notWritten <= 0)
        return QString();
    return QStringLiteral("The image is %1 bytes long; a flash writes its first %2, so its last "
                          "%3 %4 not written.\n")
            .arg(m_imageLength)
            .arg(written)
            .arg(notWritten)
            .arg(notWritten == 1 ? QStringLiteral("byte is") : QStringLiteral("bytes are"));
}

QString Flash::PlanText(const QList<Outcome> &outcomes, const RunFacts &run,
                        const DeviceText &deviceText) const
{
    const QJsonObject image = ImageEntry();
    // With --skip-version the devices were asked their version, and nothing else.
    const bool read = !SendsNothing();
    QString text = QStringLiteral("Dry run: %1\nImage: %2 bytes, SHA-256 %3\n")
                           .arg(read ? QStringLiteral("only version reads are sent.")
                                     : QStringLiteral("nothing is sent."))
                           .arg(m_imageLength)
                           .arg(image.value(QLatin1String("sha256")).toString());
    const download::DownloadPlan plan = download::PlanDownload(m_image.size(), m_baseAddress);
    const QJsonArray blocks = image.value(QLatin1String("blocks")).toArray();
    text += QStringLiteral("Blocks, each sent to every device:\n");
    for (qsizetype i = 0; i < plan.blocks.size(); ++i) {
        const download::PlannedBlock &block = plan.blocks[i];
        text += QStringLiteral("  phase %1  address %2  length %3  from offset %4  CRC-32 %5\n")
                        .arg(block.phase)
                        .arg(Hex(block.address, 8), Hex(quint32(block.length)),
                             Hex(quint32(block.offset)),
                             Hex(quint32(blocks[i][QLatin1String("crc32")].toInteger()), 8));
    }
    text += QStringLiteral("%1 bytes in %2 %3; %4 bytes of the image not written.\n")
                    .arg(plan.bytes)
                    .arg(plan.blocks.size())
                    .arg(plan.blocks.size() == 1 ? QStringLiteral("block")
                                                 : QStringLiteral("blocks"))
                    .arg(download::BytesNotWritten(m_imageLength));
    text += QStringLiteral("Devices (%1, up to %2 at once):\n")
                    .arg(outcomes.size())
                    .arg(run.fleet.jobs);
    for (const Outcome &outcome : outcomes) {
        text += QStringLiteral("  ") + outcome.target.Label();
        if (read)
            text += QStringLiteral("  ") + deviceText(outcome);
        text += QLatin1Char('\n');
    }
    if (m_skipVersion)
        text += QStringLiteral("Each device's version is read first, twice; one that runs %1 is "
                               "skipped.\n")
                        .arg(EscapedText(*m_skipVersion));
    if (run.fleet.canary > 0)
        text += QStringLiteral("The first %1 device(s) are done before any other starts; the "
                               "others start only if all of them succeeded.\n")
                        .arg(run.fleet.canary);
    if (m_verifyVersion)
        text += QStringLiteral("After its flash, each device's version is read on a new "
                               "connection %1 s later and must be %2.\n")
                        .arg(m_verifyDelayMs / 1000.0)
                        .arg(EscapedText(*m_verifyVersion));
    if (run.fleet.maxFailures > 0)
        text += QStringLiteral("Once %1 device(s) have failed, no further device is started.\n")
                        .arg(run.fleet.maxFailures);
    if (run.job.retries > 0)
        text += QStringLiteral("A device whose connection fails or ends before it answered, or "
                               "whose first announce gets no size acknowledgement, is tried up "
                               "to %1 more time(s).\n")
                        .arg(run.job.retries);
    if (m_pace == core::DeviceSession::DownloadPace::Replies)
        text += QStringLiteral("Each step of the download is taken as soon as the device has "
                               "answered the one before.\n");
    text += QStringLiteral("Waits: connect %1 s, size acknowledgement %2 s, result %3 s.\n")
                    .arg(run.job.connectTimeoutMs / 1000.0)
                    .arg(std::ceil(m_sizeWaitMs / 100.0) / 10)
                    .arg(std::ceil(m_resultWaitMs / 100.0) / 10);
    return text;
}

} // namespace

std::shared_ptr<Command> MakeFlash()
{
    return std::make_shared<Flash>();
}

} // namespace cli
