// The grid's hidden columns (see HiddenColumns.h).

#include "grid/HiddenColumns.h"

#include <algorithm>

int THiddenColumns::Real(int displayCol, int shownCols) const
{
    // A column that isn't shown maps to none in particular.
    if (displayCol < 0 || displayCol >= shownCols)
        return displayCol >= kMax ? displayCol : 0;
    int visible = 0;
    for (int r = 0; r < kMax; ++r) {
        if (!m_visible[size_t(r)])
            continue;
        if (visible == displayCol)
            return r;
        ++visible;
    }
    // Only columns below kMax can be hidden: one shown past them lies the
    // number of hidden ones further on.
    return displayCol + m_count;
}

int THiddenColumns::Display(int realCol) const
{
    if (realCol <= 0)
        return realCol;
    int hidden = 0;
    for (int r = 0; r < std::min(realCol, kMax); ++r)
        hidden += m_visible[size_t(r)] ? 0 : 1;
    return realCol - hidden;
}

void THiddenColumns::Hide(int realCol, int width)
{
    m_widths[size_t(realCol)] = uint16_t(std::clamp(width, 0, 0xFFFF));
    m_visible[size_t(realCol)] = false;
    ++m_count;
}

int THiddenColumns::Unhide(int realCol)
{
    m_visible[size_t(realCol)] = true;
    --m_count;
    return m_widths[size_t(realCol)];
}
