#include "platform/Application.h"
#include "platform/Shell.h"
#include "tests/support/UpdateSite.h"
#include "updater/Unit2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const char *const kNoLocal = "Your Version.ini couldn't be found. Update aborted";
const char *const kNoServer = "Web Version info file couldn't be found/downloaded. Update aborted";
const char *const kNewProgram = "New Version of TIRMO Program Available. Launching Browser";

// The update dialog against a real site.
class UpdateRun : public UpdateSiteTest {
protected:
    void SetUp() override
    {
        UpdateSiteTest::SetUp();
        m_previousHook = SetOpenUrlHook([this](const std::string &url) { opened.push_back(url); });
    }

    void TearDown() override
    {
        form.reset();
        labels.clear();
        opened.clear();
        SetOpenUrlHook(m_previousHook);
        UpdateSiteTest::TearDown();
    }

    // Starts the site server with the given faults and makes the dialog.
    void Serve(const QStringList &faults = {}) { MakeForm(StartSite(faults)); }

    void MakeForm(const std::string &url)
    {
        form = std::make_unique<TUpdateForm>(app);
        form->SiteURL = url;
        // Whatever key this build has, a test says which it uses.
        form->UpdateKey.clear();
        form->UpdateProt->OnAboutToSend
            = [this](QObject *) { labels.push_back(form->lb_Update1->text().toStdString()); };
        form->show();
    }

    std::vector<std::string> Boxes()
    {
        std::vector<std::string> texts;
        for (const auto &[text, caption] : ShownMessageBoxes())
            texts.push_back(text);
        return texts;
    }

    std::string Label() { return form->lb_Update1->text().toStdString(); }

    std::unique_ptr<TUpdateForm> form;
    std::vector<std::string> labels, opened;

private:
    OpenUrlHook m_previousHook;
};

} // namespace

TEST_F(UpdateRun, LocalManifestMissing)
{
    Local("version.bak", "old bak");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { std::string(kNoLocal) + "\n" + app
                                         + "/version.ini: no such file" });
    EXPECT_EQ(Label(), "Update aborted");
    EXPECT_FALSE(LocalExists("version.ini"));
    EXPECT_EQ(LocalBytes("version.bak"), "old bak");
    EXPECT_TRUE(Requests().empty());
    EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
}

// A named pipe in version.ini's place is refused, naming it, and never
// waited on; no database is fetched.
TEST_F(UpdateRun, ALocalManifestThatIsNoFileIsRefused)
{
    ASSERT_EQ(::mkfifo((app + "/version.ini").c_str(), 0644), 0);
    Site("version.ini", "a.cdl;1\r\n");
    Site("cdl/a.cdl", "A\r\nGame Name\tGID\r\n");
    Serve();
    QTest::mouseClick(form->bt_StartUpdate, Qt::LeftButton);
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { "Cannot open file " + app
                                         + "/version.ini: Is a named pipe, not a file" });
    EXPECT_EQ(Requests(), std::vector<std::string> { "/tirmo/version.ini" });
    EXPECT_TRUE(fs::is_fifo(app + "/version.ini"));
    EXPECT_FALSE(LocalExists("cdl/a.cdl"));
    EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
}

TEST_F(UpdateRun, ServerManifest404IsRefused)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("version.bak", "stale");
    Serve();
    form->bt_StartUpdateClick();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind(kNoServer, 0), 0u) << Boxes()[0];
    EXPECT_NE(Boxes()[0].find("/tirmo/version.ini: the server answered 404"), std::string::npos);
    EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
    EXPECT_FALSE(LocalExists("version.bak"));
    EXPECT_EQ(fs::directory_iterator(app + "/cdl")->path().filename(), "data");
}

TEST_F(UpdateRun, NoChangedEntry)
{
    Local("version.ini", "b.cdl;2\r\nA.cdl;1\r\n");
    Site("version.ini", "a.cdl;1\nb.cdl;2\n");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(Label(), "No Database Update Available");
    EXPECT_EQ(LocalBytes("version.bak"), "a.cdl;1\nb.cdl;2\n");
    EXPECT_EQ(LocalBytes("version.ini"), "b.cdl;2\r\nA.cdl;1\r\n");
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(form->pb_Update->value(), form->pb_Update->maximum());
}

TEST_F(UpdateRun, ChangedDatabasesReplacedInSortedOrder)
{
    Local("version.ini", "c.cdl;1\r\nb.cdl;1\r\nonly-local.cdl;1\r\n");
    Local("cdl/c.cdl", "old c");
    Local("cdl/only-local.cdl", "kept");
    const std::string manifest = "c.cdl;2\r\nB.cdl;2\r\na.cdl;1\r\n";
    Site("version.ini", manifest);
    Site("cdl/a.cdl", "new a");
    Site("cdl/B.cdl", "new B");
    Site("cdl/c.cdl", "new c");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { "3 databases updated. New systems appear in the list "
                                         "when TIRMO is started again: B.cdl, a.cdl" });
    EXPECT_EQ(labels,
              (std::vector<std::string> { "Waiting to Update", "Updating Database 1/3",
                                          "Updating Database 2/3", "Updating Database 3/3" }));
    EXPECT_EQ(Requests(),
              (std::vector<std::string> { "/tirmo/version.ini", "/tirmo/cdl/a.cdl",
                                          "/tirmo/cdl/B.cdl", "/tirmo/cdl/c.cdl" }));
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
    EXPECT_EQ(LocalBytes("cdl/B.cdl"), "new B");
    EXPECT_EQ(LocalBytes("cdl/c.cdl"), "new c");
    EXPECT_EQ(LocalBytes("cdl/only-local.cdl"), "kept");
    EXPECT_EQ(LocalBytes("version.ini"), manifest);
    EXPECT_FALSE(LocalExists("version.bak"));
    EXPECT_EQ(Label(), "3 databases updated");
    EXPECT_EQ(form->pb_Update->maximum(), 5);
    EXPECT_EQ(form->pb_Update->value(), 5);
}

TEST_F(UpdateRun, NamesWithSpacesLowercaseMainAndDuplicates)
{
    Local("version.ini", "");
    Site("version.ini", "Some System.cdl;1\nmain;1\nmain;1\n");
    Site("cdl/Some System.cdl", "spaced");
    Site("cdl/main", "a database called main");
    Serve();
    form->bt_StartUpdateClick();
    // "main" is a database, but no system: only *.cdl files are listed.
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { "2 databases updated. A new system appears in the list "
                                         "when TIRMO is started again: Some System.cdl" });
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(Requests(),
              (std::vector<std::string> { "/tirmo/version.ini", "/tirmo/cdl/main",
                                          "/tirmo/cdl/main", "/tirmo/cdl/Some%20System.cdl" }));
    EXPECT_EQ(labels.back(), "Updating Database 3/3");
    EXPECT_EQ(Label(), "2 databases updated");
    EXPECT_EQ(LocalBytes("cdl/Some System.cdl"), "spaced");
    EXPECT_EQ(LocalBytes("cdl/main"), "a database called main");
}

TEST_F(UpdateRun, NewProgramAloneThenAgain)
{
    Local("version.ini", "Main;1\r\na.cdl;1\r\n");
    Site("version.ini", "Main;2\r\na.cdl;1\r\n");
    Serve();
    for (int run = 0; run < 2; ++run) {
        form->bt_StartUpdateClick();
        EXPECT_EQ(Label(), "No Database Update Available");
        EXPECT_EQ(LocalBytes("version.ini"), "Main;1\r\na.cdl;1\r\n");
        EXPECT_EQ(LocalBytes("version.bak"), "Main;2\r\na.cdl;1\r\n");
    }
    EXPECT_EQ(Boxes(), (std::vector<std::string> { kNewProgram, kNewProgram }));
    EXPECT_EQ(opened, (std::vector<std::string> { form->SiteURL, form->SiteURL }));
}

TEST_F(UpdateRun, NewProgramWithDatabases)
{
    Local("version.ini", "Main;1\r\n");
    Local("cdl/a.cdl", "old");
    Site("version.ini", "Main;2\r\na.cdl;2\r\n");
    Site("cdl/a.cdl", "new");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new");
    EXPECT_EQ(LocalBytes("version.ini"), "Main;1\r\n");
    EXPECT_EQ(LocalBytes("version.bak"), "Main;2\r\na.cdl;2\r\n");
    EXPECT_EQ(Boxes(), std::vector<std::string> { kNewProgram });
}

// The notice of a newer program and the browser come whatever became of the
// databases; the failure box after them.
TEST_F(UpdateRun, NewProgramIsAnnouncedBeforeAFailedDownload)
{
    Local("version.ini", "Main;0.2\r\na.cdl;1\r\nb.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Local("cdl/b.cdl", "old b");
    Site("version.ini", "Main;0.3\r\na.cdl;2\r\nb.cdl;2\r\n");
    Site("cdl/a.cdl", "new a");
    Serve();
    std::vector<size_t> boxesWhenOpened;
    SetOpenUrlHook([&](const std::string &) { boxesWhenOpened.push_back(Boxes().size()); });
    form->bt_StartUpdateClick();
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[0], kNewProgram);
    EXPECT_NE(Boxes()[1].find("b.cdl couldn't be downloaded"), std::string::npos) << Boxes()[1];
    EXPECT_NE(Boxes()[1].find("the server answered 404"), std::string::npos) << Boxes()[1];
    EXPECT_EQ(boxesWhenOpened, std::vector<size_t> { 1 });
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
    EXPECT_EQ(LocalBytes("cdl/b.cdl"), "old b");
    EXPECT_EQ(LocalBytes("version.ini"), "Main;0.2\r\na.cdl;1\r\nb.cdl;1\r\n");
    EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "b.cdl", "data" }));
}

// Each run starts from "Waiting to Update" and an empty bar, whatever the
// last one left, and ends saying what it did.
TEST_F(UpdateRun, EachRunStartsAfreshAndEndsSayingWhatItDid)
{
    Local("version.ini", "a.cdl;1\r\nb.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Local("cdl/b.cdl", "old b");
    Site("version.ini", "a.cdl;2\r\nb.cdl;2\r\n");
    Site("cdl/a.cdl", "new a");
    Site("cdl/b.cdl", "new b");
    Serve();
    std::vector<std::pair<std::string, int>> shown; // label and bar at each request
    form->UpdateProt->OnAboutToSend
        = [&](QObject *) { shown.emplace_back(Label(), form->pb_Update->value()); };
    form->bt_StartUpdateClick();
    EXPECT_EQ(Label(), "2 databases updated");
    EXPECT_EQ(form->pb_Update->value(), form->pb_Update->maximum());
    EXPECT_EQ(Boxes(), std::vector<std::string> {});
    shown.clear();
    form->bt_StartUpdateClick();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], std::make_pair(std::string("Waiting to Update"), 0));
    EXPECT_EQ(Label(), "No Database Update Available");
}

// Cancel, Escape and the close button stop a download alike: nothing
// changes, no scratch stays, and the user is told.
TEST_F(UpdateRun, ACancelChangesNothingAndSaysSo)
{
    for (const std::string how : { "Cancel", "Escape", "close" }) {
        SCOPED_TRACE(how);
        TearDown();
        SetUp();
        Local("version.ini", "a.cdl;1\r\nb.cdl;1\r\n");
        Local("cdl/a.cdl", "old a");
        Local("cdl/b.cdl", "old b");
        Site("version.ini", "a.cdl;2\r\nb.cdl;2\r\n");
        Site("cdl/a.cdl", "new a");
        Site("cdl/b.cdl", std::string(200, 'x'));
        Serve({ "slow:/tirmo/cdl/b.cdl" });
        EXPECT_FALSE(form->bt_Cancel->isVisible());
        bool cancelShown = false;
        QTimer cancel;
        QObject::connect(&cancel, &QTimer::timeout, form.get(), [&] {
            const std::vector<std::string> requests = Requests();
            if (requests.empty() || requests.back() != "/tirmo/cdl/b.cdl"
                || !form->bt_Cancel->isEnabled())
                return;
            cancel.stop();
            cancelShown = form->bt_Cancel->isVisible() && !form->bt_StartUpdate->isVisible()
                && form->bt_Cancel->geometry() == form->bt_StartUpdate->geometry()
                && form->bt_Cancel->toolTip().contains("Escape");
            if (how == "Cancel")
                QTest::mouseClick(form->bt_Cancel, Qt::LeftButton);
            else if (how == "Escape")
                QTest::keyClick(form.get(), Qt::Key_Escape);
            else
                form->close();
        });
        cancel.start(10);
        form->bt_StartUpdateClick();
        EXPECT_TRUE(cancelShown);
        EXPECT_EQ(Boxes(), std::vector<std::string> { "Update cancelled. Nothing was changed." });
        EXPECT_FALSE(form->isVisible());
        EXPECT_FALSE(form->bt_Cancel->isVisibleTo(form.get()));
        EXPECT_TRUE(form->bt_StartUpdate->isVisibleTo(form.get()));
        EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
        EXPECT_EQ(LocalBytes("cdl/b.cdl"), "old b");
        EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\nb.cdl;1\r\n");
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "b.cdl", "data" }));
        EXPECT_EQ(AppFiles(), (std::vector<std::string> { "cdl", "version.ini" }));
    }
}

// A close request that reaches the dialog while a box tells how the run
// ended (as when it comes in the same pass as the box's OK) has nothing left
// to stop: the dialog closes at once, so the main window isn't left blocked
// behind it, and what the update did stands.
TEST_F(UpdateRun, ClosingWhileABoxTellsTheOutcomeClosesAtOnce)
{
    const struct {
        const char *how;
        bool found; // the site has a.cdl
    } runs[] = { { "Escape", true }, { "close", true }, { "close", false } };
    for (const auto &run : runs) {
        SCOPED_TRACE(std::string(run.how) + (run.found ? "" : ", a.cdl not found"));
        TearDown();
        SetUp();
        Local("version.ini", "a.cdl;1\r\n");
        Local("cdl/a.cdl", "old a");
        Site("version.ini", "a.cdl;2\r\nn.cdl;1\r\n");
        if (run.found)
            Site("cdl/a.cdl", "new a");
        Site("cdl/n.cdl", "new n");
        Serve();
        std::vector<bool> shownAfterClose;
        const MessageBoxHook recorder = SetMessageBoxHook({});
        SetMessageBoxHook([&](const std::string &text, const std::string &caption) {
            recorder(text, caption);
            if (std::string(run.how) == "Escape")
                QTest::keyClick(form.get(), Qt::Key_Escape);
            else
                form->close();
            shownAfterClose.push_back(form->isVisible());
        });
        form->bt_StartUpdateClick();
        SetMessageBoxHook(recorder);
        EXPECT_EQ(shownAfterClose, std::vector<bool> { false });
        ASSERT_EQ(Boxes().size(), 1u);
        if (run.found) {
            EXPECT_EQ(Boxes()[0],
                      "2 databases updated. A new system appears in the list when TIRMO is "
                      "started again: n.cdl");
            EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
            EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;2\r\nn.cdl;1\r\n");
        } else {
            EXPECT_NE(Boxes()[0].find("a.cdl couldn't be downloaded"), std::string::npos)
                << Boxes()[0];
            EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
            EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
        }
        EXPECT_FALSE(form->Running());
        EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
    }
}

// What the first box tells is the last thing a closed dialog shows: a newer
// program is no longer announced, nor the browser opened on it.
TEST_F(UpdateRun, AfterAClosingDuringTheFirstBoxNothingMoreIsShownOrOpened)
{
    Local("version.ini", "Main;1\r\n");
    Site("version.ini", "Main;2\r\nn.cdl;1\r\n");
    Site("cdl/n.cdl", "new n");
    Serve();
    const MessageBoxHook recorder = SetMessageBoxHook({});
    SetMessageBoxHook([&](const std::string &text, const std::string &caption) {
        recorder(text, caption);
        form->close();
    });
    form->bt_StartUpdateClick();
    SetMessageBoxHook(recorder);
    ASSERT_EQ(Boxes().size(), 1u) << Boxes()[1];
    EXPECT_NE(Boxes()[0].find("A new system appears"), std::string::npos) << Boxes()[0];
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(LocalBytes("cdl/n.cdl"), "new n");
}

TEST_F(UpdateRun, EscapeDuringSlowDownloadAbortsAndCloses)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Site("version.ini", "a.cdl;2\r\n");
    Site("cdl/a.cdl", std::string(200, 'x'));
    Serve({ "slow:/tirmo/cdl/a.cdl" });
    // Escape once the server has been asked for the slow database.
    QTimer escape;
    QObject::connect(&escape, &QTimer::timeout, form.get(), [&] {
        const std::vector<std::string> requests = Requests();
        if (!requests.empty() && requests.back() == "/tirmo/cdl/a.cdl") {
            escape.stop();
            QTest::keyClick(form.get(), Qt::Key_Escape);
        }
    });
    escape.start(10);
    QElapsedTimer clock;
    clock.start();
    form->bt_StartUpdateClick();
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
    EXPECT_FALSE(form->Running());
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
    EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(app + "/cdl"), fs::directory_iterator()), 2);
}
