#include "tests/support/GameGrid.h"

#include "ui_Unit1.h"

TDesignedForm::TDesignedForm() : m_form(std::make_unique<Ui::TForm1>())
{
    m_form->setupUi(&m_window);
    m_form->acg_GameList->show();
    CountSorts(*m_form->acg_GameList, true);
    m_window.show();
}

TDesignedForm::~TDesignedForm() = default;

TAdvColumnGrid &TDesignedForm::GameList() const
{
    return *m_form->acg_GameList;
}

void CountSorts(TAdvStringGrid &grid, bool on)
{
    grid.m_sorter->SetCounting(on);
}

TSortCounts LastSortCounts(const TAdvStringGrid &grid)
{
    return grid.m_sorter->LastCounts();
}
