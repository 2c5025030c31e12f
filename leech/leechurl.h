#pragma once

#include <QString>

// One URL split into host and path, with the referrer carried along and its link level.
class CLeechUrl
{
public:
    CLeechUrl();

    void parse(const QString& url, int level, const QString& referrer);

    QString url() const { return m_url; }
    QString host() const { return m_host; }
    QString path() const { return m_path; }
    QString referrer() const { return m_referrer; }
    int level() const { return m_level; }

private:
    QString m_url;
    QString m_host;
    QString m_path;
    QString m_referrer;
    int m_level = 0;
};
