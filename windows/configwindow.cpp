#include "windows/configwindow.h"

#include "settings/config.h"
#include "ui_configwindow.h"

ConfigWindow::ConfigWindow(QWidget* parent) : QMainWindow(parent), m_ui(new Ui::configwindow)
{
    m_ui->setupUi(this);
    for (int seconds = 10; seconds <= 25; seconds += 5)
        m_ui->cbLeechTimeout->addItem(QString::number(seconds) + QStringLiteral(" secs"));
    for (int nodes = 1; nodes <= 5; ++nodes)
        m_ui->cbLeechDepth->addItem(QString::number(nodes) + QStringLiteral(" node") +
                                    (nodes == 1 ? QString() : QStringLiteral("s")));
    m_ui->cbLeechTimeout->setCurrentIndex(2);
}

ConfigWindow::~ConfigWindow()
{
    delete m_ui;
}

void ConfigWindow::setConfig(CConfig* config)
{
    m_config = config;
    // A value outside the offered choices (a hand-edited file) leaves its list without a selection.
    // Compared before any arithmetic: the stored numbers can be anything a hand-edited file held.
    const int timeout = config->timeout();
    const int depth = config->depth();
    m_ui->cbLeechTimeout->setCurrentIndex(timeout >= 0 && timeout < m_ui->cbLeechTimeout->count() ? timeout : -1);
    m_ui->cbLeechDepth->setCurrentIndex(depth >= 1 && depth <= m_ui->cbLeechDepth->count() ? depth - 1 : -1);
    m_ui->txtOutputFormat->setText(config->outputFormat());
}

void ConfigWindow::on_btnClose_clicked()
{
    m_ui->txtOutputFormat->setText(m_ui->txtOutputFormat->text().toUpper());
    if (m_config) {
        // A list left without a selection keeps the value the settings already hold.
        if (m_ui->cbLeechTimeout->currentIndex() >= 0)
            m_config->setTimeout(m_ui->cbLeechTimeout->currentIndex());
        if (m_ui->cbLeechDepth->currentIndex() >= 0)
            m_config->setDepth(m_ui->cbLeechDepth->currentIndex() + 1);
        m_config->setOutputFormat(m_ui->txtOutputFormat->text());
    }
    close();
}
