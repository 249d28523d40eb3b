#include "overlay/capture/castplacement.h"

#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr int GridSide = 16;   // the grid of the frame's pixels matched: up to 16 x 16
constexpr int QuickCount = 16; // of them, matched first at every place
constexpr int Tolerance = 8;   // per colour channel: a picture and a frame may round apart

bool alike(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= Tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= Tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= Tolerance;
}

struct Sample
{
    QPoint at;
    QRgb colour;
};

// Of `samples`, how many match `screen` with the frame at `corner`; gives up (returning -1)
// once more than `misses` do not.
int matches(const QImage &screen, QPoint corner, const std::vector<Sample> &samples, int misses)
{
    int matched = 0;
    int missed = 0;
    for (const Sample &s : samples) {
        const QPoint p = corner + s.at;
        const auto *row = reinterpret_cast<const QRgb *>(screen.constScanLine(p.y()));
        if (alike(row[p.x()], s.colour))
            ++matched;
        else if (++missed > misses)
            return -1;
    }
    return matched;
}

std::vector<Sample> grid(const QImage &frame, int step)
{
    std::vector<Sample> samples;
    const int columns = std::min(GridSide * step, frame.width());
    const int rows = std::min(GridSide * step, frame.height());
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const QPoint at((2 * i + 1) * frame.width() / (2 * columns),
                            (2 * j + 1) * frame.height() / (2 * rows));
            samples.push_back({at, frame.pixel(at)});
        }
    return samples;
}

} // namespace

namespace CastPlacement {

std::optional<QPoint> place(const QImage &frame, const QImage &screen)
{
    if (!frame.isNull() && frame.size() == screen.size())
        return QPoint(0, 0);
    if (frame.isNull() || screen.isNull() || frame.width() > screen.width() ||
        frame.height() > screen.height())
        return std::nullopt;
    const QImage in = screen.convertToFormat(QImage::Format_RGB32);
    const std::vector<Sample> samples = grid(frame, 1);
    // A spread of the grid first: most places fail on a handful of pixels.
    std::vector<Sample> quick;
    const int every = std::max<int>(1, int(samples.size()) / QuickCount);
    for (size_t i = 0; i < samples.size(); i += size_t(every))
        quick.push_back(samples[i]);
    const int needed = int(samples.size()) * 3 / 4;
    const int quickMisses = int(quick.size()) / 2;

    struct Candidate
    {
        QPoint corner;
        int score;
    };
    std::vector<Candidate> candidates;
    for (int y = 0; y + frame.height() <= in.height(); ++y)
        for (int x = 0; x + frame.width() <= in.width(); ++x) {
            if (matches(in, QPoint(x, y), quick, quickMisses) < 0)
                continue;
            const int score = matches(in, QPoint(x, y), samples, int(samples.size()) - needed);
            if (score >= needed)
                candidates.push_back({QPoint(x, y), score});
        }
    if (candidates.empty())
        return std::nullopt;
    // The best few, told apart by a grid four times as fine.
    const size_t kept = std::min<size_t>(candidates.size(), 8);
    std::partial_sort(candidates.begin(), candidates.begin() + kept, candidates.end(),
                      [](const Candidate &a, const Candidate &b) { return a.score > b.score; });
    if (candidates.size() > kept && candidates[kept].score == candidates[0].score)
        return std::nullopt;
    const std::vector<Sample> fine = grid(frame, 4);
    int best = -1;
    int second = -1;
    QPoint corner;
    for (size_t i = 0; i < kept; ++i) {
        const int score = matches(in, candidates[i].corner, fine, int(fine.size()));
        if (score > best) {
            second = best;
            best = score;
            corner = candidates[i].corner;
        } else {
            second = std::max(second, score);
        }
    }
    if (best == second || best < int(fine.size()) * 3 / 4)
        return std::nullopt;
    return corner;
}

QImage compose(const QImage &screen, QPoint screenOrigin, const QImage &frame,
               const std::optional<QPoint> &at, const QRect &area)
{
    QImage picture(area.size(), QImage::Format_RGB32);
    if (picture.isNull())
        return picture;
    picture.fill(Qt::black);
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    auto draw = [&](const QImage &image, QPoint corner) {
        // Pixel for pixel, whatever ratio the image says it has.
        const QRect part = QRect(corner, image.size()) & area;
        if (!part.isEmpty())
            painter.drawImage(part.translated(-area.topLeft()), image, part.translated(-corner));
    };
    draw(screen, screenOrigin);
    if (at)
        draw(frame, *at);
    return picture;
}

} // namespace CastPlacement
