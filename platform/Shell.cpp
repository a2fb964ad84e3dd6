#include "platform/Shell.h"

#include "platform/AnsiText.h"

#include <QDesktopServices>
#include <QUrl>

#include <utility>

namespace {
OpenUrlHook g_openUrlHook;
}

void ShellOpenUrl(const std::string &url)
{
    if (g_openUrlHook) {
        g_openUrlHook(url);
        return;
    }
    QDesktopServices::openUrl(QUrl(ToDisplay(url)));
}

OpenUrlHook SetOpenUrlHook(OpenUrlHook hook)
{
    return std::exchange(g_openUrlHook, std::move(hook));
}
