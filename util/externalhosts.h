#pragma once

#include <QString>

// Every outside address the program talks to or opens, in one place.
namespace ExternalHosts {

// Serves the ready-made leech list ("/4/proxyUrlList.txt") and answers update lookups ("/lookup.php").
inline const QString updateServer = QStringLiteral("www.tarnix.net");
// Public geo-IP page answering "/en/?IP=<address>" with the country as a link before a flag image.
inline const QString geoIpService = QStringLiteral("www.geoiptool.com");
// Pages opened in the user's browser.
inline const QString guidePage = QStringLiteral("http://www.tarnix.net/sievra/guide.html");
inline const QString downloadPage = QStringLiteral("http://www.tarnix.net/sievra/download.html");
// Results page handed along as the referrer of a fresh URL record.
inline const QString searchReferrer = QStringLiteral("www.bing.com/search?q=proxy+list&x=0&y=0&form=MSNH90");
// Word in the host name of the proxy-list site whose links carry host and port as query parameters.
inline const QString rewriteSiteMarker = QStringLiteral("proxy-listen");

// The page a proxy check fetches through each proxy (an http:// page that echoes the request it got), and a
// text its page always holds.
inline const QString proxyJudge = QStringLiteral("http://httpbin.org/get");
inline const QString proxyJudgeMarker = QStringLiteral("\"origin\"");

} // namespace ExternalHosts
