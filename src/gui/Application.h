#pragma once

#include <QApplication>

#include <exception>

// The application object of the tool. Any exception that escapes an event handler is shown in an
// error box carrying its text, and the event loop goes on.
namespace gui {

class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// Shows the error box for an exception: the text of a std::exception, "" for anything else.
void ShowException(std::exception_ptr error);

// Caption of the error box.
QString ErrorBoxCaption();

} // namespace gui
