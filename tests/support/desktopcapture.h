#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

// Catches every QDesktopServices::openUrl request for the usual schemes, so tests never open a browser,
// a file manager or an editor; the requests are recorded instead.
class DesktopCapture : public QObject
{
    Q_OBJECT

public:
    DesktopCapture()
    {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
    }
    ~DesktopCapture() override
    {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    QList<QUrl> urls() const { return m_urls; }

public slots:
    void openUrl(const QUrl& url) { m_urls.append(url); }

private:
    QList<QUrl> m_urls;
};
