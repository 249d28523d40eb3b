#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>

class QLabel;
class QPushButton;

// A dialog without the native frame that draws its own 30-pixel title bar (title text,
// minimise, maximise/restore, close), can be dragged by its title and wears the program's
// style sheet. It holds no settings.
class XWindow : public QDialog
{
    Q_OBJECT

public:
    explicit XWindow(QWidget *parent = nullptr);

    // Sets the title-bar text and the native title together. Hides QWidget's setter.
    void setWindowTitle(const QString &title);
    // Bit 0 close, bit 1 maximise, bit 2 minimise: a set bit shows the button.
    void setTitleButtons(int mask);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    QLabel *titleIconLabel = nullptr;
    QLabel *titleTextLabel = nullptr;
    QPushButton *minimizeButton = nullptr;
    QPushButton *maximizeButton = nullptr;
    QPushButton *closeButton = nullptr;
    QPoint dragOffset;
    bool mousePressed = false;
    bool maximized = false;
    QRect savedGeometry;
    QWidget *titleBar = nullptr;

private slots:
    void onCloseClicked();
    void onMaxClicked();
    void onMinClicked();
};
