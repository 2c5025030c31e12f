#include "tests/support/desktopcapture.h"

#include <QDesktopServices>

namespace {
const char* const schemes[] = {"file", "http", "https"};
}

DesktopCapture::DesktopCapture()
{
    for (const char* scheme : schemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
}

DesktopCapture::~DesktopCapture()
{
    for (const char* scheme : schemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void DesktopCapture::openUrl(const QUrl& url)
{
    m_urls.append(url);
}
