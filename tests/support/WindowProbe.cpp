// A plugin that a test has Qt load into the real program, unchanged as it is
// installed (QT_PLUGIN_PATH to this plugin's folder, QT_QPA_GENERIC_PLUGINS=
// tirmoprobe). Once the main window is shown and exposed, it writes the
// window's title and then the entries of its drop-down lists, one a line, to
// the file $TIRMO_PROBE_REPORT, and closes the window as the user would.
// Asked to, it does more first:
// - TIRMO_PROBE_MESSAGES: appends the text of each message box shown, and a
//   line "--", to that file, and answers the box with its button named
//   $TIRMO_PROBE_ANSWER, or its default one;
// - TIRMO_PROBE_CHOOSE: chooses the system of that name in the selector, and
//   with TIRMO_PROBE_TICK set, ticks the first game of the list with the
//   space bar; the status text then goes to the file $TIRMO_PROBE_STATUS;
// - TIRMO_PROBE_COMMAND: runs that command (words split at spaces) with the
//   window's native id as its last argument, and appends the program's
//   desktop file name and the command's output to $TIRMO_PROBE_STATUS;
// - TIRMO_PROBE_UPDATE: then, instead of reporting and closing, presses
//   Update and then Start Update, and writes "updating" to the report once
//   the update runs; the test takes it from there.
//
// With $TIRMO_PROBE_STEPS set it acts as a user instead, one step a line,
// each reported to $TIRMO_PROBE_REPORT:
//   choose <system>   picks the system in the selector
//   tick <row>        toggles the check box of game row <row> (from 1), as a
//                     screen reader's action does
//   status            reports "status: <the status text>"
//   close             closes the main window
//   box <button>      waits for a message box, reports "box: <its text>"
//                     (line ends as \n) and presses the button of that caption
// A message box that no step waits for is reported as "unexpected box:
// <text>" and pressed away.

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGenericPlugin>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

namespace {

bool IsExposed(const QWidget &widget)
{
    return widget.isVisible() && widget.windowHandle() && widget.windowHandle()->isExposed();
}

// A box's text as the user reads it: without the joiners that keep an address
// or a path on one line.
QString Read(const QMessageBox &box)
{
    return box.text().remove(QChar(0x2060));
}

class TWindowProbe : public QObject {
public:
    TWindowProbe()
    {
        m_steps = qEnvironmentVariable("TIRMO_PROBE_STEPS").split('\n', Qt::SkipEmptyParts);
        m_timer.callOnTimeout(this, &TWindowProbe::Look);
        m_timer.start(50);
        // A timer of its own: one doesn't fire while its handler runs, and
        // closing the window inside Look() may ask in a message box.
        if (qEnvironmentVariableIsSet("TIRMO_PROBE_MESSAGES")) {
            m_boxTimer.callOnTimeout(&TWindowProbe::AnswerMessageBoxes);
            m_boxTimer.start(50);
        }
    }

private:
    void Look()
    {
        if (!m_steps.isEmpty()) {
            Act();
            return;
        }
        if (m_updating)
            StartUpdate();
        if (m_done)
            return;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<QMainWindow *>(widget);
            if (!window || !window->isVisible() || !window->windowHandle()
                || !window->windowHandle()->isExposed())
                continue;
            m_done = true;
            if (qEnvironmentVariableIsSet("TIRMO_PROBE_CHOOSE"))
                Choose(*window, qEnvironmentVariable("TIRMO_PROBE_CHOOSE"));
            if (qEnvironmentVariableIsSet("TIRMO_PROBE_COMMAND"))
                RunCommand(*window);
            if (qEnvironmentVariableIsSet("TIRMO_PROBE_UPDATE")) {
                window->findChild<QToolButton *>("sb_Update")->click();
                m_updating = true;
                return;
            }
            Report(*window);
            window->close();
            return;
        }
    }

    // The next of the steps. They run one at a time; a box shown inside one
    // is answered while that step waits for it.
    void Act()
    {
        QMainWindow *window = MainWindow();
        if (!window)
            return;
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            box && IsExposed(*box)) {
            Answer(*box);
            return;
        }
        if (m_inStep || m_next >= m_steps.size())
            return;
        // Run from the event queue, not from this timer's own call: Qt fires
        // no timer again while its call is still running, and a step may
        // wait in a box's event loop.
        const QString step = m_steps[m_next++];
        m_inStep = true;
        QMetaObject::invokeMethod(
            this,
            [this, window = QPointer<QMainWindow>(window), step] {
                if (window)
                    Do(*window, step.section(' ', 0, 0), step.section(' ', 1));
                m_inStep = false;
            },
            Qt::QueuedConnection);
    }

    static QMainWindow *MainWindow()
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<QMainWindow *>(widget); window && IsExposed(*window))
                return window;
        return nullptr;
    }

    void Answer(QMessageBox &box)
    {
        const bool awaited = m_next < m_steps.size() && m_steps[m_next].startsWith("box ");
        Write((awaited ? "box: " : "unexpected box: ") + Read(box).replace('\n', "\\n"));
        QAbstractButton *button = box.escapeButton();
        if (awaited) {
            const QString caption = m_steps[m_next++].section(' ', 1);
            for (QAbstractButton *b : box.buttons())
                if (b->text().remove('&') == caption)
                    button = b;
        }
        if (button)
            button->click();
        else
            box.reject();
    }

    static void Do(QMainWindow &window, const QString &what, const QString &argument)
    {
        if (what == "choose") {
            auto *selector = window.findChild<QComboBox *>("cbo_SysList");
            const int index = selector->findText(argument);
            if (index < 0) {
                Write("no system " + argument);
                return;
            }
            selector->setCurrentIndex(index);
            emit selector->activated(index);
        } else if (what == "tick") {
            QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(
                window.findChild<QWidget *>("acg_GameList"));
            QAccessibleInterface *cell = grid && grid->tableInterface()
                ? grid->tableInterface()->cellAt(argument.toInt() - 1, 0)
                : nullptr;
            if (cell && cell->actionInterface())
                cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            else
                Write("no check box in row " + argument);
        } else if (what == "status") {
            Write("status: " + window.findChild<QLabel *>("StatusBar1Text")->text());
        } else if (what == "close") {
            window.close();
        } else {
            Write("unknown step " + what);
        }
    }

    // A line of the report, written at once: the program may be ended any time.
    static void Write(const QString &line)
    {
        Append(qEnvironmentVariable("TIRMO_PROBE_REPORT"), line.toUtf8() + '\n');
    }

    // Presses Start Update once the dialog shows, and reports once it runs.
    void StartUpdate()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(widget);
            if (!dialog || !dialog->isVisible() || dialog->objectName() != "TUpdateForm")
                continue;
            auto *start = dialog->findChild<QPushButton *>("bt_StartUpdate");
            if (!m_pressed) {
                m_pressed = true;
                // The update runs inside the click: not inside this timer's call.
                QTimer::singleShot(0, start, &QPushButton::click);
            } else if (!start->isEnabled()) {
                m_updating = false;
                Append(qEnvironmentVariable("TIRMO_PROBE_REPORT"), "updating\n");
            }
        }
    }

    static void Append(const QString &path, const QByteArray &bytes)
    {
        QFile out(path);
        if (!out.open(QIODevice::Append))
            qFatal("window probe: cannot write %s: %s", qPrintable(path),
                   qPrintable(out.errorString()));
        out.write(bytes);
    }

    static void AnswerMessageBoxes()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            Append(qEnvironmentVariable("TIRMO_PROBE_MESSAGES"), Read(*box).toUtf8() + "\n--\n");
            QPushButton *button = box->defaultButton();
            for (QAbstractButton *other : box->buttons())
                if (other->text() == qEnvironmentVariable("TIRMO_PROBE_ANSWER"))
                    button = qobject_cast<QPushButton *>(other);
            if (button)
                button->click();
            else
                box->accept();
        }
    }

    // As the user does it: picks the entry, then presses the space bar on the
    // list's current cell, the first game's check box.
    static void Choose(QMainWindow &window, const QString &system)
    {
        auto *selector = window.findChild<QComboBox *>("cbo_SysList");
        const int index = selector ? selector->findText(system) : -1;
        if (index < 0)
            qFatal("window probe: no system %s to choose", qPrintable(system));
        selector->setCurrentIndex(index);
        emit selector->activated(index);
        if (qEnvironmentVariableIsSet("TIRMO_PROBE_TICK")) {
            QWidget *list = window.findChild<QWidget *>("acg_GameList");
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
            QApplication::sendEvent(list, &press);
            QApplication::sendEvent(list, &release);
        }
        const auto *status = window.findChild<QLabel *>("StatusBar1Text");
        Append(qEnvironmentVariable("TIRMO_PROBE_STATUS"),
               (status ? status->text() : QString()).toUtf8() + '\n');
    }

    static void RunCommand(const QMainWindow &window)
    {
        QStringList words = qEnvironmentVariable("TIRMO_PROBE_COMMAND").split(' ');
        words << QString::number(window.winId());
        QProcess command;
        command.setProcessChannelMode(QProcess::MergedChannels);
        command.start(words.takeFirst(), words);
        command.waitForFinished(30000);
        Append(qEnvironmentVariable("TIRMO_PROBE_STATUS"),
               "desktop file name: " + QGuiApplication::desktopFileName().toUtf8() + '\n'
                   + command.readAll());
    }

    static void Report(const QMainWindow &window)
    {
        QFile out(qEnvironmentVariable("TIRMO_PROBE_REPORT"));
        if (!out.open(QIODevice::WriteOnly))
            qFatal("window probe: cannot write %s: %s", qPrintable(out.fileName()),
                   qPrintable(out.errorString()));
        out.write(window.windowTitle().toUtf8() + '\n');
        for (const QComboBox *box : window.findChildren<QComboBox *>())
            for (int i = 0; i < box->count(); ++i)
                out.write(box->itemText(i).toUtf8() + '\n');
    }

    QTimer m_timer;
    QTimer m_boxTimer;
    bool m_done = false;
    bool m_updating = false, m_pressed = false;
    QStringList m_steps;
    qsizetype m_next = 0;
    bool m_inStep = false;
};

} // namespace

class TWindowProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowProbe.json")

public:
    QObject *create(const QString &, const QString &) override { return new TWindowProbe; }
};

#include "WindowProbe.moc"
