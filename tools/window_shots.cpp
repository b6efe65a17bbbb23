// Drives the tool's real windows against an in-process simulator on loopback and saves a
// picture of each window: the README's screenshots, regenerated whenever the windows change.
// Usage: window_shots OUTPUT_FOLDER (run it on a display; scripts/screenshots.sh uses Xvfb).
#include "support/TestSupport.h"

#include "DeviceSimulator.h"
#include "UnitComNet.h"
#include "UnitMacAdr.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "ui_UnitMacAdr.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool save(QWidget *window, const QString &path)
{
    QCoreApplication::processEvents();
    QTest::qWait(200);
    // The window's own pixels, as the window system shows them.
    QPixmap picture = window->grab();
    const bool ok = picture.save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

bool waitStatus(const std::function<QString()> &status, const QString &expected)
{
    return testsupport::waitFor([&] { return status() == expected; }, 5000);
}

} // namespace

int main(int argc, char **argv)
{
    gui::Application app(argc, argv);
    gui::RegisterReplyMessage();
    testsupport::InstallLoopbackGuard();
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_shots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    sim::DeviceSimulator device;
    if (!device.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0)) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    device.setVersion("2.00");
    testsupport::MessageBoxRecorder boxes;
    testsupport::FileDialogAnswerer dialogs;
    testsupport::TestForms forms(QStringLiteral("127.0.0.1"), device.serverPort());
    bool ok = true;

    // The main window after "Read".
    FormMain->show();
    ok &= QTest::qWaitForWindowExposed(FormMain);
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    ok &= waitStatus([] { return FormMain->ui()->SBar->currentMessage(); },
                     QStringLiteral("IP Address Received"));
    ok &= save(FormMain, out + QStringLiteral("/main-window.png"));

    // The communication window, opened by the hidden gesture.
    QTest::keyPress(FormMain, Qt::Key_Shift, Qt::ShiftModifier);
    QTest::keyPress(FormMain, Qt::Key_Control, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::mouseClick(FormMain, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier,
                      QPoint(500, 110));
    QTest::keyRelease(FormMain, Qt::Key_Control, Qt::ShiftModifier);
    ok &= QTest::qWaitForWindowExposed(FormComNet);
    ok &= save(FormComNet, out + QStringLiteral("/communication-window.png"));
    FormComNet->hide();

    // The update window: an image loaded, the version read, a download under way.
    QTemporaryDir images;
    const QString image = images.filePath(QStringLiteral("ql-t36-fw-2.01.bin"));
    {
        QFile file(image);
        file.open(QIODevice::WriteOnly);
        QByteArray bytes(0x90000, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 31);
        file.write(bytes);
    }
    QTest::mouseClick(FormMain->ui()->BtnUpdate, Qt::LeftButton);
    ok &= QTest::qWaitForWindowExposed(FormUpdate);
    dialogs.answerNext(image);
    QTest::mouseClick(FormUpdate->ui()->BtnOpen, Qt::LeftButton);
    QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
    ok &= waitStatus([] { return FormUpdate->StatusText(); }, QStringLiteral("Version Received"));
    device.setReplyDelay(400); // slow enough to catch the download mid-way
    QTest::mouseClick(FormUpdate->ui()->BtnDownload, Qt::LeftButton);
    ok &= testsupport::waitFor([&] { return device.receivedBlocks().size() >= 2; }, 10000);
    ok &= testsupport::waitFor(
            [] { return FormUpdate->StatusText() == QLatin1String("Data Send"); }, 5000);
    QTest::qWait(250);
    ok &= save(FormUpdate, out + QStringLiteral("/update-window.png"));
    device.setReplyDelay(0);
    ok &= testsupport::waitFor([] { return testsupport::session().Download().DownloadBusy() == 0; },
                               30000);
    FormUpdate->hide();

    // The MAC window; its button shows only at another feature mode than the shipped one.
    FormMacAdr->show();
    ok &= QTest::qWaitForWindowExposed(FormMacAdr);
    QTest::mouseClick(FormMacAdr->ui()->BtnRead, Qt::LeftButton);
    ok &= waitStatus([] { return FormMacAdr->StatusText(); },
                     QStringLiteral("MAC Address Received"));
    ok &= save(FormMacAdr, out + QStringLiteral("/mac-window.png"));

    if (!ok)
        std::fprintf(stderr, "some pictures could not be made\n");
    return ok ? 0 : 1;
}
