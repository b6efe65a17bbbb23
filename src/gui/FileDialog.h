#pragma once

#include <QString>

#include <functional>

class QWidget;

// Modal file dialogs with no file-type filter. An empty result means the engineer cancelled.
namespace gui {

struct FileDialogRequest
{
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString initialFolder;
};

QString GetOpenFileName(QWidget *owner, const QString &initialFolder);
// Asks before overwriting an existing file.
QString GetSaveFileName(QWidget *owner, const QString &initialFolder);

// Test seam: while a handler is set, no dialog is shown; the handler returns the chosen path.
using FileDialogHandler = std::function<QString(const FileDialogRequest &)>;
void SetFileDialogHandler(FileDialogHandler handler);

} // namespace gui
