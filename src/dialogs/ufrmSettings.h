#pragma once

#include "settings/Settings.h"

#include <QDialog>

#include <algorithm>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TUpDown;

// The intervals the dialog offers, in seconds.
struct TIntervalRange {
    int Min;
    int Max;
    int Clamp(int seconds) const { return std::clamp(seconds, Min, Max); }
};
inline constexpr TIntervalRange kReloadRange{60, 100};
inline constexpr TIntervalRange kRotationRange{10, 100};

// The settings dialog: the two timer switches and their intervals in seconds. Filled
// once at creation; each opening shows the controls as they were last left. OK stores
// the values in the main window's state, marks the intervals as chosen and switches its
// timers (the main window applies the intervals on accepted()); Cancel changes nothing.
class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // shown: the values the controls start from, when not those of state.
    TfrmSettings(TMainState& state, QTimer* autoReload, QTimer* autoRotation, QWidget* parent,
                 const TMainState* shown = nullptr);

    QLabel* Label1;
    QCheckBox* chkAutoReload;
    QLineEdit* editReload;
    TUpDown* UpDownReload;
    QLabel* Label5;
    QLabel* Label3;
    QLabel* Label4;
    QCheckBox* chkAutoRotation;
    QLineEdit* editRotation;
    TUpDown* UpDownRotation;
    QLabel* Label2;
    QPushButton* btnOk;
    QPushButton* btnCancel;

public Q_SLOTS:
    void btnOkClick();
    void btnCancelClick();

private:
    void FormCreate(const TMainState& shown);

    TMainState& m_state;
    QTimer* m_timerAutoReload;
    QTimer* m_timerAutoRotation;
};
