#include "Application.h"

#include "MessageBox.h"

namespace gui {

Application::Application(int &argc, char **argv) : QApplication(argc, argv) { }

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

QString ErrorBoxCaption()
{
    return QStringLiteral("QL-T36");
}

void ShowException(std::exception_ptr error)
{
    QString text;
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text.clear();
    }
    try {
        ShowMessageBox(nullptr, text, ErrorBoxCaption(), mb::Ok | mb::IconError);
    } catch (...) {
        // A failing error box must not take the program down with it.
    }
}

} // namespace gui
