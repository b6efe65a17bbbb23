#include "FormUtil.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QWidget>

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
    const QSize extra = window->frameGeometry().size() - window->geometry().size();
    return extra.isEmpty() ? designFrame : extra;
}

namespace {

void moveFrameCenterTo(QWidget *window, QPoint center)
{
    const QSize frame = window->frameGeometry().size();
    const QSize size = frame.isValid() && frame.width() >= window->width() ? frame : window->size();
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
