#pragma once

#include "core/DeviceSession.h"
#include "gui/Application.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/ReplyMessage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

// Helpers shared by the test suites. Every suite that starts the tool's windows does so through
// TestForms, which first writes a settings file aiming at loopback, and every test binary refuses
// connections to anything but loopback (see InstallLoopbackGuard).
namespace testsupport {

// Makes every connection attempt to a non-loopback address fail (and the test with it).
void InstallLoopbackGuard();

// Records every message box and answers it from a queue (Ok/Yes when the queue is empty).
class MessageBoxRecorder
{
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    void answerNext(int result) { m_answers.append(result); }
    const QList<gui::MessageBoxRequest> &shown() const { return m_shown; }
    int count() const { return static_cast<int>(m_shown.size()); }
    void clear() { m_shown.clear(); }
    // Runs while the box would be open (a modal box runs the event loop meanwhile).
    void setWhileOpen(std::function<void()> action) { m_whileOpen = std::move(action); }

private:
    QList<gui::MessageBoxRequest> m_shown;
    QList<int> m_answers;
    std::function<void()> m_whileOpen;
};

// Answers file dialogs from a queue of paths ("" = cancel) and records the requests.
class FileDialogAnswerer
{
public:
    FileDialogAnswerer();
    ~FileDialogAnswerer();
    FileDialogAnswerer(const FileDialogAnswerer &) = delete;
    FileDialogAnswerer &operator=(const FileDialogAnswerer &) = delete;

    void answerNext(const QString &path) { m_paths.append(path); }
    const QList<gui::FileDialogRequest> &requests() const { return m_requests; }

private:
    QList<gui::FileDialogRequest> m_requests;
    QList<QString> m_paths;
};

// Creates the four windows as the program does, with the program's folder in a fresh temporary
// folder whose QL_T36.ini names `address`:`port` (loopback only).
class TestForms
{
public:
    explicit TestForms(const QString &address = QStringLiteral("127.0.0.1"), quint16 port = 9);
    // Writes `iniContents` verbatim as the settings file instead (nullptr: no settings file).
    static TestForms withIni(const QByteArray *iniContents);
    ~TestForms();
    TestForms(TestForms &&other) noexcept;
    TestForms(const TestForms &) = delete;
    TestForms &operator=(const TestForms &) = delete;
    TestForms &operator=(TestForms &&) = delete;

    QString folder() const { return m_dir->path(); }

private:
    struct NoIni
    {
    };
    explicit TestForms(NoIni);
    void create();

    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_owner = true;
};

// Spins the event loop until `done` or `timeoutMs` passes; returns `done()`.
bool waitFor(const std::function<bool()> &done, int timeoutMs = 5000);

// The device session behind the windows, and its timers, found by name.
core::DeviceSession &session();
core::DeviceLink &link();
QTimer *pollTimer(); // the link's receive polling, "TmrPktRcv"
QTimer *downloadTimer(); // the session's download timer, "TmrDownload"

// The outer size of a shown window as the window system has it: on Windows the whole window
// rectangle, borders that Windows 10 draws invisibly included.
QSize outerSize(const QWidget *window);

// Shift and Ctrl pressed (and held) in the main window, as the hidden gestures need.
void holdShiftAndCtrl();

// Finds a child of `root` by objectName, failing loudly when it is missing.
template <typename T>
T *child(QObject *root, const char *name)
{
    T *found = root->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

} // namespace testsupport

// main() for test suites that need the tool's application object (its error box for escaping
// exceptions) and the loopback guard.
#define QLT36_TEST_MAIN(TestClass)        \
  int main(int argc, char **argv)         \
  {                                       \
    gui::Application app(argc, argv);     \
    gui::RegisterReplyMessage();          \
    testsupport::InstallLoopbackGuard();  \
    TestClass tc;                         \
    QTEST_SET_MAIN_SOURCE_PATH            \
    return QTest::qExec(&tc, argc, argv); \
  }
