#include "windows/aboutwindow.h"

#include "ui_aboutwindow.h"
#include "util/textfiles.h"

#include <QCoreApplication>
#include <QDir>

AboutWindow::AboutWindow(QWidget* parent) : QMainWindow(parent), m_ui(new Ui::AboutWindow)
{
    m_ui->setupUi(this);
    setWindowTitle(QStringLiteral("About Sievra"));
    // Beside the program in a build, with the program's data once installed (the window lies in libexec/sievra/);
    // a missing log leaves the box empty.
    const QDir programFolder(QCoreApplication::applicationDirPath());
    QString changeLog = programFolder.filePath(QStringLiteral("changelog.txt"));
    if (!fileExists(changeLog))
        changeLog = programFolder.filePath(QStringLiteral("../../share/sievra/changelog.txt"));
    m_ui->txtChangeLog->setText(readTextFile(changeLog));
}

AboutWindow::~AboutWindow()
{
    delete m_ui;
}

void AboutWindow::setVersion(const QString& version)
{
    m_ui->lblVersion->setText(QStringLiteral("Version ") + version);
    m_ui->lblTitle->setText(QStringLiteral("Sievra ") + version);
}

void AboutWindow::on_btnClose_clicked()
{
    close();
}
