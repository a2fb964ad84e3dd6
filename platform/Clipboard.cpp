#include "platform/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

void ClipboardSetText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

QString ClipboardText()
{
    return QGuiApplication::clipboard()->text();
}
