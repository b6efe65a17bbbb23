#pragma once

#include <QByteArray>
#include <QEvent>
#include <QString>

class QWidget;

// The window message that carries a received text from the device link to the main window.
// It is delivered synchronously: the receiver has handled it when SendReplyMessage returns, with
// the result it set (0 unless it set one).
namespace gui {

inline constexpr int ReplyMessageNumber = 1280;

class ReplyMessageEvent final : public QEvent
{
public:
    ReplyMessageEvent(quintptr wParam, QByteArray text);

    static QEvent::Type eventType() { return static_cast<QEvent::Type>(ReplyMessageNumber); }

    quintptr wParam() const { return m_wParam; }
    const QByteArray &text() const { return m_text; }
    quintptr result() const { return m_result; }
    void setResult(quintptr result) { m_result = result; }

private:
    quintptr m_wParam;
    QByteArray m_text;
    quintptr m_result = 0;
};

// Reserves the message number with Qt so that nothing else is handed the same event type.
void RegisterReplyMessage();

// The first top-level window of this process whose title is exactly `title`, shown or hidden;
// nullptr if there is none. Looking only inside this process means a second copy of the tool
// can never take the replies meant for this one.
QWidget *FindTopLevelWindow(const QString &title);

// Sends the reply message to `target` and returns its result after it has been handled. Errors
// that escape the receiver are dropped here; the application has already reported them.
quintptr SendReplyMessage(QWidget *target, quintptr wParam, const QByteArray &text);

} // namespace gui
