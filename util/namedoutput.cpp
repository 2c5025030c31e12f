#include "util/namedoutput.h"

NamedOutput::NamedOutput(const QString& path) : m_path(path), m_file(path) {}

bool NamedOutput::prepare(QString* failure)
{
    if (m_file.open(QIODevice::WriteOnly))
        return true;
    *failure = m_file.errorString();
    return false;
}

bool NamedOutput::commit(const QByteArray& text, QString* failure)
{
    if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly)) {
        *failure = m_file.errorString();
        return false;
    }
    if (m_file.write(text) == text.size() && m_file.commit())
        return true;
    *failure = m_file.errorString();
    m_file.cancelWriting();
    return false;
}
