#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace localservice {

// Turns SIGINT and SIGTERM into a call of onSignal on a thread of its own, where it is
// safe to stop a server. Create it before any other thread so they all inherit the
// blocked signals. Also ignores SIGPIPE: a client that hangs up is no reason to die.
class TerminationWatcher {
public:
    explicit TerminationWatcher(std::function<void(int signal)> onSignal);
    ~TerminationWatcher();
    TerminationWatcher(const TerminationWatcher&) = delete;
    TerminationWatcher& operator=(const TerminationWatcher&) = delete;

private:
    std::function<void(int)> m_onSignal;
    std::atomic<bool> m_leaving{false};
    std::thread m_thread;
};

} // namespace localservice
