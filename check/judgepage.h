#pragma once

#include <QByteArray>
#include <QString>

// What a judge's reply tells: whether it is the judge's page, and what the judge saw of the request.
namespace JudgePage {

enum Verdict {
    IsJudge,     // status 200 and the marker in the body
    OtherPage,   // a whole HTTP reply, but not the judge's page
    Login,       // status 407 or 401: the proxy wants credentials
    Cut,         // a head or a body that ended early
    NotHttp,     // bytes that are no HTTP reply
    NothingCame, // no byte at all
};

// The reply as it stands when the connection has ended (or the reply is complete).
Verdict judge(const QByteArray& reply, const QByteArray& marker);
// True once the reply holds its whole head and the body its Content-Length gives.
bool isComplete(const QByteArray& reply);

// The first IPv4 address written in the body other than `except` (the judge's own), or empty.
QString firstAddress(const QByteArray& reply, const QString& except);
// The address written in the body as a whole address: "10.0.0.1" is not in "10.0.0.12".
bool mentionsAddress(const QByteArray& reply, const QString& address);
// A header that proxies add shows in the echo: Via, X-Forwarded-For, Forwarded, X-Real-IP,
// Proxy-Connection, X-Proxy-ID, as a name followed by ":" or "=", in any case, also as HTTP_X_FORWARDED_FOR.
bool showsProxyHeader(const QByteArray& reply);

} // namespace JudgePage
