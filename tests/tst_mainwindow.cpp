// The main window: start-up, title, layout, the hidden gestures and the routing of replies.
#include "support/TestSupport.h"

#include "UnitComNet.h"
#include "UnitMacAdr.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "ui_UnitComNet.h"
#include "ui_UnitMacAdr.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

using testsupport::TestForms;

namespace {

const QString ExpectedTitle = QStringLiteral("[QL-T36] IP Address <Version 2.00>");
// A point of the main window's own surface, outside every control.
const QPoint EmptySurface(500, 110);

QString mainStatus()
{
    return FormMain->ui()->SBar->currentMessage();
}

void pressShiftCtrl(QWidget *target)
{
    QTest::keyPress(target, Qt::Key_Shift, Qt::ShiftModifier);
    QTest::keyPress(target, Qt::Key_Control, Qt::ShiftModifier | Qt::ControlModifier);
}

void showMain()
{
    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));
}

} // namespace

class TestMainWindow final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsWithOnlyTheMainWindowAndItsSettings();
    void titleGetsTheVersionAtFirstShow();
    void windowSizesAndFrames_data();
    void windowSizesAndFrames();
    void controlGeometry_data();
    void controlGeometry();
    void tabOrder();
    void featureMode_data();
    void featureMode();

    void gestureOpensTheCommunicationWindow();
    void gestureNeedsBothKeysHeld_data();
    void gestureNeedsBothKeysHeld();
    void keysOfAControlReachTheWindowFirst();
    void clickOnAControlIsNotAClickOnTheWindow_data();
    void clickOnAControlIsNotAClickOnTheWindow();
    void firmwareUpdateChoosesTheBaseAddress();
    void firmwareUpdateReopensAnOpenWindow();
    void macAddressButtonShowsTheMacWindow();
    void closingOtherWindowsOnlyHidesThem();
    void closingTheMainWindowEndsTheProgram();

    void dispatchRoutesEveryReply_data();
    void dispatchRoutesEveryReply();
    void replyMessageReachesTheWindowByItsTitle();

private:
    std::unique_ptr<TestForms> m_forms;
    std::unique_ptr<testsupport::MessageBoxRecorder> m_boxes;
};

void TestMainWindow::init()
{
    m_boxes = std::make_unique<testsupport::MessageBoxRecorder>();
    m_forms = std::make_unique<TestForms>();
}

void TestMainWindow::cleanup()
{
    m_forms.reset();
    m_boxes.reset();
}

void TestMainWindow::startsWithOnlyTheMainWindowAndItsSettings()
{
    QVERIFY(FormMain && FormComNet && FormUpdate && FormMacAdr);
    // Creation handlers ran during creation: the settings are in before anything is shown.
    QCOMPARE(FormMain->FeatureMode(), 1u);
    QCOMPARE(FormMain->ModifierKeys(), quint16(0));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(FormComNet->ui()->edtPORT->text(), QStringLiteral("9"));
    QVERIFY(!testsupport::link().IsConnected());
    QVERIFY(!testsupport::pollTimer()->isActive());
    QCOMPARE(FormUpdate->DownloadBaseAddress(), 0u);

    showMain();
    QVERIFY(FormMain->isVisible());
    QVERIFY(!FormComNet->isVisible());
    QVERIFY(!FormUpdate->isVisible());
    QVERIFY(!FormMacAdr->isVisible());
}

void TestMainWindow::titleGetsTheVersionAtFirstShow()
{
    QCOMPARE(FormMain->windowTitle(), QStringLiteral("[QL-T36] IP Address"));
    showMain();
    QCOMPARE(FormMain->windowTitle(), ExpectedTitle);
    // Minimising and restoring is no new show.
    FormMain->showMinimized();
    FormMain->showNormal();
    QCoreApplication::processEvents();
    QCOMPARE(FormMain->windowTitle(), ExpectedTitle);
}

void TestMainWindow::windowSizesAndFrames_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<bool>("fixed");
    QTest::addColumn<QString>("title");

    QTest::newRow("main") << QStringLiteral("main") << QSize(575, 249) << true << ExpectedTitle;
    QTest::newRow("update") << QStringLiteral("update") << QSize(498, 304) << true
                            << QStringLiteral("[QL-T36] Update");
    QTest::newRow("MAC") << QStringLiteral("mac") << QSize(296, 122) << true
                         << QStringLiteral("[QL-T36] MAC Address Set");
}

void TestMainWindow::windowSizesAndFrames()
{
    QFETCH(QString, window);
    QFETCH(QSize, client);
    QFETCH(bool, fixed);
    QFETCH(QString, title);

    showMain();
    QWidget *w = window == QLatin1String("main") ? static_cast<QWidget *>(FormMain)
            : window == QLatin1String("update")  ? static_cast<QWidget *>(FormUpdate)
                                                 : static_cast<QWidget *>(FormMacAdr);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->size(), client);
    QCOMPARE(w->windowTitle(), title);
    if (fixed) {
        QCOMPARE(w->minimumSize(), client);
        QCOMPARE(w->maximumSize(), client);
    }
    // The status bar runs along the bottom edge across the whole width.
    auto *bar = w->findChild<QStatusBar *>(QStringLiteral("SBar"));
    QVERIFY(bar);
    QCOMPARE(bar->geometry(), QRect(0, client.height() - 25, client.width(), 25));

    if (w != FormMain) {
        // Opens centred over the main window.
        const QPoint mainCenter = FormMain->frameGeometry().center();
        const QPoint center = w->frameGeometry().center();
        QVERIFY2((mainCenter - center).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("%1,%2 vs %3,%4")
                                    .arg(center.x())
                                    .arg(center.y())
                                    .arg(mainCenter.x())
                                    .arg(mainCenter.y())));
    }
}

void TestMainWindow::controlGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("caption");

    QTest::newRow("frame") << QStringLiteral("Bevel1") << QRect(16, 16, 377, 169) << QString();
    QTest::newRow("field 1") << QStringLiteral("EdtIP1") << QRect(184, 24, 169, 24) << QString();
    QTest::newRow("field 2") << QStringLiteral("EdtIP2") << QRect(184, 56, 169, 24) << QString();
    QTest::newRow("field 3") << QStringLiteral("EdtMask") << QRect(184, 88, 169, 24) << QString();
    QTest::newRow("field 4") << QStringLiteral("EdtGate") << QRect(184, 120, 169, 24) << QString();
    QTest::newRow("field 5") << QStringLiteral("EdtMCast") << QRect(184, 152, 169, 24) << QString();
    QTest::newRow("send") << QStringLiteral("BtnSet") << QRect(48, 192, 81, 25)
                          << QStringLiteral("Send");
    QTest::newRow("read") << QStringLiteral("BtnRead") << QRect(280, 192, 81, 25)
                          << QStringLiteral("Read");
    QTest::newRow("update") << QStringLiteral("BtnUpdate") << QRect(416, 16, 153, 33)
                            << QStringLiteral("Firmware Update");
    QTest::newRow("mac") << QStringLiteral("BtnMacAdr") << QRect(416, 152, 153, 33)
                         << QStringLiteral("MAC Address Set");
}

void TestMainWindow::controlGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(QString, caption);
    auto *control = FormMain->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), rect);
    if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), caption);
}

void TestMainWindow::tabOrder()
{
    showMain();
    const QStringList expected = { QStringLiteral("EdtIP1"),   QStringLiteral("EdtIP2"),
                                   QStringLiteral("EdtMask"),  QStringLiteral("EdtGate"),
                                   QStringLiteral("EdtMCast"), QStringLiteral("BtnSet"),
                                   QStringLiteral("BtnRead"),  QStringLiteral("BtnUpdate") };
    QWidget *w = FormMain->ui()->EdtIP1;
    for (const QString &name : expected) {
        QCOMPARE(w->objectName(), name);
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(FormMain))
            w = w->nextInFocusChain();
    }
    QCOMPARE(FormMain->ui()->BtnUpdate->toolTip(),
             QStringLiteral("ファームウェアをダウンロードします。"));
    QCOMPARE(FormMain->ui()->BtnMacAdr->toolTip(), QStringLiteral("ＭＡＣアドレスを設定します。"));
    for (QLabel *label : { FormMain->ui()->Label1, FormMain->ui()->Label5 })
        QVERIFY(label->font().bold());
    QCOMPARE(FormMain->ui()->Label5->text(), QStringLiteral("Multi Cast Address"));
}

void TestMainWindow::featureMode_data()
{
    QTest::addColumn<quint32>("mode");
    QTest::addColumn<bool>("update");
    QTest::addColumn<bool>("mac");
    QTest::addColumn<int>("outerWidth"); // 0: unchanged client width 575

    QTest::newRow("0: addresses only") << 0u << false << false << 417;
    QTest::newRow("1: the shipped tool") << 1u << true << false << 0;
    QTest::newRow("2: everything") << 2u << true << true << 0;
    QTest::newRow("any other value") << 0xFFFFFFFFu << true << true << 0;
}

void TestMainWindow::featureMode()
{
    QFETCH(quint32, mode);
    QFETCH(bool, update);
    QFETCH(bool, mac);
    QFETCH(int, outerWidth);

    FormMain->SetFeatureMode(mode);
    showMain();
    QCOMPARE(FormMain->ui()->BtnUpdate->isVisible(), update);
    QCOMPARE(FormMain->ui()->BtnMacAdr->isVisible(), mac);
    if (outerWidth)
        QCOMPARE(testsupport::outerSize(FormMain).width(), outerWidth);
    else
        QCOMPARE(FormMain->width(), 575);
}

void TestMainWindow::gestureOpensTheCommunicationWindow()
{
    showMain();
    pressShiftCtrl(FormMain);
    QCOMPARE(FormMain->ModifierKeys(), quint16(3));
    QTest::mouseClick(FormMain, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier,
                      EmptySurface);

    QVERIFY(FormComNet->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(FormComNet));
    QVERIFY(testsupport::waitFor([] { return testsupport::outerSize(FormComNet).height() == 164; },
                                 2000));
    QCOMPARE(FormComNet->windowTitle(), QStringLiteral("LAN"));
    QVERIFY(FormComNet->ui()->GroupBox4->isVisible());
    QVERIFY(!FormComNet->ui()->GBoxSendMsg->isVisible());
    QVERIFY(!FormComNet->ui()->GBoxRcvMsg->isVisible());
    QVERIFY(FormComNet->ui()->SBar->isVisible());
    // The status bar sits right below the connection group.
    const QRect group = FormComNet->ui()->GroupBox4->geometry();
    const int groupBottom = FormComNet->ui()->Panel5->mapTo(FormComNet, group.bottomLeft()).y();
    QVERIFY(FormComNet->ui()->SBar->geometry().top() > groupBottom);
    QCOMPARE(FormMain->ModifierKeys(), quint16(0));

    // Enlarging it later does not bring the hidden groups back.
    FormComNet->resize(FormComNet->width(), 600);
    QCoreApplication::processEvents();
    QVERIFY(!FormComNet->ui()->GBoxSendMsg->isVisible());
    FormComNet->close();
    FormComNet->show();
    QVERIFY(!FormComNet->ui()->GBoxRcvMsg->isVisible());
}

void TestMainWindow::gestureNeedsBothKeysHeld_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("modifierKeysAtClick");

    QTest::newRow("Shift alone") << QStringLiteral("S") << 1;
    QTest::newRow("Ctrl alone") << QStringLiteral("C") << 2;
    QTest::newRow("Shift released, then Ctrl") << QStringLiteral("S s C") << 2;
    QTest::newRow("both, then Ctrl released") << QStringLiteral("S C c") << 0;
    QTest::newRow("Ctrl first, then Shift") << QStringLiteral("C SC") << 3;
    QTest::newRow("no key") << QString() << 0;
}

void TestMainWindow::gestureNeedsBothKeysHeld()
{
    QFETCH(QString, keys);
    QFETCH(int, modifierKeysAtClick);

    showMain();
    Qt::KeyboardModifiers held;
    const QStringList steps = keys.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &step : steps) {
        if (step == QLatin1String("S")) {
            held |= Qt::ShiftModifier;
            QTest::keyPress(FormMain, Qt::Key_Shift, held);
        } else if (step == QLatin1String("C")) {
            held |= Qt::ControlModifier;
            QTest::keyPress(FormMain, Qt::Key_Control, held);
        } else if (step == QLatin1String("SC")) {
            held |= Qt::ShiftModifier;
            QTest::keyPress(FormMain, Qt::Key_Shift, held);
        } else if (step == QLatin1String("s")) {
            held &= ~Qt::KeyboardModifiers(Qt::ShiftModifier);
            QTest::keyRelease(FormMain, Qt::Key_Shift, held);
        } else if (step == QLatin1String("c")) {
            held &= ~Qt::KeyboardModifiers(Qt::ControlModifier);
            QTest::keyRelease(FormMain, Qt::Key_Control, held);
        }
    }
    QCOMPARE(int(FormMain->ModifierKeys()), modifierKeysAtClick);
    QTest::mouseClick(FormMain, Qt::LeftButton, held, EmptySurface);
    QCOMPARE(FormComNet->isVisible(), modifierKeysAtClick == 3);
    QCOMPARE(FormMain->ModifierKeys(), quint16(0));
}

void TestMainWindow::keysOfAControlReachTheWindowFirst()
{
    showMain();
    QLineEdit *field = FormMain->ui()->EdtMask;
    field->setFocus();
    pressShiftCtrl(field);
    QCOMPARE(FormMain->ModifierKeys(), quint16(3));
    // Repeated key-downs of a held key count like any other.
    QTest::keyPress(field, Qt::Key_A, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(FormMain->ModifierKeys(), quint16(3));
    // Releasing any key clears both bits, even a key the field consumed.
    QTest::keyRelease(field, Qt::Key_A, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(FormMain->ModifierKeys(), quint16(0));
    // Alt is not part of the gesture.
    QTest::keyPress(field, Qt::Key_Alt, Qt::AltModifier);
    QCOMPARE(FormMain->ModifierKeys(), quint16(0));
}

void TestMainWindow::clickOnAControlIsNotAClickOnTheWindow_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::newRow("inside the frame, between labels") << QPoint(20, 20);
    QTest::newRow("on a label") << QPoint(40, 33);
    QTest::newRow("on a field") << QPoint(200, 30);
    QTest::newRow("on the status bar") << QPoint(300, 240);
}

void TestMainWindow::clickOnAControlIsNotAClickOnTheWindow()
{
    QFETCH(QPoint, at);
    showMain();
    pressShiftCtrl(FormMain);
    QWidget *target = FormMain->childAt(at);
    QVERIFY(target);
    QTest::mouseClick(target, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier,
                      target->mapFrom(FormMain, at));
    QVERIFY(!FormComNet->isVisible());
    // Not a click on the window, so the gesture state stays.
    QCOMPARE(FormMain->ModifierKeys(), quint16(3));
}

void TestMainWindow::firmwareUpdateChoosesTheBaseAddress()
{
    showMain();
    QPushButton *update = FormMain->ui()->BtnUpdate;

    pressShiftCtrl(FormMain);
    QTest::mouseClick(update, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier);
    QVERIFY(FormUpdate->isVisible());
    QCOMPARE(FormUpdate->DownloadBaseAddress(), 0u);
    QVERIFY(FormUpdate->ui()->PnlBackup->isVisible());
    QCOMPARE(FormUpdate->ui()->PnlBackup->text(), QStringLiteral("Backup Area!!"));
    QCOMPARE(FormMain->ModifierKeys(), quint16(0));

    QTest::mouseClick(update, Qt::LeftButton);
    QVERIFY(FormUpdate->isVisible());
    QCOMPARE(FormUpdate->DownloadBaseAddress(), 0x1000000u);
    QVERIFY(!FormUpdate->ui()->PnlBackup->isVisible());

    // One key only is a plain click.
    QTest::keyPress(FormMain, Qt::Key_Shift, Qt::ShiftModifier);
    QTest::mouseClick(update, Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(FormUpdate->DownloadBaseAddress(), 0x1000000u);
}

void TestMainWindow::firmwareUpdateReopensAnOpenWindow()
{
    showMain();
    QTest::mouseClick(FormMain->ui()->BtnUpdate, Qt::LeftButton);
    QVERIFY(FormUpdate->isVisible());
    int hides = 0;
    int shows = 0;
    struct Watch : QObject
    {
        int &hides;
        int &shows;
        Watch(int &h, int &s) : hides(h), shows(s) { }
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Hide)
                ++hides;
            if (e->type() == QEvent::Show)
                ++shows;
            return false;
        }
    } watch(hides, shows);
    FormUpdate->installEventFilter(&watch);
    QTest::mouseClick(FormMain->ui()->BtnUpdate, Qt::LeftButton);
    FormUpdate->removeEventFilter(&watch);
    QCOMPARE(hides, 1);
    QCOMPARE(shows, 1);
    QVERIFY(FormUpdate->isVisible());
}

void TestMainWindow::macAddressButtonShowsTheMacWindow()
{
    FormMain->SetFeatureMode(2);
    showMain();
    pressShiftCtrl(FormMain);
    QTest::mouseClick(FormMain->ui()->BtnMacAdr, Qt::LeftButton);
    QVERIFY(FormMacAdr->isVisible());
    // "MAC Address Set" leaves the gesture state alone.
    QCOMPARE(FormMain->ModifierKeys(), quint16(3));
}

void TestMainWindow::closingOtherWindowsOnlyHidesThem()
{
    showMain();
    for (QWidget *w : { static_cast<QWidget *>(FormComNet), static_cast<QWidget *>(FormUpdate),
                        static_cast<QWidget *>(FormMacAdr) }) {
        w->show();
        QVERIFY(w->close());
        QVERIFY(!w->isVisible());
        QVERIFY(!w->testAttribute(Qt::WA_QuitOnClose));
    }
    // Still the same windows, still working.
    FormComNet->ui()->edtPORT->setText(QStringLiteral("1234"));
    FormComNet->show();
    QCOMPARE(FormComNet->ui()->edtPORT->text(), QStringLiteral("1234"));
}

void TestMainWindow::closingTheMainWindowEndsTheProgram()
{
    showMain();
    FormComNet->show();
    FormUpdate->show();
    FormMacAdr->show();
    // The message loop ends when the main window closes, whatever else is open.
    QTimer::singleShot(50, FormMain, [] { FormMain->close(); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);
}

void TestMainWindow::dispatchRoutesEveryReply_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("handled");
    QTest::addColumn<QString>("mainStatus");
    QTest::addColumn<QString>("macStatus");
    QTest::addColumn<QString>("updateStatus");
    QTest::addColumn<QByteArray>("replyText");

    QTest::newRow("set ok") << QByteArray("ACK_SET_IP:1\r\n") << true
                            << QStringLiteral("IP Address Set Complete") << QString() << QString()
                            << QByteArray();
    QTest::newRow("set 10 counts as ok")
            << QByteArray("ACK_SET_IP:10\r\n") << true << QStringLiteral("IP Address Set Complete")
            << QString() << QString() << QByteArray();
    QTest::newRow("set failed") << QByteArray("ACK_SET_IP:0\r\n") << true
                                << QStringLiteral("IP Address Set Failed") << QString() << QString()
                                << QByteArray();
    QTest::newRow("set empty payload")
            << QByteArray("ACK_SET_IP:\n") << true << QStringLiteral("IP Address Set Failed")
            << QString() << QString() << QByteArray();
    QTest::newRow("read addresses")
            << QByteArray("ACK_REC_IP:1.2.3.4\r\n") << true << QStringLiteral("IP Address Received")
            << QString() << QString() << QByteArray();
    QTest::newRow("MAC set") << QByteArray("ACK_SET_MAC:1\r\n") << true << QString()
                             << QStringLiteral("MAC Address Set Complete") << QString()
                             << QByteArray();
    QTest::newRow("MAC set failed")
            << QByteArray("ACK_SET_MAC:x\r\n") << true << QString()
            << QStringLiteral("MAC Address Set Failed") << QString() << QByteArray();
    QTest::newRow("MAC read") << QByteArray("ACK_REQ_MAC:00A0B1C2D3E4\r\n") << true << QString()
                              << QStringLiteral("MAC Address Received") << QString()
                              << QByteArray();
    QTest::newRow("version") << QByteArray("ACK_REQ_VER:2.00\r\n") << true << QString() << QString()
                             << QStringLiteral("Version Received") << QByteArray();
    QTest::newRow("upload: recognised, nothing changes")
            << QByteArray("ACK_UPLOAD:Result:1\r\n") << true << QString() << QString() << QString()
            << QByteArray();
    QTest::newRow("download size") << QByteArray("ACK_DOWNLOAD:Size:131072\r\n") << true
                                   << QString() << QString() << QString() << QByteArray("SizeOK");
    QTest::newRow("download failed keeps the CR")
            << QByteArray("ACK_DOWNLOAD:Result:0\r\n") << true << QString() << QString()
            << QString() << QByteArray("Failed:0\r");
    QTest::newRow("no LF: nothing") << QByteArray("ACK_SET_IP:1") << false << QString() << QString()
                                    << QString() << QByteArray();
    QTest::newRow("unknown line") << QByteArray("HELLO\r\n") << false << QString() << QString()
                                  << QString() << QByteArray();
    QTest::newRow("table order beats position")
            << QByteArray("ACK_REQ_VER:9 ACK_SET_IP:1\r\n") << true
            << QStringLiteral("IP Address Set Complete") << QString() << QString() << QByteArray();
}

void TestMainWindow::dispatchRoutesEveryReply()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, handled);
    QFETCH(QString, mainStatus);
    QFETCH(QString, macStatus);
    QFETCH(QString, updateStatus);
    QFETCH(QByteArray, replyText);

    QCOMPARE(FormMain->DispatchReply(text), handled);
    QCOMPARE(::mainStatus(), mainStatus);
    QCOMPARE(FormMacAdr->StatusText(), macStatus);
    QCOMPARE(FormUpdate->StatusText(), updateStatus);
    QCOMPARE(FormUpdate->ReplyText(), replyText);
}

void TestMainWindow::replyMessageReachesTheWindowByItsTitle()
{
    showMain();
    QWidget *target = gui::FindTopLevelWindow(FormMain->windowTitle());
    QCOMPARE(target, static_cast<QWidget *>(FormMain));
    gui::SendReplyMessage(target, 0, "ACK_SET_IP:1\r\n");
    // Synchronous: handled before the call returned.
    QCOMPARE(mainStatus(), QStringLiteral("IP Address Set Complete"));
    QCOMPARE(gui::FindTopLevelWindow(QStringLiteral("[QL-T36] IP Address")),
             static_cast<QWidget *>(nullptr));
}

QLT36_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
