#include "FileDialog.h"

#include <QFileDialog>

namespace gui {

namespace {

FileDialogHandler &handlerSlot()
{
    static FileDialogHandler handler;
    return handler;
}

} // namespace

QString GetOpenFileName(QWidget *owner, const QString &initialFolder)
{
    if (const FileDialogHandler &handler = handlerSlot())
        return handler(FileDialogRequest{ FileDialogRequest::Kind::Open, initialFolder });
    return QFileDialog::getOpenFileName(owner, QString(), initialFolder);
}

QString GetSaveFileName(QWidget *owner, const QString &initialFolder)
{
    if (const FileDialogHandler &handler = handlerSlot())
        return handler(FileDialogRequest{ FileDialogRequest::Kind::Save, initialFolder });
    // QFileDialog asks before overwriting unless told not to.
    return QFileDialog::getSaveFileName(owner, QString(), initialFolder);
}

void SetFileDialogHandler(FileDialogHandler handler)
{
    handlerSlot() = std::move(handler);
}

} // namespace gui
