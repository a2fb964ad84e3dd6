#include "app/Unit1.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

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

// A reply of the scripted server that sends `bytes`, then closes.
std::string Scripted(const std::string &bytes)
{
    std::string out = "{\"parts\": [[\"";
    for (char c : bytes)
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    return out + "\", 1]]}";
}

const char kOldManifest[] = "alpha.cdl;1\r\nbeta.cdl;1\r\n";

// The program itself in a folder of its own (alpha and beta at version 1),
// updating from the site it was built for, where a scripted server gives
// `replies` (a JSON list): the window probe chooses Alpha, ticks its first
// game, presses Update and then Start Update.
struct TUpdatingProgram {
    // Why the test can't run, when it can't.
    std::optional<std::string> Start(const std::string &replies, const std::string &platform,
                                     const std::string &display = {})
    {
        const QUrl siteUrl(QString::fromLatin1(kSiteURL));
        if (siteUrl.host() != "127.0.0.1")
            return std::string("built for the site ") + kSiteURL + ", which is no loopback address";
        fs::create_directories(app + "/cdl/data");
        fs::create_directories(logs);
        fs::copy_file(TIRMO_BINARY_DIR "/app/tirmo", app + "/tirmo");
        WriteFileBytes(app + "/cdl/alpha.cdl", "Alpha\tx\r\nGame Name\tGID\r\nA1\ta1\r\n");
        WriteFileBytes(app + "/cdl/beta.cdl", "Beta\tx\r\nGame Name\tGID\r\nB1\tb1\r\n");
        WriteFileBytes(app + "/version.ini", kOldManifest);
        WriteFileBytes(dir.filePath("script.json").toStdString(), "{\"replies\": " + replies + "}");

        server.start(TIRMO_PYTHON,
                     { TIRMO_TEST_DIR "/servers/http_scripted.py", dir.filePath("script.json"),
                       QString::fromStdString(logs), QString::number(siteUrl.port(80)) });
        if (!server.waitForReadyRead(10000))
            return "the site's port is taken: " + server.readAllStandardError().toStdString();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", QString::fromStdString(platform));
        if (!display.empty())
            env.insert("DISPLAY", QString::fromStdString(display));
        env.insert("QT_PLUGIN_PATH", TIRMO_PROBE_PLUGINS);
        env.insert("QT_QPA_GENERIC_PLUGINS", "tirmoprobe");
        env.insert("TIRMO_PROBE_CHOOSE", "Alpha");
        env.insert("TIRMO_PROBE_TICK", "1");
        env.insert("TIRMO_PROBE_STATUS", dir.filePath("status.txt"));
        env.insert("TIRMO_PROBE_UPDATE", "1");
        env.insert("TIRMO_PROBE_REPORT", QString::fromStdString(report));
        UseChildLeakSuppressions(env);
        tirmo.setProcessEnvironment(env);
        tirmo.start(QString::fromStdString(app + "/tirmo"), {});
        return std::nullopt;
    }

    ~TUpdatingProgram()
    {
        for (QProcess *process : { &tirmo, &server }) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    QTemporaryDir dir;
    const std::string app = dir.filePath("app").toStdString();
    const std::string logs = dir.filePath("logs").toStdString();
    const std::string report = dir.filePath("probe.txt").toStdString();
    QProcess server;
    QProcess tirmo;
};

} // namespace

// The program updating from the site it was built for: a server there takes
// a request and never answers. A quit signal during that wait ends the
// program at once, with the tick saved, nothing replaced and no scratch left.
TEST(UpdateProgram, AQuitSignalDuringTheNetworkWaitEndsIt)
{
    const std::string silent = R"({"then": "silent"})";
    const std::string manifestReply = Reply("alpha.cdl;2\r\nbeta.cdl;2\r\n");
    const std::string alphaReply = Reply("Alpha\tx\r\nGame Name\tGID\r\nA2\ta2\r\n");
    const std::string stallAtDatabase
        = "[" + Scripted(manifestReply) + ", " + Scripted(alphaReply) + ", " + silent + "]";
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
        TUpdatingProgram program;
        if (const std::optional<std::string> why = program.Start(run.replies, "offscreen"))
            GTEST_SKIP() << *why;
        const std::string &app = program.app;
        QProcess &tirmo = program.tirmo;
        const std::string stalled
            = program.logs + "/request-" + std::to_string(run.stalled) + ".bin";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ReadFileBytes(program.report) == "updating\n" && fs::exists(stalled); },
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
        EXPECT_EQ(ReadFileBytes(app + "/version.ini"), kOldManifest);
        EXPECT_EQ(Names(app), (std::vector<std::string> { "cdl", "tirmo", "version.ini" }));
        EXPECT_EQ(Names(app + "/cdl"),
                  (std::vector<std::string> { "alpha.cdl", "beta.cdl", "data" }));
    }
}

namespace {

// The user's side of an X display that has no window manager: finds the
// program's windows by title and sends them what a window manager and the
// keyboard send.
class TDisplayUser {
public:
    explicit TDisplayUser(const std::string &display)
        : m_connection(xcb_connect(display.c_str(), nullptr))
    {
        if (Connected())
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~TDisplayUser() { xcb_disconnect(m_connection); }
    TDisplayUser(const TDisplayUser &) = delete;
    TDisplayUser &operator=(const TDisplayUser &) = delete;

    bool Connected() const { return xcb_connection_has_error(m_connection) == 0; }

    // A shown top-level window titled `title` (or, with `prefix`, whose title
    // begins with it); 0 when none shows within 30 s.
    xcb_window_t WaitForWindow(const std::string &title, bool prefix = false)
    {
        xcb_window_t found = 0;
        return QTest::qWaitFor([&] { return (found = Shown(title, prefix)) != 0; }, 30000) ? found
                                                                                           : 0;
    }

    // What a window manager sends for the window's close button.
    void AskToClose(xcb_window_t window)
    {
        xcb_client_message_event_t event {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = Atom("WM_PROTOCOLS");
        event.data.data32[0] = Atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        Send(window, &event);
    }

    // Gives the window the keyboard, as a click on it does.
    void Focus(xcb_window_t window)
    {
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        Sync();
    }

    void PressEscape(xcb_window_t window)
    {
        const xcb_keycode_t escape = KeycodeOf(0xff1b);
        for (const std::uint8_t type : { XCB_KEY_PRESS, XCB_KEY_RELEASE }) {
            xcb_key_press_event_t event {};
            event.response_type = type;
            event.detail = escape;
            event.root = m_root;
            event.event = window;
            event.same_screen = 1;
            Send(window, &event);
        }
    }

    // Returns once the server has handled every request sent: what they
    // sent is then on its way to the program.
    void Sync()
    {
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

private:
    template<typename T> using TReply = std::unique_ptr<T, decltype(&std::free)>;
    template<typename T> static TReply<T> Owned(T *reply) { return { reply, &std::free }; }

    xcb_atom_t Atom(const char *name)
    {
        const auto reply = Owned(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    std::string Title(xcb_window_t window)
    {
        const auto reply = Owned(
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 0, window, Atom("_NET_WM_NAME"),
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                   nullptr));
        if (!reply)
            return {};
        return std::string(static_cast<const char *>(xcb_get_property_value(reply.get())),
                           std::size_t(xcb_get_property_value_length(reply.get())));
    }

    xcb_window_t Shown(const std::string &title, bool prefix)
    {
        const auto tree = Owned(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
        if (!tree)
            return 0;
        const xcb_window_t *windows = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const auto attributes = Owned(xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, windows[i]), nullptr));
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
                continue;
            const std::string shown = Title(windows[i]);
            if (prefix ? shown.rfind(title, 0) == 0 : shown == title)
                return windows[i];
        }
        return 0;
    }

    xcb_keycode_t KeycodeOf(xcb_keysym_t keysym)
    {
        const xcb_setup_t *setup = xcb_get_setup(m_connection);
        const auto map = Owned(xcb_get_keyboard_mapping_reply(
            m_connection,
            xcb_get_keyboard_mapping(m_connection, setup->min_keycode,
                                     std::uint8_t(setup->max_keycode - setup->min_keycode + 1)),
            nullptr));
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(map.get());
        for (int i = 0; i < xcb_get_keyboard_mapping_keysyms_length(map.get()); ++i)
            if (keysyms[i] == keysym)
                return xcb_keycode_t(setup->min_keycode + i / map->keysyms_per_keycode);
        return 0;
    }

    template<typename Event> void Send(xcb_window_t window, const Event *event)
    {
        static_assert(sizeof(Event) == 32, "an X event is 32 bytes");
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(event));
    }

    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
};

} // namespace

// After an update the user closes its result box, then the dialog (with its
// close button or Escape), then the main window, on a display without a
// window manager. On a busy machine the three requests reach the program
// before it has handled the first: here it is stopped while they are sent.
// The program ends, with the tick saved and what the update did kept.
TEST(UpdateProgram, ClosingEverythingRightAfterAnUpdateEndsIt)
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "needs Xvfb (scripts/deps.sh test installs it)";
    if (kUpdateKey[0] != '\0')
        GTEST_SKIP() << "a build with a key asks for a signature this server can't give";
    QProcess xvfb;
    xvfb.start("Xvfb", { "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp" });
    ASSERT_TRUE(xvfb.waitForStarted());
    const auto stop = qScopeGuard([&] {
        xvfb.terminate();
        xvfb.waitForFinished();
    });
    ASSERT_TRUE(xvfb.waitForReadyRead(20000)) << xvfb.readAllStandardError().toStdString();
    const std::string display = ":" + xvfb.readLine().trimmed().toStdString();
    TDisplayUser user(display);
    ASSERT_TRUE(user.Connected()) << display;

    const std::string newManifest = "alpha.cdl;2\r\nbeta.cdl;1\r\ngamma.cdl;1\r\n";
    const std::string alpha = "Alpha\tx\r\nGame Name\tGID\r\nA2\ta2\r\n";
    const std::string gamma = "Gamma\tx\r\nGame Name\tGID\r\nG1\tg1\r\n";
    const std::string manifestReply = Scripted(Reply(newManifest));
    const std::string notFound = "[" + manifestReply + ", "
        + Scripted("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n") + "]";
    const std::string cut = "[" + manifestReply + ", "
        + Scripted(Reply(alpha).substr(0, Reply(alpha).size() - 10)) + "]";
    const std::string added
        = "[" + manifestReply + ", " + Scripted(Reply(alpha)) + ", " + Scripted(Reply(gamma)) + "]";
    const struct {
        const char *what;
        std::string replies;
        bool escape; // the dialog is closed by Escape, not by its close button
        bool updated;
    } runs[] = {
        { "a database not found", notFound, false, false },
        { "a database not found, Escape", notFound, true, false },
        { "a database cut short", cut, false, false },
        { "a new database", added, false, true },
        { "a new database, Escape", added, true, true },
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.what);
        TUpdatingProgram program;
        if (const std::optional<std::string> why = program.Start(run.replies, "xcb", display))
            GTEST_SKIP() << *why;
        const xcb_window_t box = user.WaitForWindow("TIRMO");
        ASSERT_NE(box, 0u) << program.tirmo.readAllStandardError().toStdString();
        const xcb_window_t dialog = user.WaitForWindow("Update");
        const xcb_window_t window = user.WaitForWindow("TIRMO - ", true);
        ASSERT_NE(dialog, 0u);
        ASSERT_NE(window, 0u);
        if (run.escape)
            user.Focus(dialog);

        const pid_t pid = pid_t(program.tirmo.processId());
        ::kill(pid, SIGSTOP);
        user.AskToClose(box);
        if (run.escape)
            user.PressEscape(dialog);
        else
            user.AskToClose(dialog);
        user.AskToClose(window);
        user.Sync();
        ::kill(pid, SIGCONT);

        EXPECT_TRUE(program.tirmo.waitForFinished(5000))
            << "the program outlived its window's close request by 5 s";
        EXPECT_EQ(program.tirmo.exitCode(), 0)
            << program.tirmo.readAllStandardError().toStdString();
        const std::string &app = program.app;
        EXPECT_EQ(ReadFileBytes(app + "/cdl/data/Alpha.dat"), "a1\r\n");
        if (run.updated) {
            EXPECT_EQ(ReadFileBytes(app + "/cdl/alpha.cdl"), alpha);
            EXPECT_EQ(ReadFileBytes(app + "/cdl/gamma.cdl"), gamma);
            EXPECT_EQ(ReadFileBytes(app + "/version.ini"), newManifest);
        } else {
            EXPECT_EQ(ReadFileBytes(app + "/cdl/alpha.cdl"),
                      "Alpha\tx\r\nGame Name\tGID\r\nA1\ta1\r\n");
            EXPECT_EQ(ReadFileBytes(app + "/version.ini"), kOldManifest);
            EXPECT_EQ(Names(app + "/cdl"),
                      (std::vector<std::string> { "alpha.cdl", "beta.cdl", "data" }));
        }
    }
}
