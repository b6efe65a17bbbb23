#include "MessageBox.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

namespace gui {

namespace {

MessageBoxHandler &handlerSlot()
{
    static MessageBoxHandler handler;
    return handler;
}

// QMessageBox picks an escape button by itself (for Yes/No it would take No) and has no default
// button unless told; this box follows the style bits instead.
class StyledMessageBox final : public QMessageBox
{
public:
    StyledMessageBox(QWidget *owner, const QString &text, const QString &caption, unsigned style)
        : QMessageBox(owner), m_style(style & 0x0F)
    {
        setWindowTitle(caption);
        setTextFormat(Qt::PlainText);
        setText(text);
        setIcon(iconFor(style & 0xF0));

        switch (m_style) {
        case mb::OkCancel:
            setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            setDefaultButton(QMessageBox::Ok);
            setEscapeButton(QMessageBox::Cancel);
            break;
        case mb::YesNo:
            setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            setDefaultButton((style & 0xF00) == mb::DefButton2 ? QMessageBox::No
                                                               : QMessageBox::Yes);
            setWindowFlag(Qt::WindowCloseButtonHint, false);
            break;
        default:
            setStandardButtons(QMessageBox::Ok);
            setDefaultButton(QMessageBox::Ok);
            setEscapeButton(QMessageBox::Ok);
            break;
        }
    }

    int run()
    {
        exec();
        const StandardButton pressed = standardButton(clickedButton());
        switch (pressed) {
        case QMessageBox::Ok:
            return id::Ok;
        case QMessageBox::Cancel:
            return id::Cancel;
        case QMessageBox::Yes:
            return id::Yes;
        case QMessageBox::No:
            return id::No;
        default:
            // Closed some other way: what the close button would have given.
            return m_style == mb::OkCancel ? id::Cancel : id::Ok;
        }
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (m_style == mb::YesNo && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent *event) override
    {
        if (m_style == mb::YesNo) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }

private:
    static Icon iconFor(unsigned iconBits)
    {
        switch (iconBits) {
        case mb::IconError:
            return QMessageBox::Critical;
        case mb::IconQuestion:
            return QMessageBox::Question;
        case mb::IconWarning:
            return QMessageBox::Warning;
        case mb::IconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
        }
    }

    unsigned m_style;
};

} // namespace

int ShowMessageBox(QWidget *owner, const QString &text, const QString &caption, unsigned style)
{
    if (const MessageBoxHandler &handler = handlerSlot())
        return handler(MessageBoxRequest{ text, caption, style });
    StyledMessageBox box(owner, text, caption, style);
    return box.run();
}

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    handlerSlot() = std::move(handler);
}

} // namespace gui
