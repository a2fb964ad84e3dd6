#pragma once

#include <QString>

// The clipboard's plain text.
void ClipboardSetText(const QString &text); // replaces what the clipboard held
QString ClipboardText();
