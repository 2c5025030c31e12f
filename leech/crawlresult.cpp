#include "leech/crawlresult.h"

// The descriptor is the fetcher's index in the harvest, not a system socket: it names the fetcher's page files.
CCrawlResult::CCrawlResult(int iSocketDescriptor, int bytes, const QString& url)
    : m_socketDescriptor(iSocketDescriptor), m_bytes(bytes), m_url(url)
{
}

CCrawlResult CCrawlResult::stopped(int iSocketDescriptor, const QString& url)
{
    CCrawlResult result(iSocketDescriptor, 0, url);
    CFetchOutcome outcome;
    outcome.setFinalUrl(url);
    result.setOutcome(outcome);
    return result;
}
