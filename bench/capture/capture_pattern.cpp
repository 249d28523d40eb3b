// A full-screen window of four coloured quarters (red, green / blue, white), the picture
// bench_capture --expect-pattern looks for.
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>

class PatternWindow final : public QRasterWindow
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const int w = width() / 2;
        const int h = height() / 2;
        p.fillRect(0, 0, w, h, Qt::red);
        p.fillRect(w, 0, width() - w, h, Qt::green);
        p.fillRect(0, h, w, height() - h, Qt::blue);
        p.fillRect(w, h, width() - w, height() - h, Qt::white);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    PatternWindow window;
    window.showFullScreen();
    return app.exec();
}
