// A plugin that a test has Qt load into the real program, unchanged as it is
// installed (QT_PLUGIN_PATH to this plugin's folder, QT_QPA_GENERIC_PLUGINS=
// tirmoprobe). Once the main window is shown and exposed, it writes the
// window's title and then the entries of its drop-down lists, one a line, to
// the file $TIRMO_PROBE_REPORT, and closes the window as the user would.

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGenericPlugin>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>

namespace {

class TWindowProbe : public QObject {
public:
    TWindowProbe()
    {
        m_timer.callOnTimeout(this, &TWindowProbe::Look);
        m_timer.start(50);
    }

private:
    void Look()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<QMainWindow *>(widget);
            if (!window || !window->isVisible() || !window->windowHandle()
                || !window->windowHandle()->isExposed())
                continue;
            m_timer.stop();
            Report(*window);
            window->close();
            return;
        }
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
};

} // namespace

class TWindowProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowProbe.json")

public:
    QObject *create(const QString &, const QString &) override { return new TWindowProbe; }
};

#include "WindowProbe.moc"
