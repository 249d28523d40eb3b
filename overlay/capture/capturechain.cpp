#include "overlay/capture/capturechain.h"

#include <QTimer>

#include <algorithm>

CaptureChain::CaptureChain(std::vector<std::unique_ptr<ScreenCapture>> routes, QObject *parent)
    : m_routes(std::move(routes))
{
    setParent(parent);
    m_routes.erase(std::remove(m_routes.begin(), m_routes.end(), nullptr), m_routes.end());
    attachFront();
}

CaptureChain::~CaptureChain() = default;

QString CaptureChain::name() const
{
    return m_routes.empty() ? QString() : m_routes.front()->name();
}

void CaptureChain::capture(QScreen *screen)
{
    m_screen = screen;
    m_pending = true;
    if (!m_routes.empty()) {
        m_routes.front()->capture(screen);
        return;
    }
    // Never from within this call, as with any other route.
    QTimer::singleShot(0, this, [this] {
        if (!m_pending)
            return;
        m_pending = false;
        emit failed(m_reasons.isEmpty() ? QStringLiteral("no screen capture route")
                                        : m_reasons.join(QStringLiteral("; ")),
                    true);
    });
}

void CaptureChain::cancel()
{
    m_pending = false;
    if (!m_routes.empty())
        m_routes.front()->cancel();
}

void CaptureChain::attachFront()
{
    if (m_routes.empty())
        return;
    ScreenCapture *route = m_routes.front().get();
    connect(route, &ScreenCapture::captured, this, &CaptureChain::onCaptured);
    connect(route, &ScreenCapture::failed, this, &CaptureChain::onFailed);
}

void CaptureChain::onCaptured(QPointer<QScreen> screen, const QPixmap &picture)
{
    m_pending = false;
    emit captured(screen, picture);
}

void CaptureChain::onFailed(const QString &why, bool lasting)
{
    if (!lasting) {
        m_pending = false;
        emit failed(why, false);
        return;
    }
    m_reasons << QStringLiteral("%1: %2").arg(m_routes.front()->name(), why);
    // The failing route is inside its own signal: delete it once that has returned.
    m_routes.front()->disconnect(this);
    m_routes.front().release()->deleteLater();
    m_routes.erase(m_routes.begin());
    attachFront();
    if (m_routes.empty()) {
        m_pending = false;
        emit failed(m_reasons.join(QStringLiteral("; ")), true);
        return;
    }
    if (m_pending)
        m_routes.front()->capture(m_screen);
}
