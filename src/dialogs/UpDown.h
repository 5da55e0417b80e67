#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// Up-down arrows tied to an edit box: the box shows the position, and a number typed
// into it becomes the position when the position is read or an arrow is pressed. A
// typed text that is not a whole number within the range leaves the last valid
// position in force.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QLineEdit* associate, int min, int max, QWidget* parent);

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    int Position();                 // takes a valid typed number first
    void SetPosition(int position); // clamped to the range; shown in the box

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

public Q_SLOTS:
    void StepUp();
    void StepDown();

private:
    void TakeTypedText();

    QLineEdit* m_associate;
    QToolButton* m_up;
    QToolButton* m_down;
    int m_min;
    int m_max;
    int m_position;
};
