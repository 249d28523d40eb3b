#include "ui/previewwidget.h"

#include <QBrush>
#include <QPainter>
#include <QPen>
#include <QTransform>

namespace {

// The preview's fixed figures, independent of the sizes chosen for the real overlay.
constexpr int kDiameter = 80;
constexpr int kLensSource = 40;
constexpr qreal kLensScale = 2.0;

// Size of the sample picture, also used for the stand-in when it cannot be loaded.
constexpr int kPictureWidth = 300;
constexpr int kPictureHeight = 200;

QColor withAlpha(QColor color, int alpha)
{
    // The dialog passes slider values; keep out-of-range numbers from reaching QColor.
    color.setAlpha(qBound(0, alpha, 255));
    return color;
}

} // namespace

PreViewWidget::PreViewWidget(QWidget *parent) : QWidget(parent)
{
    m_picture.load(QStringLiteral(":/Resource/preview_normal.jpg"));
    if (m_picture.isNull()) {
        // Without the picture the effects are still shown, over a plain grey.
        m_picture = QPixmap(kPictureWidth, kPictureHeight);
        m_picture.fill(QColor(96, 104, 118));
    }
}

void PreViewWidget::setEffect(ScreenMode mode, const QColor &backColor, int backOpacity,
                              const QColor &foreColor, int foreOpacity)
{
    m_mode = mode;
    m_backColor = backColor;
    m_backOpacity = backOpacity;
    m_foreColor = foreColor;
    m_foreOpacity = foreOpacity;
    update();
}

void PreViewWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPixmap(rect(), m_picture);

    const int cx = m_picture.width() / 2;
    const int cy = m_picture.height() / 2;
    const QRect circle(cx - kDiameter / 2, cy - kDiameter / 2, kDiameter, kDiameter);

    switch (m_mode) {
    case ModeSpotLight: {
        const QColor shade = withAlpha(m_backColor, m_backOpacity);
        painter.fillRect(rect(), shade);
        // The clear circle is the picture itself, put back exactly where it was taken from.
        QBrush clear(m_picture.copy(circle));
        clear.setTransform(QTransform::fromTranslate(circle.x(), circle.y()));
        painter.setBrush(clear);
        painter.setPen(QPen(shade, 1));
        painter.drawEllipse(circle);
        break;
    }
    case ModeLaser: {
        const QColor dot = withAlpha(m_foreColor, m_foreOpacity);
        painter.setBrush(dot);
        painter.setPen(QPen(dot, 1));
        painter.drawEllipse(circle);
        break;
    }
    case ModeMagnifier: {
        const QRect source(cx - kLensSource / 2, cy - kLensSource / 2, kLensSource, kLensSource);
        QBrush lens(m_picture.copy(source));
        QTransform transform;
        transform.translate(circle.x(), circle.y());
        transform.scale(kLensScale, kLensScale);
        lens.setTransform(transform);
        painter.setBrush(lens);
        painter.setPen(QPen(m_foreColor, 1));
        painter.drawEllipse(circle);
        break;
    }
    case ModeNormal:
    case ModeBlackScreen:
    default:
        break;
    }
}
