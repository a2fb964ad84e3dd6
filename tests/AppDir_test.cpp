// The application directory of each layout, and the user's folder that an
// installed layout sets up: real folders in a temporary directory.

#include "platform/AppDir.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable while it lives.
class TEnvironment {
public:
    explicit TEnvironment(const char *name) : m_name(name)
    {
        const char *value = std::getenv(name);
        m_had = value != nullptr;
        m_value = value ? value : "";
    }
    ~TEnvironment()
    {
        if (m_had)
            ::setenv(m_name, m_value.c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    void Set(const std::string &value) { ::setenv(m_name, value.c_str(), 1); }

private:
    const char *m_name;
    std::string m_value;
    bool m_had;
};

class AppDir : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string Make(const std::string &relative)
    {
        const std::string path = root + "/" + relative;
        fs::create_directories(path);
        return path;
    }

    QTemporaryDir m_dir;
    const std::string root = m_dir.path().toStdString();
    TEnvironment xdg { "XDG_DATA_HOME" }, home { "HOME" };
};

TEST_F(AppDir, EachLayoutGivesItsFolder)
{
    xdg.Set(root + "/data");
    Make("installed/share/tirmo/cdl");
    Make("installed/bin");
    Make("beside/bin/cdl");
    Make("beside/share/tirmo/cdl");
    Make("build/app");
    Make("noshare/bin");
    struct Case {
        const char *executableDir;
        bool installed;
    };
    for (const Case &c : { Case { "installed/bin", true }, Case { "beside/bin", false },
                           Case { "build/app", false }, Case { "noshare/bin", false } }) {
        const TAppLayout layout = FindAppLayout(root + "/" + c.executableDir);
        if (c.installed) {
            EXPECT_EQ(layout.AppDir, root + "/data/tirmo") << c.executableDir;
            EXPECT_EQ(layout.ShippedDir, root + "/installed/share/tirmo");
            EXPECT_EQ(layout.EarlierDir, root + "/installed/lib/tirmo");
        } else {
            EXPECT_EQ(layout.AppDir, root + "/" + c.executableDir);
            EXPECT_EQ(layout.ShippedDir, "") << c.executableDir;
        }
    }
    // A relative or missing XDG_DATA_HOME is not taken.
    home.Set(root + "/home");
    for (const char *value : { "relative/data", "" }) {
        xdg.Set(value);
        EXPECT_EQ(FindAppLayout(root + "/installed/bin").AppDir, root + "/home/.local/share/tirmo");
    }
}

TEST_F(AppDir, AUsersFolderThatCantBeWrittenIsNamedAndStillShown)
{
    TPermissionsObeyed obeyed;
    ASSERT_TRUE(obeyed.Active());
    const std::string shipped = Make("share/tirmo/cdl");
    WriteFileBytes(shipped + "/psx.cdl", "shipped");
    Make("data/tirmo/cdl/data");
    WriteFileBytes(root + "/data/tirmo/cdl/saturn.cdl", "the user's");
    fs::permissions(root + "/data/tirmo/cdl", fs::perms(0555));

    std::string problem;
    const TAppLayout layout { root + "/data/tirmo", root + "/share/tirmo", root + "/lib/tirmo" };
    EXPECT_EQ(SetUpAppDir(layout, problem), layout.AppDir) << "the user's databases are shown";
    EXPECT_NE(problem.find("Cannot write folder " + root + "/data/tirmo/cdl: Permission denied"),
              std::string::npos)
        << problem;
    EXPECT_FALSE(fs::exists(root + "/data/tirmo/cdl/psx.cdl"));
    fs::permissions(root + "/data/tirmo/cdl", fs::perms(0755));

    EXPECT_EQ(SetUpAppDir(layout, problem), layout.AppDir);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(ReadFileBytes(root + "/data/tirmo/cdl/psx.cdl"), "shipped");
    EXPECT_EQ(ReadFileBytes(root + "/data/tirmo/cdl/saturn.cdl"), "the user's");
}

} // namespace
