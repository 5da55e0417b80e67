#include "Termination.h"

#include <pthread.h>
#include <signal.h>

namespace localservice {

namespace {

sigset_t terminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

TerminationWatcher::TerminationWatcher(std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal))
{
    signal(SIGPIPE, SIG_IGN);
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_thread = std::thread([this, set] {
        int received = 0;
        while (sigwait(&set, &received) != 0) {
        }
        if (!m_leaving)
            m_onSignal(received);
    });
}

TerminationWatcher::~TerminationWatcher()
{
    m_leaving = true;
    // Wake the waiting thread when no signal came (the server ended on its own).
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
}

} // namespace localservice
