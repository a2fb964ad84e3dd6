#include "app/Unit1.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The Update button with a real update against a local site: the dialog is
// driven from a timer, since the button waits for it modally.
class UpdateButton : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        app = m_dir.filePath("app").toStdString();
        const std::string site = m_dir.filePath("site").toStdString();
        fs::create_directories(app + "/cdl/data");
        fs::create_directories(site + "/tirmo/cdl");
        WriteFileBytes(app + "/cdl/alpha.cdl", "Alpha\tx\r\nGame Name\tGID\r\nA1\ta1\r\n");
        WriteFileBytes(app + "/cdl/beta.cdl", "Beta\tx\r\nGame Name\tGID\r\nB1\tb1\r\n");
        WriteFileBytes(app + "/version.ini", "alpha.cdl;1\r\nbeta.cdl;1\r\n");
        WriteFileBytes(site + "/tirmo/version.ini", "alpha.cdl;1\r\nbeta.cdl;2\r\nnew.cdl;1\r\n");
        WriteFileBytes(site + "/tirmo/cdl/beta.cdl", "Beta\tx\r\nGame Name\tGID\r\nB2\tb2\r\n");
        WriteFileBytes(site + "/tirmo/cdl/new.cdl", "New\tx\r\nGame Name\tGID\r\nN1\tn1\r\n");

        m_server.start(TIRMO_PYTHON,
                       { TIRMO_TEST_DIR "/servers/update_site.py", QString::fromStdString(site) });
        ASSERT_TRUE(m_server.waitForReadyRead(10000));
        const std::string port = m_server.readLine().trimmed().toStdString();

        form = std::make_unique<TForm1>(app);
        updateForm = std::make_unique<TUpdateForm>(form->AppDir, form.get());
        updateForm->SiteURL = "http://127.0.0.1:" + port;
        updateForm->UpdateKey.clear(); // an unsigned site, whatever key this build has
        form->UpdateForm = updateForm.get();
        form->show();
    }

    void TearDown() override
    {
        updateForm.reset();
        form.reset();
        m_server.kill();
        m_server.waitForFinished(5000);
    }

    // Presses Update; once the modal dialog is up, presses Start Update, then
    // closes the dialog. The dialog runs after the press has returned.
    void UpdateThroughTheButton()
    {
        bool done = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!updateForm->isVisible())
                return;
            poll.stop();
            updateForm->bt_StartUpdate->click();
            updateForm->reject();
            done = true;
        });
        poll.start(10);
        QTimer::singleShot(20000, updateForm.get(), [this] { updateForm->reject(); });
        form->sb_Update->click();
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
    }

    std::string app;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TUpdateForm> updateForm;

private:
    QTemporaryDir m_dir;
    QProcess m_server;
};

} // namespace

TEST_F(UpdateButton, KeepsTheSelectedEntryWithoutReloadingOrSaving)
{
    form->cbo_SysList->setCurrentIndex(form->cbo_SysList->findText("Beta"));
    UpdateThroughTheButton();
    EXPECT_EQ(ReadFileBytes(app + "/cdl/beta.cdl"), "Beta\tx\r\nGame Name\tGID\r\nB2\tb2\r\n");
    EXPECT_EQ(form->cbo_SysList->currentText(), "Beta");
    // The catalogue isn't scanned again: the new database comes at the next start.
    EXPECT_EQ(form->cbo_SysList->count(), 2);
    EXPECT_TRUE(fs::is_empty(app + "/cdl/data"));
    EXPECT_FALSE(updateForm->isVisible());
}

TEST_F(UpdateButton, NothingSelectedStaysUnselected)
{
    UpdateThroughTheButton();
    EXPECT_EQ(form->cbo_SysList->currentIndex(), -1);
    EXPECT_EQ(form->cbo_SysList->count(), 2);
    EXPECT_TRUE(fs::is_empty(app + "/cdl/data"));
}

namespace {

std::vector<std::string> Names(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Reply(const std::string &body)
{
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

// The program itself, in a folder of its own, updating from the site it was
// built for: a server there takes a request and never answers. A quit signal
// during that wait ends the program at once, with the tick saved, nothing
// replaced and no scratch left.
TEST(UpdateProgram, AQuitSignalDuringTheNetworkWaitEndsIt)
{
    const QUrl siteUrl(QString::fromLatin1(kSiteURL));
    if (siteUrl.host() != "127.0.0.1")
        GTEST_SKIP() << "built for the site " << kSiteURL << ", which is no loopback address";
    const std::string oldManifest = "alpha.cdl;1\r\nbeta.cdl;1\r\n";
    const std::string silent = R"({"then": "silent"})";
    const std::string manifestReply = Reply("alpha.cdl;2\r\nbeta.cdl;2\r\n");
    const std::string alphaReply = Reply("Alpha\tx\r\nGame Name\tGID\r\nA2\ta2\r\n");
    const auto json = [](const std::string &bytes) {
        std::string out = "{\"parts\": [[\"";
        for (char c : bytes)
            out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
        return out + "\", 1]]}";
    };
    const std::string stallAtDatabase
        = "[" + json(manifestReply) + ", " + json(alphaReply) + ", " + silent + "]";
    const struct {
        int signal;
        std::string replies;
        int stalled;
    } runs[] = {
        { SIGTERM, "[" + silent + "]", 0 },
        { SIGTERM, stallAtDatabase, 2 },
        { SIGINT, stallAtDatabase, 2 },
        { SIGHUP, stallAtDatabase, 2 },
    };
    for (const auto &run : runs) {
        // A build with a key asks for a signature this server can't give.
        if (run.stalled > 0 && kUpdateKey[0] != '\0')
            continue;
        SCOPED_TRACE(std::string(sigabbrev_np(run.signal)) + " while waiting for reply "
                     + std::to_string(run.stalled));
        QTemporaryDir dir;
        const std::string app = dir.filePath("app").toStdString();
        const std::string logs = dir.filePath("logs").toStdString();
        fs::create_directories(app + "/cdl/data");
        fs::create_directories(logs);
        fs::copy_file(TIRMO_BINARY_DIR "/app/tirmo", app + "/tirmo");
        WriteFileBytes(app + "/cdl/alpha.cdl", "Alpha\tx\r\nGame Name\tGID\r\nA1\ta1\r\n");
        WriteFileBytes(app + "/cdl/beta.cdl", "Beta\tx\r\nGame Name\tGID\r\nB1\tb1\r\n");
        WriteFileBytes(app + "/version.ini", oldManifest);
        WriteFileBytes(dir.filePath("script.json").toStdString(),
                       "{\"replies\": " + run.replies + "}");

        QProcess server;
        server.start(TIRMO_PYTHON,
                     { TIRMO_TEST_DIR "/servers/http_scripted.py", dir.filePath("script.json"),
                       QString::fromStdString(logs), QString::number(siteUrl.port(80)) });
        if (!server.waitForReadyRead(10000))
            GTEST_SKIP() << "the site's port is taken: "
                         << server.readAllStandardError().toStdString();

        const QString report = dir.filePath("probe.txt");
        QProcess tirmo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_PLUGIN_PATH", TIRMO_PROBE_PLUGINS);
        env.insert("QT_QPA_GENERIC_PLUGINS", "tirmoprobe");
        env.insert("TIRMO_PROBE_CHOOSE", "Alpha");
        env.insert("TIRMO_PROBE_TICK", "1");
        env.insert("TIRMO_PROBE_STATUS", dir.filePath("status.txt"));
        env.insert("TIRMO_PROBE_UPDATE", "1");
        env.insert("TIRMO_PROBE_REPORT", report);
        UseChildLeakSuppressions(env);
        tirmo.setProcessEnvironment(env);
        tirmo.start(QString::fromStdString(app + "/tirmo"), {});
        const std::string stalled = logs + "/request-" + std::to_string(run.stalled) + ".bin";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return ReadFileBytes(report.toStdString()) == "updating\n" && fs::exists(stalled);
            },
            30000))
            << tirmo.readAllStandardError().toStdString();

        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(tirmo.processId()), run.signal);
        const bool ended = tirmo.waitForFinished(3000);
        std::printf("%s: the program ended %lld ms after the signal\n", sigabbrev_np(run.signal),
                    static_cast<long long>(clock.elapsed()));
        if (!ended) {
            tirmo.kill();
            tirmo.waitForFinished(5000);
        }
        EXPECT_TRUE(ended) << "the program outlived the signal by 3 s";
        EXPECT_EQ(tirmo.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(tirmo.exitCode(), 0) << tirmo.readAllStandardError().toStdString();
        EXPECT_EQ(ReadFileBytes(app + "/cdl/data/Alpha.dat"), "a1\r\n");
        EXPECT_EQ(ReadFileBytes(app + "/cdl/alpha.cdl"),
                  "Alpha\tx\r\nGame Name\tGID\r\nA1\ta1\r\n");
        EXPECT_EQ(ReadFileBytes(app + "/version.ini"), oldManifest);
        EXPECT_EQ(Names(app), (std::vector<std::string> { "cdl", "tirmo", "version.ini" }));
        EXPECT_EQ(Names(app + "/cdl"),
                  (std::vector<std::string> { "alpha.cdl", "beta.cdl", "data" }));
        server.kill();
        server.waitForFinished(5000);
    }
}
