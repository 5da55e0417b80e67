#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QWidget;
class TSeenStatuses;

// When a shown status becomes seen. One the user chose is seen at once; one the program
// showed (first after a read, the rotation) once the strip has shown it for a whole
// rotation interval while the window could be seen.
class TSeenClock : public QObject {
public:
    // rotation: the timer whose interval a status must stay on view; shownId: the status
    // the strip shows now.
    TSeenClock(QWidget* window, TSeenStatuses* seen, const QTimer* rotation, std::function<QString()> shownId);

    void Shown(const QString& id, bool byProgram);
    // The status leaving the strip may have been on view for its whole interval just now.
    void Check();
    // Time on view counts only while the window can be seen: it starts again when the
    // window comes back from being minimized.
    void WindowStateChanged();

private:
    void Start(const QString& id);
    void Mark(QString id);  // a copy: it may be the candidate, cleared here

    QWidget* m_window;
    TSeenStatuses* m_seen;
    const QTimer* m_rotation;
    std::function<QString()> m_shownId;
    QString m_candidate;    // shown by the program, seen after a whole interval on view
    QElapsedTimer m_clock;  // how long it has been on view
    QTimer m_timer;
};
