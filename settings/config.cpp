#include "settings/config.h"

#include "settings/settingscipher.h"
#include "settings/userfolders.h"
#include "util/textfiles.h"

#include <QFile>
#include <limits>

namespace {

const QString marker = QStringLiteral("<!-- SIEVRA -->");

// Ours is a few hundred bytes, and under 200 kB even with the longest template the window takes.
constexpr qint64 largestSettingsFile = qint64(1024) * 1024;

// The window offers time-outs 0 to 3 and depths 1 to 5. Small strays of a hand-edited file are kept as
// ever, but a number beyond this cannot be ours and would only overflow where it is used.
constexpr int farthestChoice = 1000;

bool couldBeOurs(int choice)
{
    return choice >= -farthestChoice && choice <= farthestChoice;
}

// The file's text, or an empty string when it cannot be opened or is too large to be ours: a huge file
// is never read whole.
QString readSettingsFile(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QByteArray bytes = file.read(largestSettingsFile + 1);
    return bytes.size() > largestSettingsFile ? QString() : QString::fromUtf8(bytes);
}

// The raw text between <name> and the first </name> behind it; null when either tag is missing.
QString elementText(const QString& text, const QString& name)
{
    const QString startTag = QLatin1Char('<') + name + QLatin1Char('>');
    const QString endTag = QStringLiteral("</") + name + QLatin1Char('>');
    const qsizetype start = text.indexOf(startTag);
    if (start < 0)
        return QString();
    const qsizetype valueStart = start + startTag.size();
    const qsizetype end = text.indexOf(endTag, valueStart);
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
    if (m_saveOnExit)
        save(UserFolders::configFile());
}

void CConfig::load(const QString& path)
{
    const QString stored = readSettingsFile(path);
    if (stored.isEmpty())
        return;
    const QString text = CSettingsCipher::unscramble(stored);
    if (!text.contains(marker))
        return;

    bool ok = false;
    const int timeout = elementText(text, QStringLiteral("timeout")).toInt(&ok, 10);
    m_timeout = (ok && couldBeOurs(timeout)) ? timeout : 2;

    const int depth = elementText(text, QStringLiteral("depth")).toInt(&ok, 10);
    m_depth = (ok && depth != 0 && couldBeOurs(depth)) ? depth : 1;

    // A hand-edited file without the output element keeps the default template.
    const QString format = elementText(text, QStringLiteral("output"));
    if (!format.isNull())
        m_outputFormat = format;
}

int CConfig::timeoutMilliseconds(int timeoutIndex)
{
    // Saturates instead of wrapping: a far index stays beyond the longest time-out or below zero, never short.
    const qint64 msecs = 10000 + 5000 * qint64(timeoutIndex);
    return int(qBound(qint64(std::numeric_limits<int>::min()), msecs, qint64(std::numeric_limits<int>::max())));
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
