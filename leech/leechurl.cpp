#include "leech/leechurl.h"

#include "app/util/externalhosts.h"

CLeechUrl::CLeechUrl() : m_referrer(ExternalHosts::searchReferrer) {}

void CLeechUrl::parse(const QString& url, int level, const QString& referrer)
{
    // Filled in with the fetching work.
    m_url = url;
    m_level = level;
    m_referrer = referrer;
}
