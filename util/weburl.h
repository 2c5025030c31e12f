#pragma once

#include <QString>
#include <QUrl>

// URLs of today's web as the command line takes them: http:// or https://, a domain name or an IPv4
// address, a port when the URL names one.
namespace WebUrl {

// The URL a line names, or an empty URL when the line is no such URL. Blanks around it are ignored.
QUrl fromText(const QString& text);
bool isFetchable(const QUrl& url);
bool isSecure(const QUrl& url);
// The URL's own port, or 443 for https and 80 for http.
int port(const QUrl& url);
// The request line's target: path and query, "/" for none.
QString requestPath(const QUrl& url);
// The Host line's value: the host, with the port when the URL names one.
QString hostHeader(const QUrl& url);

} // namespace WebUrl
