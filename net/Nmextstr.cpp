#include "net/Nmextstr.h"

void TExStringList::SetValue(const std::string &name, const std::string &value)
{
    const int index = IndexOfName(name);
    if (value.empty()) {
        if (index >= 0)
            Delete(index);
        return;
    }
    const std::string line = name + ": " + value;
    if (index >= 0)
        (*this)[index] = line;
    else
        Add(line);
}
