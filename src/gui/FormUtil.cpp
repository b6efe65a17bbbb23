#include "FormUtil.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QWidget>

#ifdef Q_OS_WIN
#  include <windows.h>
#endif

void SetStatusText(QStatusBar *bar, const QString &text)
{
    bar->showMessage(text);
}

QString StatusText(const QStatusBar *bar)
{
    return bar->currentMessage();
}

QSize FrameExtra(const QWidget *window, QSize designFrame)
{
#ifdef Q_OS_WIN
    // Qt's frame geometry leaves out the borders that Windows 10 and later draw invisibly; the
    // outer size is the whole window rectangle, as the system itself sizes and reports it.
    const auto hwnd = reinterpret_cast<HWND>(window->internalWinId());
    RECT outer = {};
    RECT client = {};
    if (hwnd == nullptr || ::IsIconic(hwnd) || !::GetWindowRect(hwnd, &outer)
        || !::GetClientRect(hwnd, &client)) {
        return designFrame;
    }
    const qreal ratio = window->devicePixelRatioF();
    return QSize(qRound((outer.right - outer.left - client.right) / ratio),
                 qRound((outer.bottom - outer.top - client.bottom) / ratio));
#else
    const QSize extra = window->frameGeometry().size() - window->geometry().size();
    return extra.isEmpty() ? designFrame : extra;
#endif
}

void UseFixedDialogFrame(QWidget *window)
{
    // Thin dialog borders instead of the sizing frame Qt gives any window by default.
    window->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
}

namespace {

void moveFrameCenterTo(QWidget *window, QPoint center)
{
    // move() places the frame as Qt sees it, so its centre is taken from the same rectangle. On
    // Windows that rectangle leaves out the borders drawn invisibly and may even be narrower than
    // the client area; it is still the one that move() places.
    const QSize frame = window->frameGeometry().size();
    const QSize size = frame.isValid() ? frame : window->size();
    window->move(center.x() - size.width() / 2, center.y() - size.height() / 2);
}

} // namespace

void CenterOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    moveFrameCenterTo(window, screen->availableGeometry().center());
}

void CenterOver(QWidget *window, const QWidget *over)
{
    if (!over) {
        CenterOnScreen(window);
        return;
    }
    moveFrameCenterTo(window, over->frameGeometry().center());
}

bool IsProgramShow(const QShowEvent *event)
{
    return !event->spontaneous();
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (const int size : { 16, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/icons/ql-t36-%1.png").arg(size), QSize(size, size));
    return icon;
}
