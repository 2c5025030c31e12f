#include "settings/config.h"

#include "app/util/textfiles.h"
#include "settings/settingscipher.h"
#include "settings/userfolders.h"

namespace {

const QString marker = QStringLiteral("<!-- SIEVRA -->");

// The raw text between <name> and the first </name> behind it; null when either tag is missing.
QString elementText(const QString& text, const QString& name)
{
    const QString startTag = QLatin1Char('<') + name + QLatin1Char('>');
    const QString endTag = QStringLiteral("</") + name + QLatin1Char('>');
    const int start = text.indexOf(startTag);
    if (start < 0)
        return QString();
    const int valueStart = start + startTag.size();
    const int end = text.indexOf(endTag, valueStart);
    if (end < 0)
        return QString();
    return text.mid(valueStart, end - valueStart);
}

} // namespace

CConfig::CConfig()
{
    load(UserFolders::configFile());
}

CConfig::~CConfig()
{
    save(UserFolders::configFile());
}

void CConfig::load(const QString& path)
{
    const QString stored = readTextFile(path);
    if (stored.isEmpty())
        return;
    const QString text = CSettingsCipher::unscramble(stored);
    if (!text.contains(marker))
        return;

    bool ok = false;
    const int timeout = elementText(text, QStringLiteral("timeout")).toInt(&ok, 10);
    m_timeout = ok ? timeout : 2;

    const int depth = elementText(text, QStringLiteral("depth")).toInt(&ok, 10);
    m_depth = (ok && depth != 0) ? depth : 1;

    // A hand-edited file without the output element keeps the default template.
    const QString format = elementText(text, QStringLiteral("output"));
    if (!format.isNull())
        m_outputFormat = format;
}

QString CConfig::compose() const
{
    const QString crlf = QStringLiteral("\r\n");
    // Values go in raw: the reader finds them by plain substring search, not as XML.
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>") + crlf + marker + crlf +
           QStringLiteral("<config>") + crlf + QStringLiteral("<leeching>") + crlf + QStringLiteral("<timeout>") +
           QString::number(m_timeout) + QStringLiteral("</timeout>") + crlf + QStringLiteral("<depth>") +
           QString::number(m_depth) + QStringLiteral("</depth>") + crlf + QStringLiteral("<output>") + m_outputFormat +
           QStringLiteral("</output>") + crlf + QStringLiteral("</leeching>") + crlf + QStringLiteral("</config>") +
           crlf + crlf;
}

void CConfig::save(const QString& path) const
{
    // A missing base folder makes the write fail; that is silently accepted.
    writeTextFile(path, CSettingsCipher::scramble(compose()));
}
