#pragma once

class QLineEdit;
class QString;

// Edit fields limit what the engineer types, not what the program puts in: a device reply must
// be able to show a text longer than the typing limit.
namespace gui {

// Typing and pasting stop at `maxChars`; an insertion that would pass it is cut to fit.
// A text already longer (put there by the program) can be edited but not lengthened.
void LimitText(QLineEdit *edit, int maxChars);

// Puts `text` into the field whole, whatever the typing limit.
void SetEditText(QLineEdit *edit, const QString &text);

} // namespace gui
