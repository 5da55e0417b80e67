#include "app/Strip.h"

#include "app/RichEditC.h"
#include "app/Shape.h"
#include "app/StarPictures.h"
#include "dialogs/DialogCommon.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QTextEdit>

// The strip's texts are translated with the main window's.

namespace {

constexpr char kRotationStopped[] = QT_TRANSLATE_NOOP("TForm1", "(ローテーション停止中)");

void Paint(QWidget* w, const QColor& background, const QColor& text)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// Left button alone, no modifier key: the only state that drags the window.
bool LeftAlone(const QMouseEvent* e)
{
    return e->buttons() == Qt::LeftButton && e->modifiers() == Qt::NoModifier;
}

} // namespace

TStrip::TStrip(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Strip"));

    ShapeBack = new TShape(this);
    ShapeBack->setObjectName(QStringLiteral("ShapeBack"));
    ShapeBack->SetPenColor(Qt::white);
    ShapeBack->SetBrushColor(Qt::white);

    shapeWindow = new TShape(this);
    shapeWindow->setObjectName(QStringLiteral("shapeWindow"));
    shapeWindow->SetRounded(true);
    shapeWindow->SetPenColor(QColor(0xC0, 0xC0, 0xC0));
    shapeWindow->SetBrushColor(Qt::white);
    shapeWindow->setGeometry(0, 1, 629, 75);

    ImageStar = new QLabel(this);
    ImageStar->setObjectName(QStringLiteral("ImageStar"));
    ImageStar->setPixmap(StarPixmap(false));
    ImageStar->setGeometry(0, 0, 16, 16);
    ImageStar->hide();
    ImageStarOn = new QLabel(this);
    ImageStarOn->setObjectName(QStringLiteral("ImageStarOn"));
    ImageStarOn->setPixmap(StarPixmap(true));
    ImageStarOn->setGeometry(0, 0, 16, 16);
    ImageStarOn->hide();

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(47, 50, 16, 16);
    Image1->setScaledContents(true);
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setMouseTracking(true);
    Image1->setAccessibleName(QCoreApplication::translate("TForm1", "お気に入り"));
    Image1->setAccessibleDescription(QCoreApplication::translate("TForm1", "クリックでお気に入りに登録"));

    lblStar = new QLabel(this);
    lblStar->setObjectName(QStringLiteral("lblStar"));
    lblStar->setGeometry(15, 38, 79, 11);
    lblStar->setText(QCoreApplication::translate("TForm1", "お気に入りスター"));
    lblStar->setFont(PixelFont(kPGothic, 11));
    Paint(lblStar, Qt::white, Qt::black);
    lblStar->setMouseTracking(true);

    lblUserName = new QLabel(this);
    lblUserName->setObjectName(QStringLiteral("lblUserName"));
    lblUserName->setGeometry(7, 5, 93, 28);
    lblUserName->setAlignment(Qt::AlignCenter);
    lblUserName->setWordWrap(true);
    lblUserName->setFont(PixelFont(kPGothic, 12, true));
    Paint(lblUserName, Qt::white, Qt::blue);
    lblUserName->setMouseTracking(true);

    RichEditC = new TRichEditC(this);
    RichEditC->setObjectName(QStringLiteral("RichEditC"));
    RichEditC->setGeometry(106, 6, 514, 63);
    RichEditC->setFrameShape(QFrame::NoFrame);
    RichEditC->setFont(PixelFont(kPGothic, 13));
    Paint(RichEditC, Qt::white, Qt::black);
    RichEditC->viewport()->setMouseTracking(true);
    RichEditC->setAccessibleName(QCoreApplication::translate("TForm1", "つぶやき本文"));
    connect(RichEditC, &QTextEdit::textChanged, this, [this] { RichEditC->SetAutoUrlDetect(true); });

    // The widget mode's count of unseen statuses, right of the star.
    m_unseen = new QLabel(this);
    m_unseen->setObjectName(QStringLiteral("lblUnseen"));
    m_unseen->setFont(PixelFont(kPGothic, 10, true));
    m_unseen->setAlignment(Qt::AlignCenter);
    m_unseen->move(68, 51);
    m_unseen->setAccessibleName(QCoreApplication::translate("TForm1", "未読の数"));
    m_unseen->hide();

    // Its text and font come when it is first shown: a hidden mark loads no font.
    m_repeated = new QLabel(this);
    m_repeated->setObjectName(QStringLiteral("lblRepeated"));
    m_repeated->setAccessibleName(QCoreApplication::translate("TForm1", "リピート済み"));
    m_repeated->hide();

    // Stacking from the bottom: back, rounded frame, star, star caption, name, text.
    ShapeBack->lower();
    shapeWindow->raise();
    Image1->raise();
    lblStar->raise();
    lblUserName->raise();
    RichEditC->raise();
    m_unseen->raise();
    // Above the rounded frame, or list mode would hide it.
    m_repeated->raise();

    for (QWidget* w : std::initializer_list<QWidget*>{lblUserName, RichEditC->viewport(), Image1, lblStar})
        w->installEventFilter(this);
}

void TStrip::resizeEvent(QResizeEvent*)
{
    // Only the background follows the window's width.
    ShapeBack->setGeometry(0, 0, width(), kHeight);
}

void TStrip::ShowStar(bool gold)
{
    Image1->setPixmap(gold ? ImageStarOn->pixmap() : ImageStar->pixmap());
    Image1->update();
}

void TStrip::ShowRepeated(bool repeated)
{
    if (repeated && m_repeated->text().isEmpty()) {
        m_repeated->setFont(PixelFont(kPGothic, 10, true));
        m_repeated->setText(QStringLiteral("RT"));
        m_repeated->setToolTip(QCoreApplication::translate("TForm1", "リピートしました"));
        m_repeated->adjustSize();
        m_repeated->move(47 - m_repeated->width() - 4, 52);
    }
    m_repeated->setVisible(repeated);
}

void TStrip::ShowUnseen(int count)
{
    const bool badge = count > 0;
    // Styled when first needed: a style sheet costs start-up time for a hidden label.
    if (badge && m_unseen->styleSheet().isEmpty())
        m_unseen->setStyleSheet(
            QStringLiteral("QLabel { background: #e8590c; color: white; border-radius: 6px; padding: 0 4px; }"));
    // Measured only when shown: a hidden badge loads no font.
    if (badge) {
        m_unseen->setText(QString::number(count));
        m_unseen->adjustSize();
    }
    m_unseen->setVisible(badge);
}

void TStrip::SetColours(const QColor& background, const QColor& text)
{
    ShapeBack->SetBrushColor(background);
    Paint(lblStar, background, text);
    Paint(lblUserName, background, text);
}

void TStrip::ApplyMode(int mode)
{
    const bool widget = mode == 3;
    lblStar->setText(mode == 1 ? QCoreApplication::translate("TForm1", "お気に入りスター") : QString());
    shapeWindow->setVisible(mode == 1);
    Paint(RichEditC, widget ? Qt::black : Qt::white, widget ? Qt::white : Qt::black);
    SetColours(widget ? Qt::black : Qt::white, widget ? Qt::white : Qt::black);
    // Readable on the widget mode's black too.
    Paint(m_repeated, widget ? Qt::black : Qt::white, widget ? Qt::white : Qt::black);
    // Links stay marked across a re-created window.
    RichEditC->SetAutoUrlDetect(true);
}

void TStrip::DragPress(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && e->buttons() == Qt::LeftButton && e->modifiers() == Qt::NoModifier)
        m_grabOffset = e->globalPosition().toPoint() - window()->pos();
}

bool TStrip::DragMove(QMouseEvent* e)
{
    if (!LeftAlone(e))
        return false;
    QWidget* w = window();
    const QPoint target = e->globalPosition().toPoint() - m_grabOffset;
    if (target.x() != w->x())
        w->move(target.x(), w->y());
    if (target.y() != w->y())
        w->move(w->x(), target.y());
    return true;
}

bool TStrip::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::ContextMenu) {
        // The popup belongs to every part of the strip.
        Q_EMIT MenuRequested(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QString twoLines = QStringLiteral("\n") + QCoreApplication::translate("TForm1", kRotationStopped);

    if (watched == lblUserName) {
        if (type == QEvent::MouseButtonPress) {
            DragPress(mouse);
        } else if (type == QEvent::MouseMove && !DragMove(mouse)) {
            lblUserName->setToolTip(QCoreApplication::translate("TForm1", "ユーザ") + twoLines);
            Q_EMIT Hovered(TPart::Name);
        }
    } else if (watched == RichEditC->viewport()) {
        if (type == QEvent::MouseButtonPress) {
            DragPress(mouse);
        } else if (type == QEvent::MouseMove) {
            if (!DragMove(mouse))
                Q_EMIT Hovered(TPart::Text);
            RichEditC->SetAutoUrlDetect(true);
        }
    } else if (watched == Image1 || watched == lblStar) {
        if (type == QEvent::MouseMove) {
            static_cast<QWidget*>(watched)->setToolTip(QCoreApplication::translate("TForm1", "お気に入りに登録") + twoLines);
            Q_EMIT Hovered(TPart::Star);
        } else if (watched == Image1 && type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton
                   && Image1->rect().contains(mouse->position().toPoint())) {
            Q_EMIT StarClicked();
        }
    }
    return QWidget::eventFilter(watched, event);
}
