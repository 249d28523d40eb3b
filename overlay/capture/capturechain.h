#pragma once

#include "overlay/screencapture.h"

#include <memory>
#include <vector>

// Several capture routes in order of preference, seen as one. Requests go to the first
// route; when it fails for good, it is dropped and the same request goes to the next, so
// the caller only hears of a lasting failure once no route is left. A failure that may pass
// (a refused dialog, a timeout) is passed on as it is and keeps the route.
class CaptureChain final : public ScreenCapture
{
    Q_OBJECT

public:
    explicit CaptureChain(std::vector<std::unique_ptr<ScreenCapture>> routes,
                          QObject *parent = nullptr);
    ~CaptureChain() override;

    // The route in use; empty once none is left.
    QString name() const override;
    void capture(QScreen *screen) override;
    void cancel() override;

    // How many routes are still in the chain.
    int routeCount() const { return int(m_routes.size()); }

private:
    void attachFront();
    void onCaptured(QPointer<QScreen> screen, const QPixmap &picture);
    void onFailed(const QString &why, bool lasting);

    std::vector<std::unique_ptr<ScreenCapture>> m_routes;
    // The request under way, to be asked again of the next route after a lasting failure.
    QPointer<QScreen> m_screen;
    bool m_pending = false;
    // Why the routes already dropped failed, for the last failure's line.
    QStringList m_reasons;
};
