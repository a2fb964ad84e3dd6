#include "platform/QuitSignals.h"

#include "platform/Exceptions.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> kQuitSignals = { SIGTERM, SIGINT, SIGHUP };

// The write end of the newest object's pipe: all the handler touches.
volatile std::sig_atomic_t g_writeEnd = -1;
int g_objects = 0;
struct sigaction g_previous[kQuitSignals.size()];

extern "C" void OnSignal(int signal)
{
    const int savedErrno = errno;
    const int fd = g_writeEnd;
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds a signal to act on; losing this one is fine.
        [[maybe_unused]] const ssize_t n = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

void InstallHandlers()
{
    struct sigaction action { };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kQuitSignals.size(); ++i)
        ::sigaction(kQuitSignals[i], &action, &g_previous[i]);
}

void RestoreHandlers()
{
    for (size_t i = 0; i < kQuitSignals.size(); ++i)
        ::sigaction(kQuitSignals[i], &g_previous[i], nullptr);
}

} // namespace

TQuitSignals::TQuitSignals(QObject *parent) : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw EInOutError(std::string("Cannot create the signal pipe: ") + std::strerror(errno));
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { Receive(); });
    m_previousWriteEnd = g_writeEnd;
    g_writeEnd = m_pipe[1];
    if (g_objects++ == 0)
        InstallHandlers();
}

TQuitSignals::~TQuitSignals()
{
    if (--g_objects == 0)
        RestoreHandlers();
    g_writeEnd = m_previousWriteEnd;
    delete m_notifier;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void TQuitSignals::Receive()
{
    // Signals that came together are acted on once.
    unsigned char number = 0, last = 0;
    while (::read(m_pipe[0], &number, 1) == 1)
        last = number;
    if (last != 0 && OnQuitSignal)
        OnQuitSignal(last);
}
