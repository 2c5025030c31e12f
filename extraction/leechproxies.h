#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QThread>

class CConfig;

// Turns the stored pages of the program run into one output file of proxies, one line per proxy.
class CLeechProxies : public QThread
{
    Q_OBJECT

public:
    explicit CLeechProxies(QObject* parent = nullptr);
    ~CLeechProxies() override;

    void setRunStamp(unsigned long runStamp) { m_runStamp = runStamp; }
    void setConfig(CConfig* config) { m_config = config; }
    // Called by Stop on the GUI thread: no line is written after it and the run ends at its next check.
    void closeOutput();

signals:
    void signifyNewProxy();
    void harvestComplete();
    void noProxyResults();

protected:
    void run() override;

private:
    unsigned long m_runStamp = 0;
    QStringList m_capturedTexts;
    QString m_outputPath;
    QRegularExpression m_matcher;
    int m_matchPosition = 0;
    int m_colonPosition = 0;
    QFile m_output;
    CConfig* m_config = nullptr;
};
