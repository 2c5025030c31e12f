#include "windows/iptocountry.h"

#include "qtlib/web/websocket.h"
#include "ui_iptocountry.h"

IPToCountry::IPToCountry(QWidget* parent)
    : QMainWindow(parent), m_ui(new Ui::IPToCountry), m_fetcher(new TXL::QtLib::Web::CWebSocket(this, 0))
{
    m_ui->setupUi(this);
    connect(m_fetcher, &TXL::QtLib::Web::CWebSocket::dataRetrieved, this, &IPToCountry::processData);
    connect(m_fetcher, &TXL::QtLib::Web::CWebSocket::dataRetrievalError, this, &IPToCountry::processDataError);
    m_fetcher->start(QThread::InheritPriority);
}

IPToCountry::~IPToCountry()
{
    m_fetcher->exit(0);
    m_fetcher->wait();
    delete m_fetcher;
    delete m_ui;
}

void IPToCountry::on_btnClose_clicked()
{
    close();
}

void IPToCountry::on_lineEdit_textChanged(const QString&)
{
    m_ui->lblCountry->setText(QStringLiteral("... ... ... ... ... ... ... ..."));
}

// The lookup comes with the online services work.

void IPToCountry::on_btnQuery_clicked() {}

void IPToCountry::processData() {}

void IPToCountry::processDataError() {}
