#pragma once

// Loading a CSV file into the grid: the delimiter guessed when none is set,
// the lines counted first so that the rows are made once, each line split
// into its row's cells, progress reported, and the event loop let in while
// the file is read.

#include <string>

class TAdvStringGrid;

// The grid's InputFromCSV: reads the file into the grid from its first row
// (or below the fixed cells when the file holds none), or after its last row
// when `insert` is set. Raises EAdvGridError when the file can't be opened,
// before any change.
void LoadCSVInto(TAdvStringGrid &grid, const std::string &fileName, bool insert);
