#pragma once

#include "app/Strip.h"

#include <QObject>

class QTimer;
class TTimelineFeed;
struct TMainState;

// The auto-reload and rotation timers. They run from the window's creation, each as the
// user chose it, except while a read or a locked dialog holds both or the pointer rests
// on the strip; the intervals are the user's once chosen in the settings dialog.
class TWindowTimers : public QObject {
public:
    TWindowTimers(QObject* parent, int reloadMs);

    QTimer* Reload() const { return m_reload; }
    QTimer* Rotation() const { return m_rotation; }
    // Each as the user chose it, or both stopped while held.
    void Follow(const TMainState& state, bool held = false);
    // The pointer rests on a part of the strip.
    void Hovered(TStrip::TPart part, const TMainState& state);
    // The intervals the user chose; friends keeps a back-off under way.
    void ApplyIntervals(const TMainState& state, TTimelineFeed* friends);

private:
    QTimer* m_reload;
    QTimer* m_rotation;
};
