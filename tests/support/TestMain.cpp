#include "tests/support/TestSupport.h"

#include "platform/Application.h"

#include <QLocale>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <fstream>
#include <linux/capability.h>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool Capabilities(bool set, __user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

TPermissionsObeyed::TPermissionsObeyed()
{
    __user_cap_data_struct data[2] = {};
    if (!Capabilities(false, data))
        return;
    m_effective[0] = data[0].effective;
    m_effective[1] = data[1].effective;
    for (int cap : { CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER })
        data[cap / 32].effective &= ~(1u << (cap % 32));
    m_active = Capabilities(true, data) || ::geteuid() != 0;
}

TPermissionsObeyed::~TPermissionsObeyed()
{
    __user_cap_data_struct data[2] = {};
    if (!Capabilities(false, data))
        return;
    data[0].effective = m_effective[0];
    data[1].effective = m_effective[1];
    Capabilities(true, data);
}

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

namespace {

std::string Unescaped(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char kind = text[++i];
        if (kind == 'x' && i + 2 < text.size()) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += kind == 't' ? '\t' : kind == 'n' ? '\n' : kind;
        }
    }
    return out;
}

} // namespace

std::vector<TEntryNameCase> ReadEntryNameCases(const std::string &path)
{
    std::vector<TEntryNameCase> cases;
    std::istringstream lines(ReadFileBytes(path));
    std::string line;
    std::getline(lines, line); // the column names
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream row(line);
        for (std::string field; std::getline(row, field, '\t');)
            fields.push_back(field);
        fields.resize(4);
        cases.push_back({ Unescaped(fields[0]), fields[1] == "ok", fields[2], fields[3] });
    }
    return cases;
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

void UseChildLeakSuppressions(QProcessEnvironment &env)
{
    env.insert("LSAN_OPTIONS",
               "suppressions=" TIRMO_SUPPORT_TEST_DIR "/lsan-child.supp:print_suppressions=0");
}
