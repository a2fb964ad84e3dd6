#pragma once

#include <functional>
#include <string>

// Opens a URL in the user's browser ("open" on it). The result is not
// reported: the caller hands the URL over and goes on.
void ShellOpenUrl(const std::string &url);

// Tests see the call instead of starting a browser. Installs a replacement
// and returns the previous one (empty for the real browser).
using OpenUrlHook = std::function<void(const std::string &url)>;
OpenUrlHook SetOpenUrlHook(OpenUrlHook hook);
