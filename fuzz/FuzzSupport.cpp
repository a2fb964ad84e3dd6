#include "fuzz/FuzzSupport.h"

#include "platform/Application.h"

#include <QLocale>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

std::vector<std::string> &ShownMessages()
{
    static std::vector<std::string> messages;
    return messages;
}

std::vector<std::string> SplitInput(const uint8_t *data, size_t size, std::string_view marker,
                                    size_t parts)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> pieces;
    size_t start = 0;
    while (pieces.size() + 1 < parts) {
        const size_t at = input.find(marker, start);
        if (at == std::string_view::npos)
            break;
        pieces.emplace_back(input.substr(start, at - start));
        start = at + marker.size();
    }
    pieces.emplace_back(input.substr(start));
    pieces.resize(parts);
    return pieces;
}

std::vector<std::string> LfLines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TScratchDir::TScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tirmo-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        FuzzFail("cannot make a scratch folder in " + pattern);
    m_path = pattern;
}

TScratchDir::~TScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void FuzzFail(const std::string &what)
{
    std::fprintf(stderr, "property violated: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Widgets are real but never need a display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    static int argc = 1;
    static char name[] = "tirmo-fuzz";
    static char *argv[] = { name, nullptr };
    // Never destroyed: at exit Qt's own statics (the input device list) may
    // be gone before a static application object, whose input devices would
    // then unregister from freed memory. The pointer keeps it reachable, so
    // it is no leak.
    static TApplication *app = new TApplication(argc, argv);
    (void)app;
    SetMessageBoxHook(
        [](const std::string &text, const std::string &) { ShownMessages().push_back(text); });
    return 0;
}
