#pragma once

#include "presenter/screenmode.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>

// The small picture in the settings window that shows the chosen effect, drawn at a fixed
// size in the centre of a sample picture. It has no input handling; the dialog pushes the
// whole effect state through setEffect after every change.
class PreViewWidget final : public QWidget
{
    Q_OBJECT

public:
    explicit PreViewWidget(QWidget *parent = nullptr);

    void setEffect(ScreenMode mode, const QColor &backColor, int backOpacity,
                   const QColor &foreColor, int foreOpacity);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ScreenMode m_mode = ModeNormal;
    QColor m_foreColor{255, 255, 0};
    QColor m_backColor{0, 255, 255};
    int m_foreOpacity = 200;
    int m_backOpacity = 200;
    QPixmap m_picture;
};
