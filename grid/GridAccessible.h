#pragma once

#include <functional>

class QAccessibleEvent;
class QString;
class QWidget;
class TAdvStringGrid;

// The grid as assistive technology sees it: a table of its shown columns
// and its rows below the header, each cell with its text, a check box's
// state and a toggle action, the current cell as the focus.

// Makes every TAdvStringGrid answer through the table interface; once.
void InstallGridAccessible();

// Announcements; they cost nothing while no assistive technology listens.
void AnnounceCurrentCell(TAdvStringGrid &grid);
// The current cell as the focus, while the grid has it.
void AnnounceFocusedCell(TAdvStringGrid &grid);
void AnnounceCheckBoxState(TAdvStringGrid &grid, int displayCol, int row);
// The cells changed all at once (a load, a sort).
void AnnounceGridReset(TAdvStringGrid &grid);
// A message such as the count a tick changed, said once per text as a
// notification of owner, which is never on screen. Screen readers read a
// status bar's notification without naming its role.
void AnnounceNotice(QWidget &owner, const QString &text);

// Sees each announcement before the platform does; tests install one, as a
// platform without accessibility drops them. Returns the previous one.
using AccessibleEventHook = std::function<void(QAccessibleEvent &event)>;
AccessibleEventHook SetAccessibleEventHook(AccessibleEventHook hook);
