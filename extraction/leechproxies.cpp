#include "extraction/leechproxies.h"

#include "extraction/linetemplate.h"
#include "extraction/pagescanner.h"
#include "settings/config.h"
#include "settings/userfolders.h"

#include <QDate>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {

bool isDotEntry(const QString& name)
{
    return name == QLatin1String(".") || name == QLatin1String("..");
}

// A stored page as bytes. Pages hold ASCII only; in any other file every byte that is not a digit, dot or
// colon parts proxies just as the character a text reading would make of it. A folder or a file that cannot be
// read counts as an empty page.
QByteArray readPage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

const QString CLeechProxies::outputNamePattern =
    QStringLiteral("([0-9]{1,5})\\-([0-9]{4})\\-([0-9]{2})\\-([0-9]{2})\\-([0-9]{10})\\-([0-9]{10})\\.txt");

CLeechProxies::CLeechProxies(QObject* parent) : QThread(parent) {}

CLeechProxies::~CLeechProxies()
{
    // A run that has not opened its file yet does not take the request, so it is repeated until the run ends.
    closeOutput();
    while (!wait(20))
        closeOutput();
}

void CLeechProxies::closeOutput()
{
    int writing = Writing;
    m_outputState.compare_exchange_strong(writing, StopRequested);
}

bool CLeechProxies::outputWritable() const
{
    return m_outputState.load() == Writing && m_output.isOpen();
}

void CLeechProxies::finishOutput()
{
    if (m_output.isOpen()) {
        m_output.flush();
        m_output.close();
    }
    m_outputState.store(Closed);
}

void CLeechProxies::start(QThread::Priority priority)
{
    if (isRunning())
        return;
    if (m_config)
        m_format = m_config->outputFormat();
    QThread::start(priority);
}

void CLeechProxies::run()
{
    const QString pageFolder = UserFolders::runFolder(static_cast<quint32>(m_runStamp));
    const QDir pageDir(pageFolder);
    // QDir's defaults: files and folders, hidden ones left out, "." and ".." included, sorted by name
    // ignoring case. A name such as "-x" sorts before ".", so the dot entries are skipped by name.
    const QStringList listing = pageDir.entryList();
    if (listing.isEmpty())
        return; // no page folder at all

    const QString outputName =
        QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd-")) + QString::number(m_runStamp) + QLatin1Char('-') +
        QString::number(QDateTime::currentDateTime().toSecsSinceEpoch()) + QStringLiteral(".txt");
    const QDir outputDir(UserFolders::outputFolder());
    m_outputPath = outputDir.filePath(outputName);
    m_output.setFileName(m_outputPath);
    if (m_output.open(QIODevice::WriteOnly))
        m_outputState.store(Writing);

    // Taken once, when the run was started: a template changed during the run applies to the next one.
    const LineTemplate lineTemplate(m_format);

    int lineCount = 0;
    QByteArray line;
    PageScanner scanner;
    const PageScanner::Sink writeLine = [&](const char* proxy, int length, int colon) {
        if (!outputWritable())
            return false;
        line.clear();
        lineTemplate.appendLine(line, proxy, colon, proxy + colon + 1, length - colon - 1);
        line += "\r\n";
        m_output.write(line);
        ++lineCount;
        emit signifyNewProxy();
        return true;
    };

    for (const QString& entry : listing) {
        if (!outputWritable())
            break;
        if (isDotEntry(entry))
            continue;
        QByteArray page = readPage(pageDir.filePath(entry));
        scanner.scan(page, writeLine);
    }

    finishOutput();

    if (lineCount == 0) {
        // The pages stay for the next run of this program run.
        QFile::remove(m_outputPath);
        emit noProxyResults();
        return;
    }

    const QString finalPath = outputDir.filePath(QString::number(lineCount) + QLatin1Char('-') + outputName);
    QFile::rename(m_outputPath, finalPath);
    emit harvestComplete();

    // Only the pages listed at the start go; one stored since stays for the next run.
    for (const QString& entry : listing) {
        if (!isDotEntry(entry))
            QFile::remove(pageDir.filePath(entry));
    }

    // The desktop is asked from the GUI thread, where this object lives.
    QMetaObject::invokeMethod(
        this, [finalPath] { QDesktopServices::openUrl(QUrl::fromLocalFile(finalPath)); }, Qt::QueuedConnection);
}
