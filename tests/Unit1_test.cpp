#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Clipboard.h"
#include "platform/Exceptions.h"
#include "platform/Shell.h"
#include "tests/support/TestSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>

namespace {

class Form1 : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    std::string appDir = tmp.path().toStdString();
    std::vector<std::string> opened;
    OpenUrlHook previousHook;

    void SetUp() override
    {
        QDir(tmp.path()).mkpath("cdl/data");
        previousHook = SetOpenUrlHook([this](const std::string &url) { opened.push_back(url); });
        ShownMessageBoxes().clear();
    }
    void TearDown() override { SetOpenUrlHook(previousHook); }

    void AddDatabase(const std::string &file, const std::string &firstLine)
    {
        WriteFileBytes(appDir + "/cdl/" + file, firstLine + "\r\nGame Name\tGID\r\nA\t1\r\n");
    }

    // Shown, laid out and resized so that the outer width is `outerWidth`.
    static void ShowAt(TForm1 &form, int outerWidth)
    {
        form.show();
        form.resize(outerWidth - 2 * TForm1::FrameWidth, form.height());
        QTRY_COMPARE_WITH_TIMEOUT(form.OuterWidth(), outerWidth, 5000);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    static QStringList Entries(const TForm1 &form)
    {
        QStringList entries;
        for (int i = 0; i < form.cbo_SysList->count(); ++i)
            entries << form.cbo_SysList->itemText(i);
        return entries;
    }
};

} // namespace

TEST_F(Form1, StartsInTheNoSystemState)
{
    AddDatabase("psx.cdl", "sony PlayStation\tCD games");
    AddDatabase("saturn.cdl", "Sega Saturn");
    AddDatabase("cdi.cdl", "CD-i\tPhilips");
    TForm1 form(appDir);
    form.show();

    EXPECT_EQ(form.AppDir, appDir);
    EXPECT_EQ(form.windowTitle(), "TIRMO - Velmarin v0.2");
    EXPECT_EQ(form.OuterWidth(), 695);
    EXPECT_EQ(form.minimumWidth() + 2 * TForm1::FrameWidth, 558);
    EXPECT_EQ(Entries(form), (QStringList { "CD-i", "Sega Saturn", "sony PlayStation" }));
    EXPECT_EQ(form.cbo_SysList->currentIndex(), -1);
    EXPECT_TRUE(form.cbo_SysList->isEnabled());
    EXPECT_FALSE(form.cbo_SysList->isEditable());
    EXPECT_EQ(form.CurSys, nullptr);
    EXPECT_TRUE(form.acg_GameList->isHidden());
    EXPECT_FALSE(form.sb_SaveHave->isEnabled());
    EXPECT_FALSE(form.sb_SaveMiss->isEnabled());
    EXPECT_TRUE(form.sb_Update->isEnabled());
    EXPECT_TRUE(form.sb_About->isEnabled());
    EXPECT_EQ(form.StatusBar1->toolTip(), "Double click to copy text to clipboard");
    EXPECT_EQ(form.StatusText(), "Choose a system to see its games");
}

TEST_F(Form1, DesignLook)
{
    TForm1 form(appDir);
    ShowAt(form, 695);
    struct Button {
        QToolButton *button;
        const char *caption;
        int left, pointSize;
        QColor color;
    } buttons[] = {
        { form.sb_SaveHave, "Have", 0, 12, Qt::red },
        { form.sb_SaveMiss, "Miss", 75, 12, Qt::red },
        { form.sb_Update, "Update", 537, 10, form.palette().color(QPalette::WindowText) },
        { form.sb_About, "Web", 612, 10, Qt::blue },
    };
    for (const Button &b : buttons) {
        EXPECT_EQ(b.button->text(), b.caption);
        EXPECT_EQ(b.button->geometry(), QRect(b.left, 2, 75, 22)) << b.caption;
        EXPECT_EQ(b.button->font().pointSize(), b.pointSize) << b.caption;
        EXPECT_TRUE(b.button->font().bold()) << b.caption;
        EXPECT_EQ(b.button->palette().color(QPalette::Active, QPalette::ButtonText), b.color)
            << b.caption;
    }
    EXPECT_EQ(form.ToolBar1->geometry(), QRect(0, 0, 687, 26));
    EXPECT_EQ(form.cbo_SysList->geometry(), QRect(218, 5, 250, 19));
    form.cbo_SysList->addItem("PlayStation");
    EXPECT_EQ(form.cbo_SysList->view()->sizeHintForRow(0), 13);
    EXPECT_EQ(form.StatusBar1->height(), 20);
    EXPECT_EQ(form.StatusBar1->geometry().bottom(), form.height() - 1);
    EXPECT_EQ(form.font().pointSize(), 8);

    // The floppy glyph on both export buttons, its bottom-left colour transparent.
    for (QToolButton *b : { form.sb_SaveHave, form.sb_SaveMiss }) {
        const QImage glyph = b->icon().pixmap(16, 16).toImage();
        ASSERT_EQ(glyph.size(), QSize(16, 16));
        EXPECT_EQ(glyph.pixelColor(0, 15).alpha(), 0);
        EXPECT_EQ(glyph.pixelColor(8, 8).alpha(), 255);
        // At scale 2 it is drawn from a picture of twice the size, not blown up.
        const QImage sharp = b->icon().pixmap(QSize(16, 16), 2.0).toImage();
        EXPECT_EQ(sharp.size(), QSize(32, 32));
        EXPECT_EQ(sharp.pixelColor(0, 31).alpha(), 0);
        EXPECT_NE(sharp, glyph.scaled(32, 32).convertToFormat(sharp.format()));
    }
    EXPECT_TRUE(form.sb_Update->icon().isNull());
}

TEST_F(Form1, ResizeRuleKeepsUpdateAndWebRightAndTheSelectorCentred)
{
    TForm1 form(appDir);
    struct Case {
        int outer, spacer, selectorLeft;
    } cases[] = { { 558, 250, 150 }, { 695, 387, 218 }, { 800, 492, 271 }, { 1001, 693, 371 } };
    for (const Case &c : cases) {
        ShowAt(form, c.outer);
        EXPECT_EQ(form.ControlBar1->width(), c.spacer) << c.outer;
        EXPECT_EQ(form.cbo_SysList->x(), c.selectorLeft) << c.outer;
        EXPECT_EQ(form.sb_About->geometry().right(), form.width() - 1) << c.outer;
        EXPECT_EQ(form.sb_Update->x(), 150 + c.spacer) << c.outer;
    }
    form.resize(300, 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.OuterWidth(), 558) << "the minimum size holds";
}

TEST_F(Form1, NoDatabasesLeaveTheSelectorEmptyAndSaySo)
{
    TForm1 form(appDir);
    form.show();
    EXPECT_EQ(form.cbo_SysList->count(), 0);
    EXPECT_EQ(form.SysHead.Next, nullptr);
    EXPECT_EQ(form.StatusText().toStdString(),
              "No game databases (*.cdl) found in " + appDir + "/cdl");
}

TEST_F(Form1, EntriesShowEightBitNamesAndKeepTheirBytes)
{
    AddDatabase("a.cdl", "Pok\xe9mon CD\tx");
    AddDatabase("b.cdl", "\xc3\x89t\xc3\xa9\tx");
    TForm1 form(appDir);
    EXPECT_EQ(Entries(form),
              (QStringList { QString::fromUtf8("\xc3\x89t\xc3\xa9"),
                             QString::fromUtf8("Pok\xc3\xa9mon CD") }));
    EXPECT_EQ(form.cbo_SysList->itemData(1).toByteArray().toStdString(), "Pok\xe9mon CD");
}

TEST_F(Form1, WebButtonHandsTheSiteUrlOver)
{
    TForm1 form(appDir);
    form.show();
    QTest::mouseClick(form.sb_About, Qt::LeftButton);
    EXPECT_EQ(opened, std::vector<std::string> { kSiteURL });
    EXPECT_TRUE(ShownMessageBoxes().empty());
}

// Every toolbar function by keyboard, from the list and from the selector,
// with the key shown where a user and a screen reader look for it.
TEST_F(Form1, EachButtonHasAShortcutThatTypingLeavesAlone)
{
    WriteFileBytes(appDir + "/cdl/arc.cdl",
                   "Arcade\r\nGame Name\tGID\r\nAlpha\t1\r\nHyper\t2\r\nMega\t3\r\n");
    TForm1 form(appDir);
    TUpdateForm update(form.AppDir, &form);
    form.UpdateForm = &update;
    std::vector<std::string> proposed;
    form.ExecuteSaveDialog = [&](QFileDialog &dialog) -> std::optional<std::string> {
        proposed.push_back(dialog.selectedFiles().value(0).section('/', -1).toStdString());
        return std::nullopt;
    };
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    struct Case {
        QToolButton *button;
        QKeySequence keys;
        const char *tip;
    } cases[] = {
        { form.sb_SaveHave, Qt::CTRL | Qt::Key_H, "Save the list of games you have (Ctrl+H)" },
        { form.sb_SaveMiss, Qt::CTRL | Qt::Key_M, "Save the list of games you miss (Ctrl+M)" },
        { form.sb_Update, Qt::Key_F5, "Update the game databases (F5)" },
        { form.sb_About, Qt::Key_F1, "Open the web site (F1)" },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.button->shortcut(), c.keys);
        EXPECT_EQ(c.button->toolTip(), c.tip);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(c.button)->text(QAccessible::Description),
                  "Shortcut: " + c.keys.toString(QKeySequence::NativeText));
        EXPECT_EQ(c.button->focusPolicy(), Qt::NoFocus) << "the Tab order stays as it was";
    }

    // No export before a system is shown.
    form.cbo_SysList->setFocus();
    QTest::keyClick(form.cbo_SysList, Qt::Key_H, Qt::ControlModifier);
    QTest::qWait(300);
    EXPECT_TRUE(proposed.empty());

    QTest::keyClick(form.cbo_SysList, Qt::Key_Down);
    ASSERT_NE(form.CurSys, nullptr);
    TAdvColumnGrid *list = form.acg_GameList;
    list->setFocus();
    // Letters still go to the typed goto, also the shortcuts' letters.
    QTest::keyClicks(list, "me");
    EXPECT_EQ(list->Row(), 3);
    QTest::keyClick(list, Qt::Key_H, Qt::ControlModifier);
    QTRY_COMPARE(proposed, std::vector<std::string> { "Arcade Have.txt" });
    EXPECT_EQ(list->IncrementalSearchText, "ME") << "Ctrl+H is no Backspace here";
    form.cbo_SysList->setFocus();
    QTest::keyClick(form.cbo_SysList, Qt::Key_M, Qt::ControlModifier);
    QTRY_COMPARE(proposed.size(), 2u);
    EXPECT_EQ(proposed[1], "Arcade Miss.txt");
    EXPECT_EQ(form.cbo_SysList->currentText(), "Arcade") << "the type-ahead saw no letter";

    QTest::keyClick(list, Qt::Key_F1);
    QTRY_COMPARE(opened, std::vector<std::string> { kSiteURL });

    bool dialogShown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() == &update) {
            dialogShown = true;
            update.reject();
        }
    });
    poll.start(10);
    QTest::keyClick(list, Qt::Key_F5);
    QTRY_VERIFY(dialogShown);
    EXPECT_EQ(form.cbo_SysList->currentText(), "Arcade");
}

// A press through the button's accessible action gets its reply before the
// dialog's loop runs.
TEST_F(Form1, UpdateReturnsBeforeItsDialogRuns)
{
    TForm1 form(appDir);
    TUpdateForm update(form.AppDir, &form);
    form.UpdateForm = &update;
    form.show();
    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (update.isVisible()) {
            shown = true;
            update.reject();
        }
    });
    poll.start(10);
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(form.sb_Update);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(shown);
    EXPECT_FALSE(update.isVisible());
    QTRY_VERIFY(shown);
    EXPECT_FALSE(update.isVisible());
}

TEST_F(Form1, ExceptionInAHandlerIsShownAndTheWindowGoesOn)
{
    TForm1 form(appDir);
    form.show();
    SetOpenUrlHook([](const std::string &) { throw Exception("No browser to open the site"); });
    QTest::mouseClick(form.sb_About, Qt::LeftButton);
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0],
              (std::pair<std::string, std::string> { "No browser to open the site", "TIRMO" }));

    SetOpenUrlHook([this](const std::string &url) { opened.push_back(url); });
    QTest::mouseClick(form.sb_About, Qt::LeftButton);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(form.isVisible());
}

TEST_F(Form1, DoubleClickCopiesExactlyTheStatusText)
{
    AddDatabase("psx.cdl", "PlayStation\tx");
    TForm1 form(appDir);
    form.show();
    ClipboardSetText("something else");
    QTest::mouseDClick(form.StatusBar1, Qt::LeftButton);
    EXPECT_EQ(ClipboardText(), "Choose a system to see its games");

    form.SetStatusText("You Have 7 of 120 known PlayStation Games");
    QTest::mouseDClick(form.StatusBar1->findChild<QLabel *>(), Qt::LeftButton);
    EXPECT_EQ(ClipboardText(), "You Have 7 of 120 known PlayStation Games");

    form.SetStatusText("");
    QTest::mouseDClick(form.StatusBar1, Qt::LeftButton);
    EXPECT_EQ(ClipboardText(), "");
}

TEST_F(Form1, AppDirIsTheExecutablesDirectory)
{
    TForm1 form;
    EXPECT_EQ(form.AppDir, QCoreApplication::applicationDirPath().toStdString());
    EXPECT_FALSE(form.AppDir.ends_with('/'));
}

TEST_F(Form1, ProgramRunsOnTheSampleDataAndTouchesNothing)
{
    const QString dir = tmp.path();
    ASSERT_TRUE(QFile::copy(TIRMO_BINARY_DIR "/app/tirmo", dir + "/tirmo"));
    ASSERT_TRUE(QFile::copy(TIRMO_SOURCE_DIR "/sample/version.ini", dir + "/version.ini"));
    for (const QString &name :
         QDir(TIRMO_SOURCE_DIR "/sample/cdl").entryList({ "*.cdl" }, QDir::Files))
        ASSERT_TRUE(QFile::copy(TIRMO_SOURCE_DIR "/sample/cdl/" + name, dir + "/cdl/" + name));
    const QStringList before
        = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    QProcess tirmo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    tirmo.setProcessEnvironment(env);
    tirmo.start(dir + "/tirmo", {});
    ASSERT_TRUE(tirmo.waitForStarted(10000));
    EXPECT_FALSE(tirmo.waitForFinished(2000))
        << "ended early: " << tirmo.readAllStandardError().toStdString();
    tirmo.kill();
    tirmo.waitForFinished(10000);

    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    EXPECT_TRUE(QDir(dir + "/cdl/data").isEmpty());
}

namespace {

// The caption of the modal window that `open` shows, which is then closed.
std::string CaptionOfModal(const std::function<QString(QWidget &)> &title,
                           const std::function<void()> &open)
{
    std::string caption = "(none shown)";
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->windowHandle() && modal->windowHandle()->isExposed()) {
            caption = title(*modal).toStdString();
            modal->close();
        }
    });
    poll.start(20);
    open();
    // A dialog may open after `open` has returned.
    for (QDeadlineTimer deadline(10000); caption == "(none shown)" && !deadline.hasExpired();)
        QTest::qWait(10);
    return caption;
}

// The captions of the main window, the save dialog, the update dialog and a
// message box, each as `title` reads it from the window once shown.
std::vector<std::string> Captions(const std::string &appDir,
                                  const std::function<QString(QWidget &)> &title)
{
    std::vector<std::string> captions;
    TForm1 form(appDir);
    TUpdateForm update(form.AppDir, &form);
    form.UpdateForm = &update;
    form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    captions.push_back(title(form).toStdString());

    form.cbo_SysList->setFocus();
    QTest::keyClick(form.cbo_SysList, Qt::Key_Down);
    form.ExecuteSaveDialog = [](QFileDialog &dialog) -> std::optional<std::string> {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.exec();
        return std::nullopt;
    };
    captions.push_back(
        CaptionOfModal(title, [&] { QTest::mouseClick(form.sb_SaveHave, Qt::LeftButton); }));
    captions.push_back(
        CaptionOfModal(title, [&] { QTest::mouseClick(form.sb_Update, Qt::LeftButton); }));
    // The real message box, not the recorder.
    const MessageBoxHook recorder = SetMessageBoxHook({});
    captions.push_back(
        CaptionOfModal(title, [] { ShowMessageBox("Something to say", Application()->Title()); }));
    SetMessageBoxHook(recorder);
    return captions;
}

const std::vector<std::string> kCaptions
    = { "TIRMO - Velmarin v0.2", "Save List", "Update", "TIRMO" };

// A property of a window as the X server holds it for window managers.
QString WindowProperty(QWidget &window, const char *name)
{
    QProcess xprop;
    xprop.start("xprop", { "-id", QString::number(window.winId()), "-notype", name });
    EXPECT_TRUE(xprop.waitForFinished(10000));
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput());
    const qsizetype open = out.indexOf('"');
    return open < 0 ? "(no " + QString(name) + ": " + out + ")"
                    : out.mid(open + 1, out.lastIndexOf('"') - open - 1);
}

} // namespace

TEST_F(Form1, WindowCaptionsAreThoseOfTheForms)
{
    AddDatabase("psx.cdl", "PlayStation\tx");
    EXPECT_EQ(Captions(appDir, [](QWidget &w) { return w.windowHandle()->title(); }), kCaptions);
}

// Run on a screen of each size, in a child with the offscreen platform's
// screen set from a file: where the window stands and how big it is.
TEST_F(Form1, TheWholeWindowIsOnTheScreen)
{
    if (qEnvironmentVariableIsSet("TIRMO_SCREEN_CHILD")) {
        TForm1 form(appDir);
        form.show();
        QCoreApplication::processEvents();
        const QRect frame = form.frameGeometry();
        std::printf("FRAME %d %d %d %d\n", frame.x(), frame.y(), frame.width(), frame.height());
        return;
    }
    struct Case {
        QSize screen;
        QRect frame;
    } cases[] = {
        // The offscreen platform's frame is 2 pixels on each side.
        { { 1920, 1080 }, { 274, 313, 691, 517 } }, // fits: the design position
        { { 1366, 768 }, { 274, 251, 691, 517 } }, // moved up, whole
        { { 1024, 600 }, { 274, 83, 691, 517 } },
        { { 640, 400 }, { 0, 0, 640, 400 } }, // moved and shrunk
        { { 500, 100 }, { 0, 0, 554, 127 } }, // never below the minimum
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const QString config = dir.filePath("screen.json");
        WriteFileBytes(config.toStdString(),
                       "{\"screens\": [{\"name\": \"s\", \"x\": 0, \"y\": 0, \"width\": "
                           + std::to_string(c.screen.width())
                           + ", \"height\": " + std::to_string(c.screen.height())
                           + ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
        env.insert("TIRMO_SCREEN_CHILD", "1");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    { "--gtest_filter=Form1.TheWholeWindowIsOnTheScreen" });
        ASSERT_TRUE(child.waitForFinished(60000));
        const QString output = QString::fromUtf8(child.readAllStandardOutput());
        const QStringList frame = output.section("FRAME ", 1).section('\n', 0, 0).split(' ');
        ASSERT_EQ(frame.size(), 4) << output.toStdString();
        EXPECT_EQ(QRect(frame[0].toInt(), frame[1].toInt(), frame[2].toInt(), frame[3].toInt()),
                  c.frame)
            << c.screen.width() << "x" << c.screen.height();
    }
}

// Run under an X server of its own: the names that a window manager shows.
TEST_F(Form1, WindowCaptionsAsTheWindowManagerSeesThem)
{
    if (qEnvironmentVariableIsSet("TIRMO_X_CHILD")) {
        AddDatabase("psx.cdl", "PlayStation\tx");
        EXPECT_EQ(Captions(appDir, [](QWidget &w) { return WindowProperty(w, "_NET_WM_NAME"); }),
                  kCaptions);
        return;
    }
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()
        || QStandardPaths::findExecutable("xprop").isEmpty())
        GTEST_SKIP() << "needs Xvfb and xprop (scripts/deps.sh test installs them)";
    QProcess server;
    server.start("Xvfb", { "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp" });
    ASSERT_TRUE(server.waitForReadyRead(20000)) << server.readAllStandardError().toStdString();
    const QString display = ":" + QString::fromUtf8(server.readLine()).trimmed();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", display);
    env.insert("TIRMO_X_CHILD", "1");
    env.remove("XAUTHORITY");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                { "--gtest_filter=Form1.WindowCaptionsAsTheWindowManagerSeesThem" });
    ASSERT_TRUE(child.waitForFinished(60000));
    const std::string output = child.readAll().toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    server.terminate();
    server.waitForFinished(10000);
}
