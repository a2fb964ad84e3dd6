#pragma once

#include <functional>

class QAccessibleEvent;
class QString;
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
// A message about the current cell, such as what a toggle changed: read as
// the cell's description until the current cell moves. Said once per text.
void AnnounceToCurrentCell(TAdvStringGrid &grid, const QString &note);
// The cells changed all at once (a load, a sort).
void AnnounceGridReset(TAdvStringGrid &grid);

// Sees each announcement before the platform does; tests install one, as a
// platform without accessibility drops them. Returns the previous one.
using AccessibleEventHook = std::function<void(QAccessibleEvent &event)>;
AccessibleEventHook SetAccessibleEventHook(AccessibleEventHook hook);
