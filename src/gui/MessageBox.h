#pragma once

#include <QString>

#include <functional>

class QWidget;

// Modal message boxes that answer keys the way the tool's users are used to: engineers press
// Enter without looking, so the default button and the Esc key must be exactly right.
namespace gui {

// Style bits (the low nibble picks the buttons, the next one the icon, the third the default
// button).
namespace mb {
inline constexpr unsigned Ok = 0x00;
inline constexpr unsigned OkCancel = 0x01;
inline constexpr unsigned YesNo = 0x04;
inline constexpr unsigned IconError = 0x10;
inline constexpr unsigned IconQuestion = 0x20;
inline constexpr unsigned IconWarning = 0x30;
inline constexpr unsigned IconInformation = 0x40;
inline constexpr unsigned DefButton2 = 0x100;
} // namespace mb

// Result numbers.
namespace id {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
} // namespace id

struct MessageBoxRequest
{
    QString text;
    QString caption;
    unsigned style = 0;
};

// Shows a modal box and returns the result number of the button chosen.
//  Ok:            one OK button; Enter, Esc and the close button give Ok.
//  OkCancel:      Enter gives Ok, Esc and the close button give Cancel.
//  YesNo:         Enter gives Yes (No with DefButton2); Esc does nothing and the close button
//                 is disabled.
int ShowMessageBox(QWidget *owner, const QString &text, const QString &caption, unsigned style);

// Test seam: while a handler is set, boxes are not shown; the handler answers them instead.
using MessageBoxHandler = std::function<int(const MessageBoxRequest &)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace gui
