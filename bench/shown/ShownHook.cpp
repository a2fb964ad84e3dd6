// Preloaded (LD_PRELOAD) into a Qt program by the start-up benchmark, so the
// program itself needs no benchmark code. When TIRMO_SHOWN_FD names a file
// descriptor, the first window to be exposed is let paint, then the hook
// writes "shown <CLOCK_MONOTONIC ns> <combo box entries> <bytes read>
// <width>x<height>" to that descriptor and ends the process at once: what follows the first frame
// is not start-up.
#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <time.h>
#include <unistd.h>

namespace {

long long MonotonicNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Bytes the process has read through read() and kin, from the kernel's count.
long long BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = -1;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

// The entries of every combo box in the shown windows: the benchmark checks
// that the window came up with its selector filled.
int ComboEntries()
{
    int entries = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->isVisible())
            for (QComboBox *combo : top->findChildren<QComboBox *>())
                entries += combo->count();
    return entries;
}

void ReportAndExit(int fd, QWindow *window)
{
    const long long shownAt = MonotonicNs();
    dprintf(fd, "shown %lld %d %lld %dx%d\n", shownAt, ComboEntries(), BytesRead(), window->width(),
            window->height());
    _exit(0);
}

class ShownFilter : public QObject {
public:
    explicit ShownFilter(int fd) : m_fd(fd) { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Expose) {
            auto *window = qobject_cast<QWindow *>(watched);
            if (window && window->isExposed()) {
                m_seen = true;
                // Queued: the expose event paints the window first.
                const int fd = m_fd;
                QTimer::singleShot(0, qApp, [fd, window] { ReportAndExit(fd, window); });
            }
        }
        return false;
    }

private:
    int m_fd;
    bool m_seen = false;
};

void InstallShownFilter()
{
    const char *fd = std::getenv("TIRMO_SHOWN_FD");
    if (fd && *fd)
        qApp->installEventFilter(new ShownFilter(std::atoi(fd)));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallShownFilter)
