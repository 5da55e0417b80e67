#include "dialogs/UpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

TUpDown::TUpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent)
    , m_associate(associate)
    , m_min(min)
    , m_max(max)
    , m_position(min)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setObjectName(QStringLiteral("up"));
    m_up->setArrowType(Qt::UpArrow);
    m_up->setAutoRepeat(true);
    m_down = new QToolButton(this);
    m_down->setObjectName(QStringLiteral("down"));
    m_down->setArrowType(Qt::DownArrow);
    m_down->setAutoRepeat(true);
    for (QToolButton* button : {m_up, m_down}) {
        button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(button);
    }
    connect(m_up, &QToolButton::clicked, this, &TUpDown::StepUp);
    connect(m_down, &QToolButton::clicked, this, &TUpDown::StepDown);
    SetPosition(min);
}

void TUpDown::TakeTypedText()
{
    bool ok = false;
    const int typed = m_associate->text().trimmed().toInt(&ok);
    if (ok && typed >= m_min && typed <= m_max)
        m_position = typed;
}

int TUpDown::Position()
{
    TakeTypedText();
    return m_position;
}

void TUpDown::SetPosition(int position)
{
    m_position = std::clamp(position, m_min, m_max);
    m_associate->setText(QString::number(m_position));
}

void TUpDown::StepUp()
{
    TakeTypedText();
    SetPosition(m_position + 1);
}

void TUpDown::StepDown()
{
    TakeTypedText();
    SetPosition(m_position - 1);
}
