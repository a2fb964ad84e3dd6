#include "tests/support/TestSupport.h"

#include "platform/Application.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

std::vector<std::pair<std::string, std::string>> &ShownMessageBoxes()
{
    static std::vector<std::pair<std::string, std::string>> boxes;
    return boxes;
}

std::string ReadFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Widgets are real but never need a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Collation and number formats must not depend on the machine.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TApplication app(argc, argv);
    SetMessageBoxHook([](const std::string &text, const std::string &caption) {
        ShownMessageBoxes().emplace_back(text, caption);
    });
    return RUN_ALL_TESTS();
}
