// The presentation beneath Kavri in the Wayland suite: a native full-screen window that shows
// a known picture (each quarter of the screen a checker of its own two light colours, 40 px
// squares) and prints on stdout where the pointer is over it ("at x y"), every press, release
// and key it gets, when the pointer enters or leaves it and when it gains or loses the keyboard.
// The key b starts a block at Block changing its colour every 100 ms (a video beneath the lens).
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <utility>

namespace {

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class Presentation final : public QWidget
{
public:
    static constexpr QRect Block{1000, 160, 80, 80};
    // Never red, nor the checker's colours.
    static constexpr QRgb BlockColours[4] = {0xff0000c0, 0xff008000, 0xffc000c0, 0xff804000};

protected:
    void paintEvent(QPaintEvent *) override
    {
        // Light, and never red: the spotlight darkens it and the laser dot is red.
        static const QColor colours[4][2] = {{{80, 160, 255}, {200, 230, 255}},
                                             {{60, 200, 90}, {190, 240, 190}},
                                             {{240, 220, 60}, {255, 250, 190}},
                                             {{0, 200, 200}, {190, 250, 250}}};
        QPainter p(this);
        for (int y = 0; y < height(); y += 40)
            for (int x = 0; x < width(); x += 40) {
                const int quarter = (x >= width() / 2 ? 1 : 0) + (y >= height() / 2 ? 2 : 0);
                p.fillRect(x, y, 40, 40, colours[quarter][(x / 40 + y / 40) % 2]);
            }
        if (m_blinks)
            p.fillRect(Block, QColor(BlockColours[m_blinks % 4]));
        else
            say(QStringLiteral("painted %1 %2").arg(width()).arg(height()));
    }
    void mouseMoveEvent(QMouseEvent *e) override { report("at", e->pos()); }
    void mousePressEvent(QMouseEvent *e) override { report("press", e->pos()); }
    void mouseReleaseEvent(QMouseEvent *e) override { report("release", e->pos()); }
    void keyPressEvent(QKeyEvent *e) override
    {
        say("key " + e->text());
        if (e->text() == QLatin1String("b") && !m_blink.isActive()) {
            connect(&m_blink, &QTimer::timeout, this, [this] {
                ++m_blinks;
                update(Block);
            });
            m_blink.start(100);
        }
    }
    // Where the pointer and the keyboard are, for the reader of a failed check.
    bool event(QEvent *e) override
    {
        static const std::pair<QEvent::Type, const char *> told[] = {
            {QEvent::Enter, "pointer entered"},
            {QEvent::Leave, "pointer left"},
            {QEvent::WindowActivate, "activated"},
            {QEvent::WindowDeactivate, "deactivated"}};
        for (const auto &t : told)
            if (e->type() == t.first)
                say(QLatin1String(t.second));
        if (e->type() == QEvent::Enter)
            report("at", mapFromGlobal(QCursor::pos()));
        return QWidget::event(e);
    }

private:
    QTimer m_blink;
    int m_blinks = 0;

    static void report(const char *what, const QPoint &at)
    {
        say(QStringLiteral("%1 %2 %3").arg(QLatin1String(what)).arg(at.x()).arg(at.y()));
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Presentation window;
    window.setMouseTracking(true);
    window.setWindowTitle(QStringLiteral("presentation"));
    window.showFullScreen();
    return app.exec();
}
