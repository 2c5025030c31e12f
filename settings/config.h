#pragma once

#include <QString>

// The three user settings. Loaded from the settings file when constructed, written back when destroyed,
// so the file changes only at the program's normal exit. Every user reads a value when it needs it.
class CConfig
{
public:
    CConfig();
    ~CConfig();
    CConfig(const CConfig&) = delete;
    CConfig& operator=(const CConfig&) = delete;

    // Index of the fetch time-out choice: 0 = 10 s, 1 = 15 s, 2 = 20 s, 3 = 25 s.
    int timeout() const { return m_timeout; }
    int depth() const { return m_depth; }
    QString outputFormat() const { return m_outputFormat; }

    void setTimeout(int timeout) { m_timeout = timeout; }
    void setDepth(int depth) { m_depth = depth; }
    void setOutputFormat(const QString& format) { m_outputFormat = format; }

    // A run from the command line changes values for itself only: the file then stays as it was.
    void setSaveOnExit(bool save) { m_saveOnExit = save; }

    // The fetch time-out in milliseconds for a time-out choice.
    static int timeoutMilliseconds(int timeoutIndex);

private:
    void load(const QString& path);
    void save(const QString& path) const;
    QString compose() const;

    int m_timeout = 2;
    int m_depth = 1;
    QString m_outputFormat = QStringLiteral("A:P");
    bool m_saveOnExit = true;
};
