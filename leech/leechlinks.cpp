#include "leech/leechlinks.h"

#include "util/httpport.h"
#include "util/weburl.h"

#include <QMetaMethod>
#include <QRegularExpression>

namespace {

// Link targets not worth recording or following.
const QStringList unwantedFileTypes =
    QStringLiteral("ico,jpg,png,gif,jpeg,zip,rar,exe,com,tar,bin,css,js").split(QLatin1Char(','));

// Where the query or fragment of a link starts, or its length when it has neither.
qsizetype endOfPath(const QString& link)
{
    for (qsizetype i = 0; i < link.size(); ++i) {
        if (link.at(i) == QLatin1Char('?') || link.at(i) == QLatin1Char('#'))
            return i;
    }
    return link.size();
}

// Takes out "." and ".." segments the way a browser does; the path begins with "/".
QString withoutDotSegments(const QString& path)
{
    const QStringList in = path.split(QLatin1Char('/'));
    QStringList out;
    for (qsizetype i = 1; i < in.size(); ++i) {
        const QString& segment = in.at(i);
        const bool last = i == in.size() - 1;
        if (segment == QLatin1String(".") || segment == QLatin1String("..")) {
            if (segment == QLatin1String("..") && !out.isEmpty())
                out.removeLast();
            if (last)
                out.append(QString());
            continue;
        }
        out.append(segment);
    }
    return QLatin1Char('/') + out.join(QLatin1Char('/'));
}

// A link that starts neither with "http" nor with "/": resolved against the page's folder as a browser
// would, since prefixing the bare host would glue host and file name together. Empty and "#" links name
// the page itself and other schemes (mailto:, javascript:, ftp: ...) are no pages of ours: both give "".
QString resolveRelative(const QString& link, const QString& host, const QString& pagePath)
{
    if (link.isEmpty() || link.startsWith(QLatin1Char('#')))
        return QString();
    // A colon in the first segment means a scheme; a relative path would need "./" in front of it.
    const QString firstSegment = link.left(endOfPath(link)).section(QLatin1Char('/'), 0, 0);
    if (firstSegment.contains(QLatin1Char(':')))
        return QString();

    QString base = pagePath.left(endOfPath(pagePath));
    if (!base.startsWith(QLatin1Char('/')))
        base.prepend(QLatin1Char('/'));
    if (link.startsWith(QLatin1Char('?')))
        return host + base + link;

    const QString joined = base.left(base.lastIndexOf(QLatin1Char('/')) + 1) + link;
    const qsizetype pathEnd = endOfPath(joined);
    return host + withoutDotSegments(joined.left(pathEnd)) + joined.mid(pathEnd);
}

} // namespace

QStringList CLinkExtractor::extractLinks(const QString& text, const QString& host, const QString& path) const
{
    static const QRegularExpression domainPattern(
        QRegularExpression::anchoredPattern(
            QStringLiteral("(www\\.)?(([^\\.]+)\\.)?([^\\.]+)\\.[a-z]{2,4}(\\.[a-z]{2,4})?")),
        QRegularExpression::CaseInsensitiveOption);
    const QString opener = QStringLiteral("href=\"");
    const QString page = text.toLower();

    QStringList links;
    qsizetype at = page.indexOf(opener);
    while (at >= 0) {
        const qsizetype valueStart = at + opener.size();
        qsizetype valueEnd = page.indexOf(QLatin1Char('"'), valueStart);
        if (valueEnd < 0)
            valueEnd = page.size();
        QString link = page.mid(valueStart, valueEnd - valueStart);
        // The next opener is looked for one character into this value.
        at = page.indexOf(opener, at + 7);

        if (link.startsWith(QLatin1Char('/')))
            link.prepend(host);
        else if (!link.startsWith(QLatin1String("http")))
            link = resolveRelative(link, host, path);
        link.remove(QStringLiteral("http://"));

        const QString domain = link.left(link.indexOf(QLatin1Char('/')));
        if (domain.isEmpty() || !domainPattern.match(domain).hasMatch())
            continue;
        links.append(link);
    }
    return links;
}

QStringList CLinkExtractor::extractWebLinks(const QString& text, const QUrl& page) const
{
    const QString opener = QStringLiteral("href=\"");
    // Openers are found without regard to case; the values keep theirs, as paths of today's sites need it.
    QStringList links;
    qsizetype at = text.indexOf(opener, 0, Qt::CaseInsensitive);
    while (at >= 0) {
        const qsizetype valueStart = at + opener.size();
        qsizetype valueEnd = text.indexOf(QLatin1Char('"'), valueStart);
        if (valueEnd < 0)
            valueEnd = text.size();
        const QString value = text.mid(valueStart, valueEnd - valueStart).trimmed();
        at = text.indexOf(opener, at + 7, Qt::CaseInsensitive);

        // Empty and "#" links name the page itself.
        if (value.isEmpty() || value.startsWith(QLatin1Char('#')))
            continue;
        QUrl target = page.resolved(QUrl(value));
        target.setFragment(QString());
        if (WebUrl::isFetchable(target))
            links.append(target.toString(QUrl::FullyEncoded));
    }
    return links;
}

bool CLinkExtractor::isUnwantedFile(const QString& link) const
{
    const QString target = link.left(endOfPath(link));
    // A bare host has no file type, whatever its last part ("www.example.com" is no .com program).
    if (!target.contains(QLatin1Char('/')))
        return false;
    const QString name = target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    return unwantedFileTypes.contains(name.mid(dot + 1), Qt::CaseInsensitive);
}

CLeechLinks::CLeechLinks() : CWebSocket(nullptr, 0)
{
    // Both outcomes end up in processUrl(), which tells them apart by the signal that called it.
    connect(this, &CWebSocket::dataRetrieved, this, &CLeechLinks::processUrl);
    connect(this, &CWebSocket::dataRetrievalError, this, &CLeechLinks::processUrl);
    start(QThread::InheritPriority);
}

CLeechLinks::~CLeechLinks()
{
    quit();
    if (!wait(2000)) {
        terminate();
        wait();
    }
}

void CLeechLinks::addUrl(const QString& url)
{
    CLeechUrl record;
    record.parse(url, 0, QString());
    m_queue.append(record);
}

void CLeechLinks::startCrawl()
{
    if (!m_queue.isEmpty())
        fetchFirst();
}

void CLeechLinks::abort()
{
    cancelFetch();
    m_queue.clear();
    m_foundLinks.clear();
    m_foundOrder.clear();
}

void CLeechLinks::processUrl()
{
    if (m_queue.isEmpty())
        return;
    static const int errorSignal = QMetaMethod::fromSignal(&CWebSocket::dataRetrievalError).methodIndex();
    const bool failed = senderSignalIndex() == errorSignal;
    const CLeechUrl current = m_queue.first();

    if (!failed) {
        const QStringList links = m_extractor.extractLinks(data(), host(), path());
        for (const QString& link : links) {
            if (m_extractor.isUnwantedFile(link))
                continue;
            if (!m_foundLinks.contains(link)) {
                m_foundLinks.insert(link);
                m_foundOrder << link;
            }
            // Queued again even when already found: a page linked from several pages is fetched for each.
            // Compared as signed numbers, so a negative depth follows nothing, like 0.
            if (current.level() < m_maxDepth) {
                CLeechUrl next;
                next.parse(link, current.level() + 1, link);
                m_queue.append(next);
            }
        }
    }

    m_queue.removeFirst();
    if (!m_queue.isEmpty()) {
        fetchFirst();
        return;
    }
    // In the order first found, so a run's rows come in the same order every time.
    const QStringList found = m_foundOrder;
    for (const QString& link : found)
        emit newLeechUrl(link);
    emit linkLeechingComplete();
}

void CLeechLinks::fetchFirst()
{
    const CLeechUrl& first = m_queue.first();
    setHost(first.host());
    setPath(first.path());
    // Nobody else sets the port: the web port, or the test server's.
    setPort(HttpPort::port());
    startFetch();
}
