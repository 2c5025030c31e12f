#pragma once

#include <QObject>
#include <QUrl>

// Catches every QDesktopServices::openUrl request for the usual schemes, so tests never open a browser,
// a file manager or an editor; the requests are recorded instead.
class DesktopCapture : public QObject
{
    Q_OBJECT

public:
    DesktopCapture();
    ~DesktopCapture() override;

    QList<QUrl> urls() const { return m_urls; }

public slots:
    void openUrl(const QUrl& url);

private:
    QList<QUrl> m_urls;
};
