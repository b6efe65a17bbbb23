#pragma once

#include <QSize>
#include <QString>

class QStatusBar;
class QWidget;

// Small helpers the four windows share.

// The status bar shows one text across its width; operations replace it whole.
void SetStatusText(QStatusBar *bar, const QString &text);
QString StatusText(const QStatusBar *bar);

// Sizes of the frame the window system puts around a window (title bar and borders): the outer
// size less the client size. Before the first show the window system may not know them yet;
// `designFrame` stands in.
QSize FrameExtra(const QWidget *window, QSize designFrame);

// The frame of a window whose layout fixes its size: thin dialog borders where the window system
// has them (Windows).
void UseFixedDialogFrame(QWidget *window);

void CenterOnScreen(QWidget *window);
void CenterOver(QWidget *window, const QWidget *over);

// A show of the window by the program, not one the window system makes on its own
// (restoring a minimised window is no new show).
bool IsProgramShow(const class QShowEvent *event);

// The program icon in the sizes the window system picks from.
class QIcon ProgramIcon();
