#include "support/Images.h"
#include "download/DownloadSequence.h"
#include "download/FirmwareImage.h"
#include "protocol/Replies.h"

#include <QtTest>

#include <initializer_list>
#include <memory>
#include <utility>

using download::DownloadSequence;

// One block as the device must see it: announced address and length, and the image offset its
// bytes come from.
struct Block
{
    quint32 address = 0;
    qsizetype offset = 0;
    qsizetype length = 0;
};

Q_DECLARE_METATYPE(Block)
Q_DECLARE_METATYPE(QList<Block>)

namespace {

constexpr qsizetype FullBlock = 0x20000;
// More ticks than any sequence can take (18 blocks of 5 ticks, or the longest waits).
constexpr qsizetype MaxTicks = 5000;

bool isAnnounce(const QByteArray &bytes)
{
    return bytes.startsWith("Download(0x") && bytes.endsWith(")\r") && bytes.size() < 64;
}

QString escaped(QString text)
{
    return text.replace(QLatin1Char('\r'), QStringLiteral("\\r"))
            .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

QStringList trace(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list.append(QString::fromLatin1(item));
    return list;
}

QList<Block> fullBlocks(quint32 base, int count)
{
    QList<Block> blocks;
    for (int n = 0; n < count; ++n)
        blocks.append({ base + static_cast<quint32>(n) * 0x20000u, n * FullBlock, FullBlock });
    return blocks;
}

const QList<Block> FullPhase2 = { { 0x00000u, 0x40000, FullBlock },
                                  { 0x20000u, 0x60000, FullBlock } };

// The worked example: four and a half blocks from 0x1000000, then the two phase 2 blocks.
const QList<QByteArray> WorkedAnnounces = {
    "Download(0x01000000,0x20000)\r", "Download(0x01020000,0x20000)\r",
    "Download(0x01040000,0x20000)\r", "Download(0x01060000,0x20000)\r",
    "Download(0x01080000,0x10000)\r", "Download(0x00000000,0x20000)\r",
    "Download(0x00020000,0x20000)\r",
};
const QList<qsizetype> WorkedOffsets = { 0, 0x20000, 0x40000, 0x60000, 0x80000, 0x40000, 0x60000 };
const QList<qsizetype> WorkedLengths = { FullBlock, FullBlock, FullBlock, FullBlock,
                                         0x10000,   FullBlock, FullBlock };
constexpr qsizetype WorkedLength = 4 * FullBlock + FullBlock / 2;
constexpr quint32 NormalBase = 0x1000000;

struct PortCall
{
    enum Kind { Send, Poll, Status, Progress, Stop };
    Kind kind = Send;
    QByteArray bytes;
    QString text;
};

// Records what the sequence writes and what it signals, in one order.
class RecordingPort final : public download::DownloadLink
{
public:
    void SendCommand(QByteArrayView bytes) override
    {
        PortCall call;
        call.kind = PortCall::Send;
        call.bytes = bytes.toByteArray();
        calls.append(call);
    }
    void StartReceivePolling() override { calls.append({ PortCall::Poll, {}, {} }); }

    void Watch(DownloadSequence &seq)
    {
        QObject::connect(&seq, &DownloadSequence::statusChanged, [this](const QString &text) {
            calls.append({ PortCall::Status, {}, text });
        });
        QObject::connect(&seq, &DownloadSequence::progressed, [this] {
            calls.append({ PortCall::Progress, {}, {} });
        });
        QObject::connect(&seq, &DownloadSequence::stopped, [this] {
            calls.append({ PortCall::Stop, {}, {} });
        });
    }

    QList<PortCall> calls;
};

// Blocks are named by where their bytes sit in `image`, so a trace reads "block 0x40000+0x20000".
QString describe(const PortCall &call, const QByteArray &image)
{
    switch (call.kind) {
    case PortCall::Send: {
        if (isAnnounce(call.bytes))
            return QStringLiteral("send ") + escaped(QString::fromLatin1(call.bytes));
        const qsizetype at = call.bytes.isEmpty() ? -1 : image.indexOf(call.bytes);
        if (at < 0)
            return QStringLiteral("send %1 bytes not from the image").arg(call.bytes.size());
        return QStringLiteral("send block 0x%1+0x%2").arg(at, 0, 16).arg(call.bytes.size(), 0, 16);
    }
    case PortCall::Poll:
        return QStringLiteral("poll");
    case PortCall::Status:
        return QStringLiteral("status ") + escaped(call.text);
    case PortCall::Progress:
        return QStringLiteral("progress");
    case PortCall::Stop:
        return QStringLiteral("stopped");
    }
    return {};
}

QStringList describe(const QList<PortCall> &calls, const QByteArray &image)
{
    QStringList list;
    for (const PortCall &call : calls)
        list.append(describe(call, image));
    return list;
}

// Every send must be followed by StartReceivePolling, and polling never starts on its own.
QString pairingFault(const QList<PortCall> &calls)
{
    for (qsizetype i = 0; i < calls.size(); ++i) {
        if (calls[i].kind == PortCall::Send
            && (i + 1 >= calls.size() || calls[i + 1].kind != PortCall::Poll))
            return QStringLiteral("call %1: a send without StartReceivePolling right after").arg(i);
        if (calls[i].kind == PortCall::Poll && (i == 0 || calls[i - 1].kind != PortCall::Send))
            return QStringLiteral("call %1: StartReceivePolling without a send before it").arg(i);
    }
    return {};
}

struct TickRecord
{
    int stateBefore = 0;
    int stateAfter = 0;
    int busyAfter = 0;
    quint32 baseAfter = 0;
    QByteArray replyAfter;
    QList<PortCall> calls;
};

// The sequence with its port, stepped by hand; replies are delivered between ticks the way the
// main window's handler does it.
class Rig
{
public:
    RecordingPort port;
    DownloadSequence seq{ port };
    QList<TickRecord> ticks;

    Rig() { port.Watch(seq); }

    void start(const QByteArray &image, quint32 baseAddress)
    {
        stopsBefore = count(PortCall::Stop);
        seq.Start(image, baseAddress);
    }

    TickRecord tick()
    {
        TickRecord record;
        record.stateBefore = int(seq.DownloadState());
        const qsizetype first = port.calls.size();
        seq.Tick();
        record.stateAfter = int(seq.DownloadState());
        record.busyAfter = seq.DownloadBusy();
        record.baseAfter = seq.BaseAddress();
        record.replyAfter = seq.ReplyText();
        record.calls = port.calls.mid(first);
        ticks.append(record);
        return record;
    }

    void deliver(QByteArrayView payload)
    {
        seq.SetReplyText(protocol::TranslateDownloadReply(payload, seq.ReplyText()));
    }

    // A device that accepts everything: a size acknowledgement for an announce, success for a block.
    void answer(const QByteArray &sent)
    {
        if (isAnnounce(sent))
            deliver("Size:131072\r");
        else
            deliver("Result:1\r");
    }

    void answerLastSend()
    {
        const QList<QByteArray> all = sends();
        if (!all.isEmpty())
            answer(all.last());
    }

    // Ticks with every send answered at once, until the sequence stops or a tick brings the
    // number of sends to `sendLimit`; that tick's sends stay unanswered.
    void run(qsizetype sendLimit = -1)
    {
        while (!stopped() && ticks.size() < MaxTicks) {
            if (sendLimit >= 0 && sends().size() >= sendLimit)
                return;
            const TickRecord record = tick();
            if (sendLimit >= 0 && sends().size() >= sendLimit)
                return;
            for (const PortCall &call : record.calls) {
                if (call.kind == PortCall::Send)
                    answer(call.bytes);
            }
        }
    }

    // Answers as run() does until the sequence is about to run `state`.
    void runToState(int state)
    {
        while (!stopped() && ticks.size() < MaxTicks) {
            if (!ticks.isEmpty() && int(seq.DownloadState()) == state)
                return;
            const TickRecord record = tick();
            for (const PortCall &call : record.calls) {
                if (call.kind == PortCall::Send)
                    answer(call.bytes);
            }
        }
    }

    // Ticks without any reply until the sequence stops; returns the ticks taken.
    int silentUntilStopped(int limit = 200)
    {
        int taken = 0;
        while (!stopped() && taken < limit) {
            tick();
            ++taken;
        }
        return taken;
    }

    QList<PortCall> callsOf(PortCall::Kind kind) const
    {
        QList<PortCall> found;
        for (const PortCall &call : port.calls) {
            if (call.kind == kind)
                found.append(call);
        }
        return found;
    }
    QList<QByteArray> sends() const
    {
        QList<QByteArray> found;
        for (const PortCall &call : callsOf(PortCall::Send))
            found.append(call.bytes);
        return found;
    }
    QList<QByteArray> announces() const
    {
        QList<QByteArray> found;
        for (const QByteArray &bytes : sends()) {
            if (isAnnounce(bytes))
                found.append(bytes);
        }
        return found;
    }
    QList<PortCall> blockSends() const
    {
        QList<PortCall> found;
        for (const PortCall &call : callsOf(PortCall::Send)) {
            if (!isAnnounce(call.bytes))
                found.append(call);
        }
        return found;
    }
    QStringList statuses() const
    {
        QStringList found;
        for (const PortCall &call : callsOf(PortCall::Status))
            found.append(call.text);
        return found;
    }
    QString lastStatus() const
    {
        const QStringList all = statuses();
        return all.isEmpty() ? QString() : all.last();
    }
    qsizetype count(PortCall::Kind kind) const { return callsOf(kind).size(); }
    // Stopped since the last start.
    bool stopped() const { return count(PortCall::Stop) > stopsBefore; }

private:
    qsizetype stopsBefore = 0;
};

enum Outcome { Success, Failure, StillWaiting };

void setReply(Rig &rig, const QByteArray &reply, bool direct)
{
    if (direct)
        rig.seq.SetReplyText(reply);
    else
        rig.deliver(reply);
}

} // namespace

class TestDownloadSequence final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startOnlyArms();
    void workedExample();
    void blocksGoStraightFromTheImage();
    void fullRun_data();
    void fullRun();
    void endOfPhaseStates_data();
    void endOfPhaseStates();
    void emptyImage();
    void phase1Result_data();
    void phase1Result();
    void phase2Result_data();
    void phase2Result();
    void noSizeAcknowledgement_data();
    void noSizeAcknowledgement();
    void sizeWaitBoundary_data();
    void sizeWaitBoundary();
    void noResult_data();
    void noResult();
    void resultWaitBoundary_data();
    void resultWaitBoundary();
    void resultDuringSizeWait_data();
    void resultDuringSizeWait();
    void staleReplyIsEmptiedBySend_data();
    void staleReplyIsEmptiedBySend();
    void busyUntilStop_data();
    void busyUntilStop();
    void imageKept_data();
    void imageKept();
    void restartAfterStop();
    void otherCommandsHeldInsideEachBlock_data();
    void otherCommandsHeldInsideEachBlock();

private:
    static void resultTable();
    static void waitTable(const QList<int> &silentTicks, int limit);
};

void TestDownloadSequence::startOnlyArms()
{
    Rig rig;
    QCOMPARE(rig.seq.DownloadBusy(), 0);
    QCOMPARE(int(rig.seq.DownloadState()), 0);

    rig.start(testsupport::PatternedImage(WorkedLength), NormalBase);
    // The first step belongs to the first tick.
    QCOMPARE(rig.seq.DownloadBusy(), 1);
    QCOMPARE(int(rig.seq.DownloadState()), 0);
    QCOMPARE(rig.seq.BaseAddress(), NormalBase);
    QVERIFY(rig.port.calls.isEmpty());

    const TickRecord first = rig.tick();
    QVERIFY(first.calls.isEmpty());
    QCOMPARE(first.stateAfter, 1);
    QCOMPARE(static_cast<qsizetype>(rig.seq.DownloadLength()), WorkedLength);
}

void TestDownloadSequence::workedExample()
{
    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.run();
    QVERIFY(rig.stopped());

    QCOMPARE(rig.announces(), WorkedAnnounces);
    const QList<PortCall> blocks = rig.blockSends();
    QCOMPARE(blocks.size(), WorkedOffsets.size());
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        QVERIFY2(blocks[i].bytes == image.mid(WorkedOffsets[i], WorkedLengths[i]),
                 qPrintable(QStringLiteral("block %1 is not image[0x%2, +0x%3)")
                                    .arg(i)
                                    .arg(WorkedOffsets[i], 0, 16)
                                    .arg(WorkedLengths[i], 0, 16)));
    }

    // Tick by tick: announce, size acknowledgement read, bytes, result, next block.
    QList<QStringList> expected;
    expected << QStringList(); // state 0
    for (qsizetype i = 0; i < WorkedAnnounces.size(); ++i) {
        expected << (QStringList(QStringLiteral("send ")
                                 + escaped(QString::fromLatin1(WorkedAnnounces[i])))
                     << QStringLiteral("poll") << QStringLiteral("status Update Start"))
                 << QStringList()
                 << (QStringList(QStringLiteral("send block 0x%1+0x%2")
                                         .arg(WorkedOffsets[i], 0, 16)
                                         .arg(WorkedLengths[i], 0, 16))
                     << QStringLiteral("poll") << QStringLiteral("status Data Send"))
                 << trace({ "status Update Complete" }) << QStringList();
        if (i == 4) {
            // Block number 5 has nothing left, then phase 2 is prepared.
            expected << QStringList() << QStringList();
        }
    }
    expected << trace({ "stopped" });

    QCOMPARE(rig.ticks.size(), qsizetype(39));
    for (qsizetype i = 0; i < rig.ticks.size(); ++i) {
        const QStringList actual = describe(rig.ticks[i].calls, image);
        QVERIFY2(actual == expected[i],
                 qPrintable(QStringLiteral("tick %1 (state %2): got [%3], expected [%4]")
                                    .arg(i + 1)
                                    .arg(rig.ticks[i].stateBefore)
                                    .arg(actual.join(QStringLiteral(", ")),
                                         expected[i].join(QStringLiteral(", ")))));
    }

    QList<int> expectedStates{ 0 };
    for (int n = 0; n < 5; ++n)
        expectedStates << 1 << 2 << 3 << 4 << 5;
    expectedStates << 1 << 6;
    for (int n = 0; n < 2; ++n)
        expectedStates << 7 << 8 << 9 << 10 << 11;
    expectedStates << 12;
    QList<int> states;
    for (const TickRecord &record : rig.ticks)
        states << record.stateBefore;
    QCOMPARE(states, expectedStates);

    // Each send empties the reply before any wait reads it.
    for (const TickRecord &record : rig.ticks) {
        for (const PortCall &call : record.calls) {
            if (call.kind == PortCall::Send)
                QVERIFY(record.replyAfter.isEmpty());
        }
    }
    QVERIFY2(pairingFault(rig.port.calls).isEmpty(), qPrintable(pairingFault(rig.port.calls)));
    QCOMPARE(rig.lastStatus(), QStringLiteral("Update Complete"));
    QCOMPARE(rig.count(PortCall::Progress), qsizetype(0));
    QCOMPARE(rig.count(PortCall::Stop), qsizetype(1));
    QCOMPARE(rig.seq.DownloadBusy(), 0);
    QCOMPARE(int(rig.seq.DownloadState()), 0);
}

void TestDownloadSequence::blocksGoStraightFromTheImage()
{
    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.run();
    const QList<PortCall> blocks = rig.blockSends();
    QCOMPARE(blocks.size(), WorkedOffsets.size());
    for (qsizetype i = 0; i < blocks.size(); ++i)
        QVERIFY(blocks[i].bytes == image.mid(WorkedOffsets[i], blocks[i].bytes.size()));
}

void TestDownloadSequence::fullRun_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<quint32>("base");
    QTest::addColumn<QList<Block>>("blocks");
    QTest::addColumn<int>("ticks");

    QTest::newRow("empty image") << qsizetype(0) << NormalBase << QList<Block>() << 3;
    QTest::newRow("one byte") << qsizetype(1) << NormalBase << QList<Block>{ { NormalBase, 0, 1 } }
                              << 10;
    QTest::newRow("0x1a0 bytes") << qsizetype(0x1a0) << NormalBase
                                 << QList<Block>{ { NormalBase, 0, 0x1a0 } } << 10;
    QTest::newRow("worked example")
            << WorkedLength << NormalBase
            << (fullBlocks(NormalBase, 4) + QList<Block>{ { 0x1080000u, 0x80000, 0x10000 } }
                + FullPhase2)
            << 39;
    QTest::newRow("worked example, base 0")
            << WorkedLength << 0u
            << (fullBlocks(0, 4) + QList<Block>{ { 0x80000u, 0x80000, 0x10000 } } + FullPhase2)
            << 39;
    // Exactly k blocks: no zero-length announce; phase 2 only where the image reaches 0x40000.
    QTest::newRow("1 block") << FullBlock << 0u << fullBlocks(0, 1) << 10;
    QTest::newRow("2 blocks") << 2 * FullBlock << 0u << fullBlocks(0, 2) << 15;
    QTest::newRow("3 blocks") << 3 * FullBlock << 0u
                              << (fullBlocks(0, 3) + QList<Block>{ { 0u, 0x40000, FullBlock } })
                              << 25;
    QTest::newRow("4 blocks") << 4 * FullBlock << 0u << (fullBlocks(0, 4) + FullPhase2) << 34;
    // Phase 1 ends by the block count here.
    QTest::newRow("16 blocks") << 16 * FullBlock << 0u << (fullBlocks(0, 16) + FullPhase2) << 93;
    QTest::newRow("16 blocks, base 0x1000000")
            << 16 * FullBlock << NormalBase << (fullBlocks(NormalBase, 16) + FullPhase2) << 93;
    QTest::newRow("2 MiB + 5: the tail is never sent")
            << 16 * FullBlock + 5 << NormalBase << (fullBlocks(NormalBase, 16) + FullPhase2) << 93;
    // Phase 2 never reads beyond the image.
    QTest::newRow("phase 2 one short block")
            << qsizetype(0x40010) << NormalBase
            << (fullBlocks(NormalBase, 2)
                + QList<Block>{ { 0x1040000u, 0x40000, 0x10 }, { 0u, 0x40000, 0x10 } })
            << 25;
    QTest::newRow("phase 2 half block")
            << qsizetype(0x50000) << NormalBase
            << (fullBlocks(NormalBase, 2)
                + QList<Block>{ { 0x1040000u, 0x40000, 0x10000 }, { 0u, 0x40000, 0x10000 } })
            << 25;
    QTest::newRow("phase 2 nothing left")
            << qsizetype(0x3FFFF) << NormalBase
            << (fullBlocks(NormalBase, 1) + QList<Block>{ { 0x1020000u, 0x20000, 0x1FFFF } }) << 15;
    QTest::newRow("phase 2 second block short") << qsizetype(0x60008) << NormalBase
                                                << (fullBlocks(NormalBase, 3)
                                                    + QList<Block>{ { 0x1060000u, 0x60000, 8 },
                                                                    { 0u, 0x40000, FullBlock },
                                                                    { 0x20000u, 0x60000, 8 } })
                                                << 34;
    QTest::newRow("one byte past phase 2")
            << qsizetype(0x80001) << NormalBase
            << (fullBlocks(NormalBase, 4) + QList<Block>{ { 0x1080000u, 0x80000, 1 } } + FullPhase2)
            << 39;
}

void TestDownloadSequence::fullRun()
{
    QFETCH(qsizetype, length);
    QFETCH(quint32, base);
    QFETCH(QList<Block>, blocks);
    QFETCH(int, ticks);

    const QByteArray image = testsupport::PatternedImage(length, 0x3C);
    Rig rig;
    rig.start(image, base);
    QCOMPARE(rig.seq.BaseAddress(), base);
    rig.run();
    QVERIFY(rig.stopped());

    QList<QByteArray> expectedAnnounces;
    for (const Block &block : blocks)
        expectedAnnounces << (testsupport::AnnounceLine(block.address, block.length) + "\r");
    QCOMPARE(rig.announces(), expectedAnnounces);

    const QList<PortCall> sent = rig.blockSends();
    QCOMPARE(sent.size(), blocks.size());
    for (qsizetype i = 0; i < sent.size(); ++i) {
        QVERIFY(blocks[i].offset + blocks[i].length <= image.size());
        QVERIFY2(sent[i].bytes == image.mid(blocks[i].offset, blocks[i].length),
                 qPrintable(QStringLiteral("block %1 (%2 bytes) is not image[0x%3, +0x%4)")
                                    .arg(i)
                                    .arg(sent[i].bytes.size())
                                    .arg(blocks[i].offset, 0, 16)
                                    .arg(blocks[i].length, 0, 16)));
    }
    // Announce and bytes alternate, each followed by polling for the reply.
    const QList<QByteArray> all = rig.sends();
    for (qsizetype i = 0; i < all.size(); ++i)
        QCOMPARE(isAnnounce(all[i]), i % 2 == 0);
    QVERIFY2(pairingFault(rig.port.calls).isEmpty(), qPrintable(pairingFault(rig.port.calls)));

    QStringList expectedStatuses;
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        expectedStatuses << QStringLiteral("Update Start") << QStringLiteral("Data Send")
                         << QStringLiteral("Update Complete");
    }
    QCOMPARE(rig.statuses(), expectedStatuses);

    QCOMPARE(rig.ticks.size(), qsizetype(ticks));
    QCOMPARE(rig.count(PortCall::Stop), qsizetype(1));
    QCOMPARE(rig.count(PortCall::Progress), qsizetype(0));
    for (qsizetype i = 0; i + 1 < rig.ticks.size(); ++i)
        QCOMPARE(rig.ticks[i].busyAfter, 1);
    QVERIFY(!rig.ticks.last().calls.isEmpty());
    QVERIFY(rig.ticks.last().calls.last().kind == PortCall::Stop);
    QCOMPARE(rig.seq.DownloadBusy(), 0);
    QCOMPARE(int(rig.seq.DownloadState()), 0);
    QCOMPARE(static_cast<qsizetype>(rig.seq.DownloadLength()), length);
    for (const TickRecord &record : rig.ticks)
        QCOMPARE(record.baseAfter, base);
    QCOMPARE(rig.seq.Image(), image);

    // Planned before anything is sent, the same blocks.
    const download::DownloadPlan plan = download::PlanDownload(length, base);
    QCOMPARE(plan.blocks.size(), blocks.size());
    qint64 bytes = 0;
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        QCOMPARE(plan.blocks[i].address, blocks[i].address);
        QCOMPARE(qsizetype(plan.blocks[i].offset), blocks[i].offset);
        QCOMPARE(qsizetype(plan.blocks[i].length), blocks[i].length);
        bytes += blocks[i].length;
    }
    QCOMPARE(plan.bytes, bytes);
}

void TestDownloadSequence::endOfPhaseStates_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<QList<int>>("states");

    // A phase 2 block with nothing left ends the sequence the way phase 1 moves on: the
    // announcing state leads to the end state without sending.
    QTest::newRow("phase 2 nothing left")
            << qsizetype(0x3FFFF) << QList<int>{ 0, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 6, 7, 12 };
    QTest::newRow("phase 2 block 3 nothing left")
            << qsizetype(0x40010) << QList<int>{ 0, 1, 2, 3, 4, 5, 1, 2, 3,  4,  5, 1, 2,
                                                 3, 4, 5, 1, 6, 7, 8, 9, 10, 11, 7, 12 };
    QTest::newRow("16 blocks") << 16 * FullBlock << [] {
        QList<int> states{ 0 };
        for (int n = 0; n < 16; ++n)
            states << 1 << 2 << 3 << 4 << 5;
        states << 6 << 7 << 8 << 9 << 10 << 11 << 7 << 8 << 9 << 10 << 11 << 12;
        return states;
    }();
}

void TestDownloadSequence::endOfPhaseStates()
{
    QFETCH(qsizetype, length);
    QFETCH(QList<int>, states);

    Rig rig;
    rig.start(testsupport::PatternedImage(length), NormalBase);
    rig.run();
    QVERIFY(rig.stopped());
    QList<int> actual;
    for (const TickRecord &record : rig.ticks)
        actual << record.stateBefore;
    QCOMPARE(actual, states);
}

void TestDownloadSequence::emptyImage()
{
    Rig rig;
    rig.start(QByteArray(), NormalBase);
    QCOMPARE(rig.seq.DownloadBusy(), 1);
    const int taken = rig.silentUntilStopped(50);
    QCOMPARE(taken, 3);
    QCOMPARE(rig.ticks[0].stateBefore, 0);
    QCOMPARE(rig.ticks[1].stateBefore, 99);
    QCOMPARE(rig.ticks[2].stateBefore, 100);
    QCOMPARE(describe(rig.port.calls, {}), trace({ "stopped" }));
    QCOMPARE(rig.seq.DownloadBusy(), 0);
    QCOMPARE(int(rig.seq.DownloadState()), 0);
    QCOMPARE(rig.seq.DownloadLength(), 0);
}

void TestDownloadSequence::resultTable()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("direct"); // ReplyText set as is, not through the translation
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("status");

    QTest::newRow("Result:1") << QByteArray("Result:1\r") << false << int(Success)
                              << QStringLiteral("Update Complete");
    QTest::newRow("Result:10") << QByteArray("Result:10") << false << int(Success)
                               << QStringLiteral("Update Complete");
    QTest::newRow("Size and Result:1") << QByteArray("Size:131072 Result:1\r") << false
                                       << int(Success) << QStringLiteral("Update Complete");
    QTest::newRow("Result:0 keeps its CR")
            << QByteArray("Result:0\r") << false << int(Failure) << QStringLiteral("Failed:0\r");
    QTest::newRow("Result: alone")
            << QByteArray("Result:") << false << int(Failure) << QStringLiteral("Failed:");
    QTest::newRow("Result:2 with text around") << QByteArray("x Result:2 busy\r") << false
                                               << int(Failure) << QStringLiteral("Failed:2 busy\r");
    QTest::newRow("Error:Flash") << QByteArray("Error:Flash\r") << false << int(Failure)
                                 << QStringLiteral("Error:Flash\r");
    QTest::newRow("Error: alone") << QByteArray("Error:") << false << int(Failure)
                                  << QStringLiteral("Error:");
    QTest::newRow("Result:1 then Error") << QByteArray("Result:1\rError:x") << false << int(Failure)
                                         << QStringLiteral("Error:x");
    QTest::newRow("FailedComplete set directly")
            << QByteArray("FailedComplete") << true << int(Success)
            << QStringLiteral("Update Complete");
    QTest::newRow("Error:Complete set directly")
            << QByteArray("Error:Complete") << true << int(Success)
            << QStringLiteral("Update Complete");
    QTest::newRow("Failed inside set directly")
            << QByteArray("xxFailedyy") << true << int(Failure) << QStringLiteral("xxFailedyy");
    QTest::newRow("Error without colon set directly")
            << QByteArray("anErrorhere") << true << int(Failure) << QStringLiteral("anErrorhere");
    QTest::newRow("late size acknowledgement")
            << QByteArray("Size:131072\r") << false << int(StillWaiting) << QString();
    QTest::newRow("payload without keys")
            << QByteArray("Busy\r") << false << int(StillWaiting) << QString();
}

void TestDownloadSequence::phase1Result_data()
{
    resultTable();
}

void TestDownloadSequence::phase1Result()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, direct);
    QFETCH(int, outcome);
    QFETCH(QString, status);

    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.run(4); // the bytes of phase 1 block 1, unanswered
    QCOMPARE(rig.sends().size(), qsizetype(4));
    QVERIFY(rig.sends().last() == image.mid(0x20000, FullBlock));

    setReply(rig, reply, direct);
    const TickRecord result = rig.tick();
    if (outcome == StillWaiting) {
        QCOMPARE(describe(result.calls, image), trace({ "progress" }));
        rig.deliver("Result:1\r");
        QCOMPARE(describe(rig.tick().calls, image), trace({ "status Update Complete" }));
    } else {
        QCOMPARE(describe(result.calls, image),
                 QStringList(QStringLiteral("status ") + escaped(status)));
    }
    QVERIFY(rig.tick().calls.isEmpty());
    // A failure abandons the rest of phase 1; phase 2's first announce replaces its status.
    const TickRecord next = rig.tick();
    QCOMPARE(describe(next.calls, image),
             outcome == Failure ? trace(
                     { "send Download(0x00000000,0x20000)\\r", "poll", "status Update Start" })
                                : trace({ "send Download(0x01040000,0x20000)\\r", "poll",
                                          "status Update Start" }));

    rig.answerLastSend();
    rig.run();
    QVERIFY(rig.stopped());
    if (outcome == Failure) {
        QCOMPARE(rig.announces(),
                 (QList<QByteArray>{ WorkedAnnounces[0], WorkedAnnounces[1], WorkedAnnounces[5],
                                     WorkedAnnounces[6] }));
    } else {
        QCOMPARE(rig.announces(), WorkedAnnounces);
    }
    QCOMPARE(rig.lastStatus(), QStringLiteral("Update Complete"));
}

void TestDownloadSequence::phase2Result_data()
{
    resultTable();
}

void TestDownloadSequence::phase2Result()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, direct);
    QFETCH(int, outcome);
    QFETCH(QString, status);

    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.run(12); // the bytes of the first phase 2 block, unanswered
    QCOMPARE(rig.sends().size(), qsizetype(12));
    QCOMPARE(rig.sends()[10], QByteArray("Download(0x00000000,0x20000)\r"));

    setReply(rig, reply, direct);
    const TickRecord result = rig.tick();
    if (outcome == StillWaiting) {
        QCOMPARE(describe(result.calls, image), trace({ "progress" }));
        rig.deliver("Result:1\r");
        QCOMPARE(describe(rig.tick().calls, image), trace({ "status Update Complete" }));
    } else {
        QCOMPARE(describe(result.calls, image),
                 QStringList(QStringLiteral("status ") + escaped(status)));
    }
    QVERIFY(rig.tick().calls.isEmpty());
    const TickRecord next = rig.tick();
    if (outcome == Failure) {
        // A failure in phase 2 ends the sequence two ticks later; its status stays.
        QCOMPARE(describe(next.calls, image), trace({ "stopped" }));
        QCOMPARE(rig.lastStatus(), status);
        QCOMPARE(rig.sends().size(), qsizetype(12));
        QCOMPARE(rig.seq.DownloadBusy(), 0);
        return;
    }
    QCOMPARE(describe(next.calls, image),
             trace({ "send Download(0x00020000,0x20000)\\r", "poll", "status Update Start" }));
    rig.answerLastSend();
    rig.run();
    QVERIFY(rig.stopped());
    QCOMPARE(rig.announces(), WorkedAnnounces);
    QCOMPARE(rig.lastStatus(), QStringLiteral("Update Complete"));
}

void TestDownloadSequence::noSizeAcknowledgement_data()
{
    QTest::addColumn<qsizetype>("announceNumber");
    QTest::newRow("phase 1 first block") << qsizetype(1);
    QTest::newRow("phase 1 last block") << qsizetype(9);
    QTest::newRow("phase 2 first block") << qsizetype(11);
    QTest::newRow("phase 2 second block") << qsizetype(13);
}

void TestDownloadSequence::noSizeAcknowledgement()
{
    QFETCH(qsizetype, announceNumber);

    Rig rig;
    rig.start(testsupport::PatternedImage(WorkedLength), NormalBase);
    rig.run(announceNumber);
    QCOMPARE(rig.sends().size(), announceNumber);
    QVERIFY(isAnnounce(rig.sends().last()));
    const qsizetype callsBefore = rig.port.calls.size();

    const int taken = rig.silentUntilStopped();
    QCOMPARE(taken, 30 + 2);
    QCOMPARE(rig.ticks[rig.ticks.size() - 2].stateBefore, 99);
    QCOMPARE(rig.ticks.last().stateBefore, 100);
    // Nothing but the time-out's status and the stop: no progress, nothing sent.
    QCOMPARE(rig.port.calls.size(), callsBefore + 2);
    QVERIFY(rig.port.calls.last().kind == PortCall::Stop);
    QCOMPARE(rig.lastStatus(), QStringLiteral("Error!!(Timeout)"));
    QCOMPARE(rig.seq.DownloadBusy(), 0);
}

void TestDownloadSequence::waitTable(const QList<int> &silentTicks, int limit)
{
    QTest::addColumn<qsizetype>("sendNumber");
    QTest::addColumn<int>("silent");
    QTest::addColumn<bool>("accepted");
    for (const int phase : { 1, 2 }) {
        for (const int silent : silentTicks) {
            QTest::addRow("phase %d, reply after %d silent ticks", phase, silent)
                    << qsizetype(phase == 1 ? 1 : 11) << silent << (silent < limit);
        }
    }
}

void TestDownloadSequence::sizeWaitBoundary_data()
{
    // The 30th waiting tick is the last that reads the reply.
    waitTable({ 0, 1, 28, 29, 30 }, 30);
}

void TestDownloadSequence::sizeWaitBoundary()
{
    QFETCH(qsizetype, sendNumber);
    QFETCH(int, silent);
    QFETCH(bool, accepted);

    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.run(sendNumber);
    QCOMPARE(rig.sends().size(), sendNumber);

    for (int i = 1; i <= silent; ++i) {
        const TickRecord waiting = rig.tick();
        // The last waiting tick gives up and says so.
        QVERIFY2(waiting.calls.isEmpty() == (i < 30),
                 qPrintable(QStringLiteral("wait tick %1").arg(i)));
    }
    rig.deliver("Size:131072\r");
    QVERIFY(rig.tick().calls.isEmpty());
    const TickRecord second = rig.tick();
    if (accepted) {
        const qsizetype offset = sendNumber == 1 ? 0 : 0x40000;
        QCOMPARE(describe(second.calls, image),
                 QStringList(QStringLiteral("send block 0x%1+0x20000").arg(offset, 0, 16))
                         << QStringLiteral("poll") << QStringLiteral("status Data Send"));
        QVERIFY(!rig.stopped());
    } else {
        QCOMPARE(describe(second.calls, image), trace({ "stopped" }));
        QCOMPARE(rig.sends().size(), sendNumber);
        QCOMPARE(rig.lastStatus(), QStringLiteral("Error!!(Timeout)"));
    }
    QCOMPARE(rig.count(PortCall::Progress), qsizetype(0));
}

void TestDownloadSequence::noResult_data()
{
    QTest::addColumn<qsizetype>("blockNumber");
    QTest::newRow("phase 1 first block") << qsizetype(2);
    QTest::newRow("phase 1 last block") << qsizetype(10);
    QTest::newRow("phase 2 first block") << qsizetype(12);
    QTest::newRow("phase 2 second block") << qsizetype(14);
}

void TestDownloadSequence::noResult()
{
    QFETCH(qsizetype, blockNumber);

    Rig rig;
    rig.start(testsupport::PatternedImage(WorkedLength), NormalBase);
    rig.run(blockNumber);
    QCOMPARE(rig.sends().size(), blockNumber);
    QVERIFY(!isAnnounce(rig.sends().last()));

    const int taken = rig.silentUntilStopped();
    QCOMPARE(taken, 50 + 2);
    const qsizetype first = rig.ticks.size() - taken;
    for (qsizetype i = first; i < first + 49; ++i)
        QCOMPARE(describe(rig.ticks[i].calls, {}), trace({ "progress" }));
    QCOMPARE(describe(rig.ticks[first + 49].calls, {}),
             trace({ "progress", "status Error!!(Timeout)" }));
    QCOMPARE(describe(rig.ticks[first + 50].calls, {}), QStringList());
    QCOMPARE(describe(rig.ticks[first + 51].calls, {}), trace({ "stopped" }));
    // A time-out ends the sequence in either phase.
    QCOMPARE(rig.sends().size(), blockNumber);
    QCOMPARE(rig.count(PortCall::Progress), qsizetype(50));
    QCOMPARE(rig.seq.DownloadBusy(), 0);
}

void TestDownloadSequence::resultWaitBoundary_data()
{
    // The 50th waiting tick is the last that reads the reply.
    waitTable({ 0, 1, 48, 49, 50 }, 50);
}

void TestDownloadSequence::resultWaitBoundary()
{
    QFETCH(qsizetype, sendNumber);
    QFETCH(int, silent);
    QFETCH(bool, accepted);

    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.run(sendNumber + 1); // the block after that announce
    QCOMPARE(rig.sends().size(), sendNumber + 1);
    QVERIFY(!isAnnounce(rig.sends().last()));

    for (int i = 1; i <= silent; ++i) {
        const TickRecord waiting = rig.tick();
        const QStringList expected =
                i < 50 ? trace({ "progress" }) : trace({ "progress", "status Error!!(Timeout)" });
        QVERIFY2(describe(waiting.calls, image) == expected,
                 qPrintable(QStringLiteral("wait tick %1: %2")
                                    .arg(i)
                                    .arg(describe(waiting.calls, image).join(QLatin1Char(',')))));
    }
    rig.deliver("Result:1\r");
    const TickRecord first = rig.tick();
    const TickRecord second = rig.tick();
    QCOMPARE(rig.count(PortCall::Progress), qsizetype(silent));
    if (accepted) {
        QCOMPARE(describe(first.calls, image), trace({ "status Update Complete" }));
        QVERIFY(second.calls.isEmpty());
        QCOMPARE(describe(rig.tick().calls, image),
                 trace({ sendNumber == 1 ? "send Download(0x01020000,0x20000)\\r"
                                         : "send Download(0x00020000,0x20000)\\r",
                         "poll", "status Update Start" }));
    } else {
        QVERIFY(first.calls.isEmpty());
        QCOMPARE(describe(second.calls, image), trace({ "stopped" }));
        QCOMPARE(rig.lastStatus(), QStringLiteral("Error!!(Timeout)"));
        QCOMPARE(rig.sends().size(), sendNumber + 1);
    }
}

void TestDownloadSequence::resultDuringSizeWait_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("direct");
    QTest::addColumn<bool>("sizeFollows");

    QTest::newRow("Result:1, nothing more") << QByteArray("Result:1\r") << false << false;
    QTest::newRow("Result:0, nothing more") << QByteArray("Result:0\r") << false << false;
    QTest::newRow("Error, nothing more") << QByteArray("Error:Flash\r") << false << false;
    QTest::newRow("Complete set directly") << QByteArray("Complete") << true << false;
    QTest::newRow("Result:1, then Size") << QByteArray("Result:1\r") << false << true;
    QTest::newRow("Error, then Size") << QByteArray("Error:Flash\r") << false << true;
}

void TestDownloadSequence::resultDuringSizeWait()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, direct);
    QFETCH(bool, sizeFollows);

    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.run(1);
    QCOMPARE(rig.sends().size(), qsizetype(1));

    setReply(rig, reply, direct);
    QVERIFY(rig.tick().calls.isEmpty());
    QVERIFY(rig.tick().calls.isEmpty());
    if (sizeFollows) {
        rig.deliver("Size:131072\r");
        QVERIFY(rig.tick().calls.isEmpty());
        QCOMPARE(describe(rig.tick().calls, image),
                 trace({ "send block 0x0+0x20000", "poll", "status Data Send" }));
        return;
    }
    // Two waiting ticks are gone; the other 28 run out, then 99 and the stop.
    QCOMPARE(rig.silentUntilStopped(), 28 + 2);
    QCOMPARE(rig.sends().size(), qsizetype(1));
    QCOMPARE(rig.lastStatus(), QStringLiteral("Error!!(Timeout)"));
}

void TestDownloadSequence::staleReplyIsEmptiedBySend_data()
{
    QTest::addColumn<int>("sendingState");
    QTest::addColumn<QByteArray>("stale");

    QTest::newRow("SizeOK before a phase 1 announce") << 1 << QByteArray("SizeOK");
    QTest::newRow("Complete before a phase 1 announce") << 1 << QByteArray("Complete");
    QTest::newRow("Complete before phase 1 bytes") << 3 << QByteArray("Complete");
    QTest::newRow("Failed before phase 1 bytes") << 3 << QByteArray("Failed:0\r");
    QTest::newRow("SizeOK before a phase 2 announce") << 7 << QByteArray("SizeOK");
    QTest::newRow("Complete before phase 2 bytes") << 9 << QByteArray("Complete");
    QTest::newRow("Error before phase 2 bytes") << 9 << QByteArray("Error:Flash\r");
}

void TestDownloadSequence::staleReplyIsEmptiedBySend()
{
    QFETCH(int, sendingState);
    QFETCH(QByteArray, stale);

    const QByteArray image = testsupport::PatternedImage(WorkedLength);
    Rig rig;
    rig.start(image, NormalBase);
    rig.runToState(sendingState);
    QCOMPARE(int(rig.seq.DownloadState()), sendingState);
    const qsizetype sendsBefore = rig.sends().size();

    rig.seq.SetReplyText(stale);
    const TickRecord sending = rig.tick();
    QCOMPARE(rig.sends().size(), sendsBefore + 1);
    QVERIFY(sending.replyAfter.isEmpty());

    if (sendingState == 1 || sendingState == 7) {
        QCOMPARE(rig.silentUntilStopped(), 30 + 2);
        QCOMPARE(rig.sends().size(), sendsBefore + 1);
    } else {
        QCOMPARE(describe(rig.tick().calls, image), trace({ "progress" }));
    }
}

void TestDownloadSequence::busyUntilStop_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<qsizetype>("answeredUpTo"); // -1: every send answered
    QTest::addColumn<QByteArray>("lastReply");
    QTest::addColumn<int>("stopState");

    QTest::newRow("completed") << WorkedLength << qsizetype(-1) << QByteArray() << 12;
    QTest::newRow("empty image") << qsizetype(0) << qsizetype(-1) << QByteArray() << 100;
    QTest::newRow("size time-out") << WorkedLength << qsizetype(3) << QByteArray() << 100;
    QTest::newRow("result time-out") << WorkedLength << qsizetype(4) << QByteArray() << 100;
    QTest::newRow("phase 2 failure")
            << WorkedLength << qsizetype(12) << QByteArray("Result:0\r") << 100;
    QTest::newRow("phase 1 failure, then completed")
            << WorkedLength << qsizetype(2) << QByteArray("Error:Flash\r") << 12;
}

void TestDownloadSequence::busyUntilStop()
{
    QFETCH(qsizetype, length);
    QFETCH(qsizetype, answeredUpTo);
    QFETCH(QByteArray, lastReply);
    QFETCH(int, stopState);

    Rig rig;
    rig.start(testsupport::PatternedImage(length), NormalBase);
    QCOMPARE(rig.seq.DownloadBusy(), 1);
    rig.run(answeredUpTo);
    if (!lastReply.isEmpty()) {
        rig.deliver(lastReply);
        rig.run(); // after a phase 1 failure phase 2 is answered in full
    }
    rig.silentUntilStopped();

    QVERIFY(rig.stopped());
    QCOMPARE(rig.count(PortCall::Stop), qsizetype(1));
    for (qsizetype i = 0; i + 1 < rig.ticks.size(); ++i) {
        QCOMPARE(rig.ticks[i].busyAfter, 1);
        QVERIFY(rig.ticks[i].stateAfter != 0);
    }
    const TickRecord &last = rig.ticks.last();
    QCOMPARE(last.stateBefore, stopState);
    QVERIFY(!last.calls.isEmpty());
    QVERIFY(last.calls.last().kind == PortCall::Stop);
    QCOMPARE(last.busyAfter, 0);
    QCOMPARE(last.stateAfter, 0);
}

enum Mutation { Assign, DetachAndWrite, Fill, Clear, Grow, Destroy };

void TestDownloadSequence::imageKept_data()
{
    QTest::addColumn<int>("mutation");
    QTest::addColumn<qsizetype>("afterSends");

    const std::initializer_list<std::pair<int, const char *>> mutations = {
        { Assign, "assign another image" },
        { DetachAndWrite, "write into it" },
        { Fill, "fill it" },
        { Clear, "clear it" },
        { Grow, "append to it" },
        { Destroy, "destroy it" },
    };
    const std::initializer_list<std::pair<qsizetype, const char *>> moments = {
        { 0, "before the first tick" },
        { 3, "in phase 1" },
        { 11, "in phase 2" },
    };
    for (const auto &[mutation, what] : mutations) {
        for (const auto &[sends, when] : moments)
            QTest::addRow("%s %s", what, when) << mutation << sends;
    }
}

void TestDownloadSequence::imageKept()
{
    QFETCH(int, mutation);
    QFETCH(qsizetype, afterSends);

    const QByteArray original = testsupport::PatternedImage(WorkedLength, 0x11);
    // A buffer of the caller's own, so that writing into it in place would show through any
    // alias of it.
    auto caller = std::make_unique<QByteArray>(original.constData(), original.size());
    Rig rig;
    rig.start(*caller, NormalBase);
    rig.run(afterSends);
    QCOMPARE(rig.sends().size(), afterSends);

    switch (mutation) {
    case Assign:
        *caller = testsupport::PatternedImage(0x30000, 0xA5);
        break;
    case DetachAndWrite: {
        char *bytes = caller->data();
        for (const qsizetype at : { 0, 0x20001, 0x40002, 0x60003, 0x8FFFF })
            bytes[at] = static_cast<char>(~bytes[at]);
        break;
    }
    case Fill:
        caller->fill('\x55');
        break;
    case Clear:
        caller->clear();
        break;
    case Grow:
        caller->append(QByteArray(0x100000, 'G'));
        break;
    case Destroy:
        caller.reset();
        break;
    }

    rig.answerLastSend();
    rig.run();
    QVERIFY(rig.stopped());
    QCOMPARE(static_cast<qsizetype>(rig.seq.DownloadLength()), original.size());
    QCOMPARE(rig.announces(), WorkedAnnounces);
    const QList<PortCall> blocks = rig.blockSends();
    QCOMPARE(blocks.size(), WorkedOffsets.size());
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        QVERIFY2(blocks[i].bytes == original.mid(WorkedOffsets[i], WorkedLengths[i]),
                 qPrintable(QStringLiteral("block %1 differs from the image started with").arg(i)));
    }
    QCOMPARE(rig.seq.Image(), original);
    QCOMPARE(rig.seq.BaseAddress(), NormalBase);
}

void TestDownloadSequence::restartAfterStop()
{
    Rig rig;
    rig.start(testsupport::PatternedImage(WorkedLength), NormalBase);
    rig.run(4);
    rig.silentUntilStopped(); // result time-out in phase 1 block 1
    QVERIFY(rig.stopped());
    rig.seq.SetReplyText("SizeOK"); // a late reply after the stop

    const QByteArray second = testsupport::PatternedImage(0x50000, 0x77);
    const qsizetype callsBefore = rig.port.calls.size();
    const qsizetype ticksBefore = rig.ticks.size();
    rig.start(second, 0);
    QCOMPARE(rig.seq.DownloadBusy(), 1);
    QCOMPARE(int(rig.seq.DownloadState()), 0);
    QCOMPARE(rig.seq.BaseAddress(), 0u);

    // The late reply is still there until the first announce empties it.
    QVERIFY(rig.tick().calls.isEmpty());
    QCOMPARE(rig.seq.ReplyText(), QByteArray("SizeOK"));
    const TickRecord announce = rig.tick();
    QVERIFY(announce.replyAfter.isEmpty());
    rig.answerLastSend();
    rig.run();
    QVERIFY(rig.stopped());
    QCOMPARE(rig.count(PortCall::Stop), qsizetype(2));
    QCOMPARE(rig.ticks.size() - ticksBefore, qsizetype(25));

    const QList<PortCall> calls = rig.port.calls.mid(callsBefore);
    QList<QByteArray> announces;
    QList<QByteArray> blocks;
    for (const PortCall &call : calls) {
        if (call.kind == PortCall::Send)
            (isAnnounce(call.bytes) ? announces : blocks).append(call.bytes);
    }
    QCOMPARE(announces,
             (QList<QByteArray>{ "Download(0x00000000,0x20000)\r", "Download(0x00020000,0x20000)\r",
                                 "Download(0x00040000,0x10000)\r",
                                 "Download(0x00000000,0x10000)\r" }));
    QCOMPARE(blocks.size(), qsizetype(4));
    QVERIFY(blocks[0] == second.mid(0, FullBlock));
    QVERIFY(blocks[1] == second.mid(0x20000, FullBlock));
    QVERIFY(blocks[2] == second.mid(0x40000, 0x10000));
    QVERIFY(blocks[3] == second.mid(0x40000, 0x10000));
    QCOMPARE(rig.seq.DownloadLength(), 0x50000);
}

// Remembers, at every send, whether other windows' commands were being held back.
class HoldPort final : public download::DownloadLink
{
public:
    void SendCommand(QByteArrayView bytes) override { sends.append({ bytes.toByteArray(), hold }); }
    void StartReceivePolling() override { }
    void HoldOtherCommands(bool h) override
    {
        hold = h;
        changes.append(h);
        releasedAfterStop = !h && stops > 0;
    }
    void AbandonBlock() override { ++abandoned; }

    struct Sent
    {
        QByteArray bytes;
        bool held;
    };
    QList<Sent> sends;
    QList<bool> changes;
    bool hold = false;
    int stops = 0;
    bool releasedAfterStop = false;
    int abandoned = 0;
};

void TestDownloadSequence::otherCommandsHeldInsideEachBlock_data()
{
    QTest::addColumn<QByteArray>("sizeReply"); // empty: the device never acknowledges
    QTest::addColumn<QByteArray>("resultReply");
    QTest::newRow("every block succeeds")
            << QByteArray("Size:131072\r") << QByteArray("Result:1\r");
    QTest::newRow("every block fails") << QByteArray("Size:131072\r") << QByteArray("Result:0\r");
    QTest::newRow("no size acknowledgement") << QByteArray() << QByteArray();
    QTest::newRow("no result") << QByteArray("Size:131072\r") << QByteArray();
}

void TestDownloadSequence::otherCommandsHeldInsideEachBlock()
{
    QFETCH(QByteArray, sizeReply);
    QFETCH(QByteArray, resultReply);

    HoldPort port;
    download::DownloadSequence seq(port);
    QObject::connect(&seq, &DownloadSequence::stopped, [&port] { ++port.stops; });
    seq.Start(QByteArray(0x90000, '\x5a'), 0x1000000);
    for (int tick = 0; tick < 2000 && (tick == 0 || seq.DownloadBusy()); ++tick) {
        const qsizetype before = port.sends.size();
        seq.Tick();
        if (port.sends.size() == before)
            continue;
        const bool announce = port.sends.back().bytes.startsWith("Download(");
        const QByteArray reply = announce ? sizeReply : resultReply;
        if (!reply.isEmpty())
            seq.SetReplyText(protocol::TranslateDownloadReply(reply, seq.ReplyText()));
    }
    QCOMPARE(seq.DownloadBusy(), 0);
    QVERIFY(!port.sends.isEmpty());
    for (const HoldPort::Sent &sent : std::as_const(port.sends)) {
        // An announce goes out with nothing held; its block goes out while others wait.
        QCOMPARE(sent.held, !sent.bytes.startsWith("Download("));
    }
    // Whatever way the sequence ends, nothing stays held, and the last release comes after the
    // timers are off (it may connect anew, and a failure box runs the event loop).
    QVERIFY(!port.hold);
    QCOMPARE(port.stops, 1);
    QVERIFY(port.releasedAfterStop);
    // Only a block whose size was never acknowledged leaves the device in doubt: the link is
    // dropped once then, and never when a result is missing (the block has gone out whole).
    QCOMPARE(port.abandoned, sizeReply.isEmpty() ? 1 : 0);
}

QTEST_APPLESS_MAIN(TestDownloadSequence)
#include "tst_downloadsequence.moc"
