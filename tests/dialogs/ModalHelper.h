#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// While alive, runs action on every modal window of type T that opens, from inside its
// own event loop (the call that opens it returns only once it is closed). The action
// must close the window. Scope-bound, so no action outlives the test that set it.
template <typename T>
class ModalWatch {
public:
    explicit ModalWatch(std::function<void(T*)> action)
        : m_action(std::move(action))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            T* modal = qobject_cast<T*>(QApplication::activeModalWidget());
            if (!modal || modal == m_last)
                return;
            m_last = modal;
            ++m_count;
            m_action(modal);
            m_last = nullptr;
        });
        m_timer.start(5);
    }
    int Count() const { return m_count; }

private:
    std::function<void(T*)> m_action;
    QTimer m_timer;
    T* m_last = nullptr;
    int m_count = 0;
};
