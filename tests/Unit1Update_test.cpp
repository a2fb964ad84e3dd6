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
