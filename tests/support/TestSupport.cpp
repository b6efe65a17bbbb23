#include "TestSupport.h"

#include "UnitComNet.h"
#include "UnitMain.h"
#include "platform/Inet.h"
#include "platform/ProgramPath.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

#ifdef Q_OS_WIN
#  include <windows.h>
#endif

namespace testsupport {

void InstallLoopbackGuard()
{
    platform::SetConnectGuard([](quint32 address) {
        const bool loopback = (address >> 24) == 127;
        if (!loopback) {
            qCritical("refused a connection to %u.%u.%u.%u: tests talk to loopback only",
                      address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
        }
        return loopback;
    });
}

MessageBoxRecorder::MessageBoxRecorder()
{
    gui::SetMessageBoxHandler([this](const gui::MessageBoxRequest &request) {
        m_shown.append(request);
        if (m_whileOpen)
            m_whileOpen();
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        return (request.style & 0x0F) == gui::mb::YesNo ? gui::id::Yes : gui::id::Ok;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    gui::SetMessageBoxHandler(nullptr);
}

FileDialogAnswerer::FileDialogAnswerer()
{
    gui::SetFileDialogHandler([this](const gui::FileDialogRequest &request) {
        m_requests.append(request);
        return m_paths.isEmpty() ? QString() : m_paths.takeFirst();
    });
}

FileDialogAnswerer::~FileDialogAnswerer()
{
    gui::SetFileDialogHandler(nullptr);
}

TestForms::TestForms(const QString &address, quint16 port) : m_dir(new QTemporaryDir)
{
    QFile ini(m_dir->filePath(QStringLiteral("QL_T36.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        qFatal("cannot write the test settings file");
    ini.write("[LAN]\r\nADR=" + address.toLatin1() + "\r\nPORT=" + QByteArray::number(port)
              + "\r\n");
    ini.close();
    create();
}

TestForms::TestForms(NoIni) : m_dir(new QTemporaryDir) { }

TestForms TestForms::withIni(const QByteArray *iniContents)
{
    TestForms forms{ NoIni{} };
    if (iniContents) {
        QFile ini(forms.m_dir->filePath(QStringLiteral("QL_T36.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            qFatal("cannot write the test settings file");
        ini.write(*iniContents);
    }
    forms.create();
    return forms;
}

TestForms::TestForms(TestForms &&other) noexcept : m_dir(std::move(other.m_dir))
{
    other.m_owner = false;
}

void TestForms::create()
{
    platform::SetModuleFileNameForTesting(
            QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("ql-t36"))));
    CreateForms();
}

TestForms::~TestForms()
{
    if (!m_owner)
        return;
    DestroyForms();
    platform::SetModuleFileNameForTesting(QString());
    // Sockets and windows released with deleteLater go now, before the next case.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

core::DeviceSession &session()
{
    return FormComNet->Session();
}

core::DeviceLink &link()
{
    return FormComNet->Session().Link();
}

QTimer *pollTimer()
{
    return child<QTimer>(FormComNet, "TmrPktRcv");
}

QTimer *downloadTimer()
{
    return child<QTimer>(FormComNet, "TmrDownload");
}

QSize outerSize(const QWidget *window)
{
#ifdef Q_OS_WIN
    RECT rect = {};
    ::GetWindowRect(reinterpret_cast<HWND>(window->internalWinId()), &rect);
    return QSize(rect.right - rect.left, rect.bottom - rect.top) / window->devicePixelRatioF();
#else
    return window->frameGeometry().size();
#endif
}

void holdShiftAndCtrl()
{
    QTest::keyPress(FormMain, Qt::Key_Control, Qt::ShiftModifier | Qt::ControlModifier);
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(1);
    }
    return true;
}

} // namespace testsupport
