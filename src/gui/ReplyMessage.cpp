#include "ReplyMessage.h"

#include <QApplication>
#include <QWidget>

namespace gui {

ReplyMessageEvent::ReplyMessageEvent(quintptr wParam, QByteArray text)
    : QEvent(eventType()), m_wParam(wParam), m_text(std::move(text))
{
}

void RegisterReplyMessage()
{
    static const int registered = QEvent::registerEventType(ReplyMessageNumber);
    // Qt hands out another number when 1280 is taken; the protocol between the windows needs
    // exactly this one.
    Q_ASSERT(registered == ReplyMessageNumber);
    Q_UNUSED(registered);
}

QWidget *FindTopLevelWindow(const QString &title)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->isWindow() && window->windowTitle() == title)
            return window;
    }
    return nullptr;
}

quintptr SendReplyMessage(QWidget *target, quintptr wParam, const QByteArray &text)
{
    if (!target)
        return 0;
    ReplyMessageEvent event(wParam, text);
    try {
        QCoreApplication::sendEvent(target, &event);
    } catch (...) {
        // The link goes on with its tick whatever a handler did.
    }
    return event.result();
}

} // namespace gui
