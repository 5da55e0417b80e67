#include "dialogs/DialogCommon.h"

#include <QApplication>
#include <QFontDatabase>
#include <QIconEngine>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTimer>

#include <cmath>

const QString kPGothic = QStringLiteral("ＭＳ Ｐゴシック");
const QString kGothic = QStringLiteral("ＭＳ ゴシック");

QPolygonF StarPolygon(const QPointF& centre, double outerRadius, double innerRadius)
{
    QPolygonF points;
    for (int i = 0; i < 10; ++i) {
        const double angle = -M_PI / 2 + i * M_PI / 5;
        const double r = (i % 2 == 0) ? outerRadius : innerRadius;
        points << QPointF(centre.x() + r * std::cos(angle), centre.y() + r * std::sin(angle));
    }
    return points;
}

void SetTimerEnabled(QTimer* timer, bool enabled)
{
    if (!timer)
        return;
    if (!enabled)
        timer->stop();
    else if (!timer->isActive())
        timer->start();
}

namespace {

// The installed family each Japanese font name stands for, once known: asking for a
// name that no font carries costs a failed match on every font created before the
// substitution is tried.
struct TResolvedFamilies {
    QString PGothic;
    QString Gothic;
};

TResolvedFamilies& ResolvedFamilies()
{
    static TResolvedFamilies families;
    return families;
}

QString InstalledFamily(const QString& family)
{
    const TResolvedFamilies& resolved = ResolvedFamilies();
    if (family == kPGothic && !resolved.PGothic.isEmpty())
        return resolved.PGothic;
    if (family == kGothic && !resolved.Gothic.isEmpty())
        return resolved.Gothic;
    return family;
}

}  // namespace

QFont PixelFont(const QString& family, int pixels, bool bold)
{
    QFont font(InstalledFamily(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFont UiFont(int pixelHeight, bool bold)
{
    return PixelFont(kPGothic, pixelHeight, bold);
}

void RegisterJapaneseFontSubstitutes()
{
    if (!QFont::substitutes(kPGothic).contains(QStringLiteral("IPAPGothic")))
        QFont::insertSubstitution(kPGothic, QStringLiteral("IPAPGothic"));
    if (!QFont::substitutes(kGothic).contains(QStringLiteral("IPAGothic")))
        QFont::insertSubstitution(kGothic, QStringLiteral("IPAGothic"));
    // The substitutions stay for code that names the fonts itself.
    TResolvedFamilies& resolved = ResolvedFamilies();
    if (!resolved.PGothic.isEmpty() && !resolved.Gothic.isEmpty())
        return;
    // The installed families' own names: asking hasFamily() would also run every
    // fontconfig substitution rule on each name, which cost more than a fifth of the
    // start-up's instructions, to learn what the list already says.
    const QStringList installed = QFontDatabase::families();
    if (resolved.PGothic.isEmpty() && installed.contains(QStringLiteral("IPAPGothic"), Qt::CaseInsensitive))
        resolved.PGothic = QStringLiteral("IPAPGothic");
    if (resolved.Gothic.isEmpty() && installed.contains(QStringLiteral("IPAGothic"), Qt::CaseInsensitive))
        resolved.Gothic = QStringLiteral("IPAGothic");
}

QPixmap ProgramIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A blue speech bubble with a small gold star: a status that can be a favourite.
    const double s = size;
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(s * 0.05, s * 0.08, s * 0.9, s * 0.66), s * 0.18, s * 0.18);
    QPolygonF tail;
    tail << QPointF(s * 0.25, s * 0.70) << QPointF(s * 0.18, s * 0.95) << QPointF(s * 0.48, s * 0.72);
    // One closed outline: a polygon merely added to the path left a stroke across the
    // tail's root.
    QPainterPath tailPath;
    tailPath.addPolygon(tail);
    tailPath.closeSubpath();
    bubble = bubble.united(tailPath);
    p.setPen(QPen(QColor(0x1D, 0x4E, 0x89), std::max(1.0, s / 24)));
    p.setBrush(QColor(0x5B, 0xA4, 0xE6));
    p.drawPath(bubble);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xD7, 0x00));
    p.drawPolygon(StarPolygon(QPointF(s * 0.5, s * 0.36), s * 0.22, s * 0.22 * 0.42));
    return pixmap;
}

namespace {

class TProgramIconEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::max(1, std::min(size.width(), size.height()));
        for (const QPixmap& drawn : m_drawn) {
            if (drawn.width() == side)
                return drawn;
        }
        m_drawn.append(ProgramIcon(side));
        return m_drawn.last();
    }

    QIconEngine* clone() const override { return new TProgramIconEngine(*this); }
    QString key() const override { return QStringLiteral("TProgramIconEngine"); }

private:
    QList<QPixmap> m_drawn;
};

} // namespace

QIcon ProgramIconSet()
{
    return QIcon(new TProgramIconEngine);
}

TTopMostSuspender::TTopMostSuspender()
{
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (!window->isVisible() || !window->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
            continue;
        // Changing the flags hides the window; it is shown again at once.
        window->setWindowFlag(Qt::WindowStaysOnTopHint, false);
        window->show();
        m_suspended.append(window);
    }
}

TTopMostSuspender::~TTopMostSuspender()
{
    for (const QPointer<QWidget>& window : m_suspended) {
        if (!window)
            continue;
        const bool visible = window->isVisible();
        window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        if (visible)
            window->show();
    }
}

TLinkLabel::TLinkLabel(const QString& caption, QWidget* parent)
    : QLabel(caption, parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::blue);
    setPalette(pal);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        Q_EMIT Click();
}

QLabel* MakeLabel(const QString& name, const QString& caption, int left, int top, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}
