// Network and MAC address settings end to end: real windows, real link, the simulator on
// loopback.
#include "support/TestSupport.h"

#include "DeviceSimulator.h"
#include "UnitComNet.h"
#include "UnitMacAdr.h"
#include "UnitMain.h"
#include "ui_UnitComNet.h"
#include "ui_UnitMacAdr.h"
#include "ui_UnitMain.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>

using testsupport::MessageBoxRecorder;
using testsupport::TestForms;
using testsupport::waitFor;

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));

QList<QLineEdit *> addressFields()
{
    auto *ui = FormMain->ui();
    return { ui->EdtIP1, ui->EdtIP2, ui->EdtMask, ui->EdtGate, ui->EdtMCast };
}

QString mainStatus()
{
    return FormMain->ui()->SBar->currentMessage();
}

void typeInto(QLineEdit *field, const QString &text)
{
    field->clear();
    field->setFocus();
    QTest::keyClicks(field, text);
}

QStringList fieldTexts()
{
    QStringList texts;
    for (const QLineEdit *field : addressFields())
        texts << field->text();
    return texts;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(Loopback, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TestAddresses final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void readFillsAllFiveFields();
    void sendCarriesTheTypedTextExactly_data();
    void sendCarriesTheTypedTextExactly();
    void blankFieldStopsSend_data();
    void blankFieldStopsSend();
    void readReplyFillsAsManyFieldsAsItHasItems_data();
    void readReplyFillsAsManyFieldsAsItHasItems();
    void setResultAndTheNextConnection_data();
    void setResultAndTheNextConnection();
    void newDeviceAddressIsUsedByTheNextConnection();
    void typingLimits();
    void readWhileTheDeviceIsUnreachable();

    void macSendIsUpperCased_data();
    void macSendIsUpperCased();
    void macBlankFieldSendsNothing();
    void macReadShowsTheWholeReply();
    void macRepliesReachTheHiddenWindow();
    void macReadWhileTheDeviceIsUnreachable();

private:
    void waitMainStatus(const QString &status);

    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<sim::DeviceSimulator> m_device;
    std::unique_ptr<TestForms> m_forms;
};

void TestAddresses::init()
{
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_device = std::make_unique<sim::DeviceSimulator>();
    QVERIFY(m_device->listen(Loopback, 0));
    m_forms = std::make_unique<TestForms>(QStringLiteral("127.0.0.1"), m_device->serverPort());
    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));
}

void TestAddresses::cleanup()
{
    m_forms.reset();
    m_device.reset();
    m_boxes.reset();
}

void TestAddresses::waitMainStatus(const QString &status)
{
    QVERIFY2(waitFor([&] { return mainStatus() == status; }, 3000),
             qPrintable(QStringLiteral("status is \"%1\"").arg(mainStatus())));
}

void TestAddresses::readFillsAllFiveFields()
{
    const QList<QByteArray> stored = { "10.1.2.3", "10.1.2.4", "255.255.0.0", "10.1.0.1",
                                       "239.1.1.1" };
    QVERIFY(m_device->setAddresses(stored));
    for (QLineEdit *field : addressFields())
        field->setText(QStringLiteral("old"));

    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    // Emptied before asking, status emptied after sending.
    QCOMPARE(fieldTexts(), QStringList(5, QString()));
    QCOMPARE(mainStatus(), QString());
    waitMainStatus(QStringLiteral("IP Address Received"));
    QCOMPARE(fieldTexts(),
             (QStringList{ QStringLiteral("10.1.2.3"), QStringLiteral("10.1.2.4"),
                           QStringLiteral("255.255.0.0"), QStringLiteral("10.1.0.1"),
                           QStringLiteral("239.1.1.1") }));
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
    QCOMPARE(m_boxes->count(), 0);
}

void TestAddresses::sendCarriesTheTypedTextExactly_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("stored");

    QTest::newRow("valid addresses are stored")
            << QStringList{ QStringLiteral("192.168.0.10"), QStringLiteral("192.168.0.20"),
                            QStringLiteral("255.255.255.0"), QStringLiteral("192.168.0.254"),
                            QStringLiteral("239.0.0.1") }
            << QByteArray("SetIP_ADR(192.168.0.10,192.168.0.20,255.255.255.0,192.168.0.254,"
                          "239.0.0.1)")
            << QStringLiteral("IP Address Set Complete") << true;
    // Only the emptiness check trims; the device judges what it gets.
    QTest::newRow("blanks go out as typed")
            << QStringList{ QStringLiteral("192.168.0.10 "), QStringLiteral(" 192.168.0.20"),
                            QStringLiteral("255.255.255.0"), QStringLiteral("192.168.0.254"),
                            QStringLiteral("239.0.0.1") }
            << QByteArray("SetIP_ADR(192.168.0.10 , 192.168.0.20,255.255.255.0,192.168.0.254,"
                          "239.0.0.1)")
            << QStringLiteral("IP Address Set Failed") << false;
    QTest::newRow("no check of form or range")
            << QStringList{ QStringLiteral("1.2.3.4"), QStringLiteral("999.1.1.1"),
                            QStringLiteral("x"), QStringLiteral("1.2.3.4"),
                            QStringLiteral("1.2.3.4") }
            << QByteArray("SetIP_ADR(1.2.3.4,999.1.1.1,x,1.2.3.4,1.2.3.4)")
            << QStringLiteral("IP Address Set Failed") << false;
}

void TestAddresses::sendCarriesTheTypedTextExactly()
{
    QFETCH(QStringList, typed);
    QFETCH(QByteArray, command);
    QFETCH(QString, status);
    QFETCH(bool, stored);

    const QList<QByteArray> before = m_device->addresses();
    const QList<QLineEdit *> fields = addressFields();
    for (int i = 0; i < 5; ++i)
        typeInto(fields[i], typed[i]);
    FormMain->ui()->SBar->showMessage(QStringLiteral("before"));
    // The first field becomes the device address whatever the device answers; keep the
    // connection on loopback for the rest of the run.
    QTest::mouseClick(FormMain->ui()->BtnSet, Qt::LeftButton);
    QCOMPARE(mainStatus(), QString());
    waitMainStatus(status);
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ command });
    QList<QByteArray> expected = before;
    if (stored) {
        expected.clear();
        for (const QString &text : typed)
            expected << text.toLatin1();
    }
    QCOMPARE(m_device->addresses(), expected);
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), typed[0]);
}

void TestAddresses::blankFieldStopsSend_data()
{
    QTest::addColumn<int>("blankField");
    QTest::addColumn<QString>("blank");
    QTest::newRow("1: spaces") << 0 << QStringLiteral("   ");
    QTest::newRow("2: empty") << 1 << QString();
    QTest::newRow("3: tab") << 2 << QStringLiteral("\t");
    QTest::newRow("4: spaces") << 3 << QStringLiteral(" ");
    QTest::newRow("5: control characters") << 4 << QStringLiteral("\x01\x1f");
}

void TestAddresses::blankFieldStopsSend()
{
    QFETCH(int, blankField);
    QFETCH(QString, blank);

    const QList<QLineEdit *> fields = addressFields();
    for (int i = 0; i < 5; ++i)
        fields[i]->setText(i == blankField ? blank : QStringLiteral("1.2.3.4"));
    const QStringList before = fieldTexts();
    FormMain->ui()->SBar->showMessage(QStringLiteral("before"));

    QTest::mouseClick(FormMain->ui()->BtnSet, Qt::LeftButton);
    QCOMPARE(fieldTexts(), before);
    QCOMPARE(mainStatus(), QStringLiteral("before"));
    QVERIFY(!testsupport::link().IsConnected());
    // The next command makes the device's first connection and is the first thing it gets.
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    waitMainStatus(QStringLiteral("IP Address Received"));
    QCOMPARE(m_device->counters().connections, 1);
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
}

void TestAddresses::readReplyFillsAsManyFieldsAsItHasItems_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("fields");

    const QString e;
    QTest::newRow("two items") << QByteArray("ACK_REC_IP:1.1.1.1,2.2.2.2")
                               << QStringList{ QStringLiteral("1.1.1.1"), QStringLiteral("2.2.2.2"),
                                               e, e, e };
    QTest::newRow("five items") << QByteArray("ACK_REC_IP:a,b,c,d,e")
                                << QStringList{ QStringLiteral("a"), QStringLiteral("b"),
                                                QStringLiteral("c"), QStringLiteral("d"),
                                                QStringLiteral("e") };
    QTest::newRow("six items: the sixth ignored")
            << QByteArray("ACK_REC_IP:a,b,c,d,e,f")
            << QStringList{ QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                            QStringLiteral("d"), QStringLiteral("e") };
    QTest::newRow("blank-separated")
            << QByteArray("ACK_REC_IP:a b  c\td e")
            << QStringList{ QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                            QStringLiteral("d"), QStringLiteral("e") };
    QTest::newRow("blank after a comma makes no item")
            << QByteArray("ACK_REC_IP:192.168.0.10, 192.168.0.20,255.255.255.0")
            << QStringList{ QStringLiteral("192.168.0.10"), QStringLiteral("192.168.0.20"),
                            QStringLiteral("255.255.255.0"), e, e };
    QTest::newRow("empty item between commas")
            << QByteArray("ACK_REC_IP:a,,c")
            << QStringList{ QStringLiteral("a"), e, QStringLiteral("c"), e, e };
    QTest::newRow("blanks at both ends and a trailing CR")
            << QByteArray("ACK_REC_IP:  a,b \t\r")
            << QStringList{ QStringLiteral("a"), QStringLiteral("b"), e, e, e };
    QTest::newRow("an item longer than the typing limit goes in whole")
            << QByteArray("ACK_REC_IP:1234567890123456789012345,b")
            << QStringList{ QStringLiteral("1234567890123456789012345"), QStringLiteral("b"), e, e,
                            e };
    QTest::newRow("text before the prefix")
            << QByteArray("\x01junkACK_REC_IP:a") << QStringList{ QStringLiteral("a"), e, e, e, e };
}

void TestAddresses::readReplyFillsAsManyFieldsAsItHasItems()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, fields);

    // The device's own answer is dropped; the test's reply stands in for it.
    m_device->dropReplies(1);
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 1; }, 3000));
    QVERIFY(m_device->sendUnsolicited(reply));
    waitMainStatus(QStringLiteral("IP Address Received"));
    QCOMPARE(fieldTexts(), fields);
}

void TestAddresses::setResultAndTheNextConnection_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("status");
    QTest::newRow("1") << QByteArray("1") << QStringLiteral("IP Address Set Complete");
    QTest::newRow("10: first character only")
            << QByteArray("10") << QStringLiteral("IP Address Set Complete");
    QTest::newRow("0") << QByteArray("0") << QStringLiteral("IP Address Set Failed");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("IP Address Set Failed");
    QTest::newRow("blank first") << QByteArray(" 1") << QStringLiteral("IP Address Set Failed");
}

void TestAddresses::setResultAndTheNextConnection()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, status);

    for (QLineEdit *field : addressFields())
        field->setText(QStringLiteral("127.0.0.1"));
    m_device->dropReplies(1);
    QTest::mouseClick(FormMain->ui()->BtnSet, Qt::LeftButton);
    QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 1; }, 3000));
    FormComNet->ui()->edtIPADR->setText(QStringLiteral("127.0.0.99"));
    QVERIFY(m_device->sendUnsolicited("ACK_SET_IP:" + payload));
    waitMainStatus(status);
    // Failed or not, the link now aims at the first field's address.
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), QStringLiteral("127.0.0.1"));
}

void TestAddresses::newDeviceAddressIsUsedByTheNextConnection()
{
    sim::DeviceSimulator moved;
    if (!moved.listen(QHostAddress(QStringLiteral("127.0.0.2")), m_device->serverPort()))
        QSKIP("127.0.0.2 with the same port is not available here");

    const QList<QLineEdit *> fields = addressFields();
    fields[0]->setText(QStringLiteral("127.0.0.2"));
    for (int i = 1; i < 5; ++i)
        fields[i]->setText(QStringLiteral("255.255.255.0"));
    QTest::mouseClick(FormMain->ui()->BtnSet, Qt::LeftButton);
    waitMainStatus(QStringLiteral("IP Address Set Complete"));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), QStringLiteral("127.0.0.2"));

    // The open connection is used as it is...
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    waitMainStatus(QStringLiteral("IP Address Received"));
    QCOMPARE(m_device->receivedCommands().size(), 2);
    QVERIFY(moved.receivedCommands().isEmpty());

    // ...and once it is closed, the next command goes to the new address.
    FormComNet->CloseLink();
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(waitFor([&moved] { return moved.receivedCommands().size() == 1; }, 3000));
    QCOMPARE(moved.receivedCommands().front(), QByteArray("ReqIP_ADR"));
    waitMainStatus(QStringLiteral("IP Address Received"));
    QCOMPARE(m_device->receivedCommands().size(), 2);
}

void TestAddresses::typingLimits()
{
    QLineEdit *field = FormMain->ui()->EdtIP1;
    typeInto(field, QStringLiteral("123.123.123.1234567"));
    QCOMPARE(field->text(), QStringLiteral("123.123.123.123"));
    QLineEdit *mac = FormMacAdr->ui()->EdtMacAdr;
    FormMacAdr->show();
    typeInto(mac, QStringLiteral("00a0b1c2d3e4f5"));
    QCOMPARE(mac->text(), QStringLiteral("00a0b1c2d3e4"));
}

void TestAddresses::readWhileTheDeviceIsUnreachable()
{
    FormComNet->ui()->edtPORT->setText(QString::number(closedPort()));
    for (QLineEdit *field : addressFields())
        field->setText(QStringLiteral("1.2.3.4"));
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    QCOMPARE(fieldTexts(), QStringList(5, QString()));
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->shown().front().text, QStringLiteral("Error:connect(), Code = 10061\n\n"));
    QCOMPARE(mainStatus(), QString());
    QVERIFY(!testsupport::link().IsConnected());
}

void TestAddresses::macSendIsUpperCased_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("lower case sent upper case")
            << QStringLiteral("00a0b1c2d3e4") << QByteArray("SetMAC_ADR(00A0B1C2D3E4)")
            << QStringLiteral("MAC Address Set Complete") << QByteArray("00A0B1C2D3E4");
    QTest::newRow("digits and upper case unchanged")
            << QStringLiteral("0123456789AB") << QByteArray("SetMAC_ADR(0123456789AB)")
            << QStringLiteral("MAC Address Set Complete") << QByteArray("0123456789AB");
    QTest::newRow("blanks go out as typed")
            << QStringLiteral(" 00a0b1c2d3 ") << QByteArray("SetMAC_ADR( 00A0B1C2D3 )")
            << QStringLiteral("MAC Address Set Failed") << QByteArray();
    QTest::newRow("accented letters by the code page")
            << QString::fromLatin1("\xE9\xFF\xDF") << QByteArray("SetMAC_ADR(\xC9\x9F\xDF)")
            << QStringLiteral("MAC Address Set Failed") << QByteArray();
}

void TestAddresses::macSendIsUpperCased()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, command);
    QFETCH(QString, status);
    QFETCH(QByteArray, stored);

    const QByteArray before = m_device->macAddress();
    FormMacAdr->show();
    FormMacAdr->ui()->EdtMacAdr->setText(typed);
    QTest::mouseClick(FormMacAdr->ui()->BtnSet, Qt::LeftButton);
    QCOMPARE(FormMacAdr->StatusText(), QString());
    QVERIFY(waitFor([&] { return FormMacAdr->StatusText() == status; }, 3000));
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ command });
    QCOMPARE(m_device->macAddress(), stored.isEmpty() ? before : stored);
    // The field keeps what was typed.
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), typed);
}

void TestAddresses::macBlankFieldSendsNothing()
{
    FormMacAdr->show();
    FormMacAdr->ui()->EdtMacAdr->setText(QStringLiteral("  \t "));
    FormMacAdr->SetStatusText(QStringLiteral("before"));
    QTest::mouseClick(FormMacAdr->ui()->BtnSet, Qt::LeftButton);
    QCOMPARE(FormMacAdr->StatusText(), QStringLiteral("before"));
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QStringLiteral("  \t "));
    // The next command makes the device's first connection and is the first thing it gets.
    QTest::mouseClick(FormMacAdr->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(waitFor(
            [] { return FormMacAdr->StatusText() == QLatin1String("MAC Address Received"); }));
    QCOMPARE(m_device->counters().connections, 1);
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqMAC_ADR" });
}

void TestAddresses::macReadShowsTheWholeReply()
{
    m_device->setMacAddress(" 00A0B1C2D3E4F5G6H7I8\t");
    FormMacAdr->show();
    FormMacAdr->ui()->EdtMacAdr->setText(QStringLiteral("old"));
    QTest::mouseClick(FormMacAdr->ui()->BtnRead, Qt::LeftButton);
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QString());
    QVERIFY(waitFor(
            [] { return FormMacAdr->StatusText() == QLatin1String("MAC Address Received"); },
            3000));
    // Trimmed at both ends, 20 characters shown whole.
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QStringLiteral("00A0B1C2D3E4F5G6H7I8"));
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqMAC_ADR" });
}

void TestAddresses::macRepliesReachTheHiddenWindow()
{
    QVERIFY(!FormMacAdr->isVisible());
    // Any command opens the connection; the MAC replies arrive unasked.
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    waitMainStatus(QStringLiteral("IP Address Received"));
    QVERIFY(m_device->sendUnsolicited("ACK_REQ_MAC:AABBCCDDEEFF\r"));
    testsupport::link().StartReceivePolling();
    QVERIFY(waitFor(
            [] { return FormMacAdr->StatusText() == QLatin1String("MAC Address Received"); },
            3000));
    QVERIFY(m_device->sendUnsolicited("ACK_SET_MAC:0"));
    testsupport::link().StartReceivePolling();
    QVERIFY(waitFor(
            [] { return FormMacAdr->StatusText() == QLatin1String("MAC Address Set Failed"); },
            3000));
    QVERIFY(!FormMacAdr->isVisible());
    FormMacAdr->show();
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QStringLiteral("AABBCCDDEEFF"));
    QCOMPARE(FormMacAdr->StatusText(), QStringLiteral("MAC Address Set Failed"));
}

void TestAddresses::macReadWhileTheDeviceIsUnreachable()
{
    FormComNet->ui()->edtPORT->setText(QString::number(closedPort()));
    FormMacAdr->show();
    FormMacAdr->ui()->EdtMacAdr->setText(QStringLiteral("00A0B1C2D3E4"));
    QTest::mouseClick(FormMacAdr->ui()->BtnRead, Qt::LeftButton);
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QString());
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(FormMacAdr->StatusText(), QString());
}

QLT36_TEST_MAIN(TestAddresses)
#include "tst_addresses.moc"
