#pragma once

// The program's game list for tests and benchmarks of the grid: built from
// the main window's form description, so its settings are the program's.

#include "grid/Advcgrid.h"
#include "grid/GridSort.h"

#include <QMainWindow>

#include <memory>

namespace Ui {
class TForm1;
}

// The main window's form as designed, shown at its design size, without the
// program's logic around it. Its game list is shown, as after a load, and
// counts the work of its sorts.
class TDesignedForm {
public:
    TDesignedForm();
    ~TDesignedForm();
    TDesignedForm(const TDesignedForm &) = delete;
    TDesignedForm &operator=(const TDesignedForm &) = delete;

    QMainWindow &Window() { return m_window; }
    TAdvColumnGrid &GameList() const;

private:
    QMainWindow m_window;
    std::unique_ptr<Ui::TForm1> m_form;
};

// Whether a grid's sorts count their work; the program's never do.
void CountSorts(TAdvStringGrid &grid, bool on);
// The work the grid's last counted sort did.
TSortCounts LastSortCounts(const TAdvStringGrid &grid);
