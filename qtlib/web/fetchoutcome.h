#pragma once

#include <QByteArray>
#include <QString>

// How one page's fetch ended, for the source report: what happened, the reply's status, where the fetch ended
// up after redirects and how long it took.
class CFetchOutcome
{
public:
    enum Kind {
        Pending,    // not ended (yet): the harvest was stopped first
        Ok,         // a 2xx reply
        HttpStatus, // a reply with any other status
        Truncated,  // a reply cut at the size limit
        Cut,        // the connection ended before the reply did
        TimedOut,
        Refused,
        NotResolved,
        Tls, // the secure connection failed; detail says why
        RedirectLoop,
        TooManyRedirects,
        NotStored,   // the page came but could not be written to the page store
        NetworkError // anything else; detail holds libcurl's text, or Qt's for the window's fetcher
    };

    CFetchOutcome() = default;
    CFetchOutcome(Kind kind, const QString& detail = QString()) : m_kind(kind), m_detail(detail) {}

    Kind kind() const { return m_kind; }
    QString detail() const { return m_detail; }
    // The report's word for it: "ok", "http 404", "tls: <reason>" ...
    QString text() const;

    int status() const { return m_status; }
    void setStatus(int status) { m_status = status; }
    QString finalUrl() const { return m_finalUrl; }
    void setFinalUrl(const QString& url) { m_finalUrl = url; }
    qint64 milliseconds() const { return m_milliseconds; }
    void setMilliseconds(qint64 ms) { m_milliseconds = ms; }
    // The reply's Content-Type, as it came; empty where it gave none.
    QByteArray contentType() const { return m_contentType; }
    void setContentType(const QByteArray& type) { m_contentType = type; }
    void setKind(Kind kind, const QString& detail = QString())
    {
        m_kind = kind;
        m_detail = detail;
    }

private:
    Kind m_kind = Pending;
    QString m_detail;
    int m_status = 0;
    QString m_finalUrl;
    qint64 m_milliseconds = 0;
    QByteArray m_contentType;
};
