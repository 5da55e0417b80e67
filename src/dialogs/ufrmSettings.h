#pragma once

#include "settings/Settings.h"

#include <QDialog>

#include <algorithm>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TUpDown;

// The intervals the dialog offers, in seconds.
struct TIntervalRange {
    int Min;
    int Max;
    int Clamp(int seconds) const { return std::clamp(seconds, Min, Max); }
};
inline constexpr TIntervalRange kReloadRange{60, 100};
inline constexpr TIntervalRange kRotationRange{10, 100};

// The two timer switches and their intervals in seconds.
struct TTimerChoices {
    int ReloadInterval = 60;
    int RotationInterval = 20;
    bool AutoReload = true;
    bool AutoRotation = true;

    static TTimerChoices Of(const TMainState& state)
    {
        return {state.ReloadInterval, state.RotationInterval, state.AutoReload, state.AutoRotation};
    }
};

// The settings dialog: the two timer switches and their intervals in seconds. Filled
// once at creation; each opening shows the controls as they were last left. OK takes
// the values (Chosen) and closes; the caller applies them when the dialog is accepted.
// Cancel changes nothing.
class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    TfrmSettings(const TTimerChoices& shown, QWidget* parent);

    // What the last OK took; what the dialog was filled with until then.
    const TTimerChoices& Chosen() const { return m_chosen; }

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
    void FormCreate(const TTimerChoices& shown);

    TTimerChoices m_chosen;
};
