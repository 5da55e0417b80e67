#include "app/QuitSignals.h"

#include "text/Logging.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>

namespace {

// The handler may only write a byte: the loop side does the rest.
int g_pipe[2] = {-1, -1};

void OnSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

} // namespace

TQuitSignals::TQuitSignals(QObject* parent) : QObject(parent)
{
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        qCWarning(lcApp) << "no socket pair for quit signals:" << strerror(errno);
        return;
    }
    ::fcntl(g_pipe[1], F_SETFL, ::fcntl(g_pipe[1], F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TQuitSignals::onReadable);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

TQuitSignals::~TQuitSignals()
{
    // Back to the defaults: a signal after the window is gone ends the process as usual.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

void TQuitSignals::onReadable()
{
    unsigned char byte = 0;
    if (::read(g_pipe[0], &byte, 1) == 1) {
        qCInfo(lcApp) << "signal" << byte << "received: closing";
        m_received = true;
        Q_EMIT Requested(byte);
    }
}
