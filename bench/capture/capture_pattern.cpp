// A full-screen window of four coloured quarters (red, green / blue, white), the picture
// bench_capture --expect-pattern looks for. With --change FPS the quarters turn round that many
// times a second, a whole-screen change as a video makes (the live lens benchmark).
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

class PatternWindow final : public QRasterWindow
{
public:
    int turn = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        static const QColor colours[4] = {Qt::red, Qt::green, Qt::white, Qt::blue};
        QPainter p(this);
        const int w = width() / 2;
        const int h = height() / 2;
        p.fillRect(0, 0, w, h, colours[turn % 4]);
        p.fillRect(w, 0, width() - w, h, colours[(turn + 1) % 4]);
        p.fillRect(0, h, w, height() - h, colours[(turn + 3) % 4]);
        p.fillRect(w, h, width() - w, height() - h, colours[(turn + 2) % 4]);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    PatternWindow window;
    window.showFullScreen();
    const int at = QGuiApplication::arguments().indexOf(QStringLiteral("--change"));
    const int fps = at > 0 ? QGuiApplication::arguments().value(at + 1).toInt() : 0;
    QTimer change;
    change.setTimerType(Qt::PreciseTimer);
    QObject::connect(&change, &QTimer::timeout, &window, [&window] {
        ++window.turn;
        window.update();
    });
    if (fps > 0)
        change.start(1000 / fps);
    return app.exec();
}
