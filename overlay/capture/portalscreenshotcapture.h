#pragma once

#include "overlay/capture/captureroute.h"
#include "overlay/screencapture.h"

#include <QVariantMap>

class QTimer;

// The screen through the desktop portal's Screenshot interface, without a dialog
// (interactive false). The portal answers with a file holding the whole desktop; the part
// showing the requested screen is cut out, pixel for pixel.
//
// On GNOME the portal flashes the screen, plays the shutter sound and saves the picture in
// the user's Pictures folder every time, and asks once whether applications may take
// screenshots. The path in the portal's answer is read only when it names a regular file of
// this user's (not a link, FIFO or device), and never waited on. The file is deleted afterwards
// only when it turned out to be the screenshot (a picture of about the desktop's size) and lies
// directly in a temporary folder; anything else is left where it is.
class PortalScreenshotCapture final : public ScreenCapture
{
    Q_OBJECT

public:
    explicit PortalScreenshotCapture(QObject *parent = nullptr);
    ~PortalScreenshotCapture() override;

    QString name() const override { return captureRouteName(CaptureRoute::Portal); }
    void capture(QScreen *screen) override;
    // Withdraws the request under way (the portal's Close).
    void cancel() override;

    // How long to wait for the portal's answer. The first request may show a permission
    // dialog, so the default is long. A timeout may pass; the second in a row is lasting.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    // The folders the route deletes the screenshot from after reading it, when it lies
    // directly in one (by default the temporary folder, /tmp and the runtime folder).
    void setTemporaryFolders(const QStringList &folders) { m_temporaryFolders = folders; }

private slots:
    // QtDBus delivers signals to slots named by their signature only.
    void onResponse(uint response, const QVariantMap &results);

private:
    void finish();
    void subscribe(const QString &path);
    void unsubscribe();
    void fail(const QString &why, bool lasting);
    void deliver(const QString &fileName);

    QPointer<QScreen> m_screen;
    QStringList m_temporaryFolders;
    QString m_requestPath;
    quint64 m_request = 0;
    int m_timeoutMs = 25000;
    // Requests in a row the portal left unanswered.
    int m_silences = 0;
    QTimer *m_timeout = nullptr;
};
