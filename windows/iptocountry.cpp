#include "windows/iptocountry.h"

#include "qtlib/web/websocket.h"
#include "ui_iptocountry.h"
#include "util/externalhosts.h"
#include "util/httpport.h"

#include <QMessageBox>
#include <QRegularExpression>

namespace {

const QString placeholder = QStringLiteral("... ... ... ... ... ... ... ...");
// The country is the text of the link that stands right before the first flag image.
const QString flagMarker = QStringLiteral("</a> <img src='/flags/");

void inform(const QString& text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("IP To Country"), text, QMessageBox::Ok);
    box.exec();
}

} // namespace

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
    m_ui->lblCountry->setText(placeholder);
}

void IPToCountry::on_btnQuery_clicked()
{
    const QString address = m_ui->lineEdit->text();
    if (address.isEmpty())
        return;
    // Four groups of one to three digits; the groups' values are the geo-IP service's business.
    static const QRegularExpression dottedQuad(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}")));
    if (!dottedQuad.match(address).hasMatch()) {
        inform(QStringLiteral("Please provide a legitimate IP address."));
        return;
    }
    m_fetcher->setHost(ExternalHosts::geoIpService);
    m_fetcher->setPath(QStringLiteral("/en/?IP=") + address);
    m_fetcher->setPort(HttpPort::port());
    m_fetcher->startFetch();
}

void IPToCountry::processData()
{
    m_ui->lblCountry->setText(countryIn(m_fetcher->data()));
}

void IPToCountry::processDataError()
{
    inform(QStringLiteral("Remote server down or timeout, please try again later"));
}

QString IPToCountry::countryIn(const QString& page)
{
    const qsizetype marker = page.indexOf(flagMarker);
    if (marker < 0)
        return QString();
    // No tag in front of the marker means the page is not the one expected: show nothing rather than noise.
    const qsizetype tagEnd = marker > 0 ? page.lastIndexOf(QLatin1Char('>'), marker - 1) : -1;
    if (tagEnd < 0)
        return QString();
    return page.mid(tagEnd + 1, marker - tagEnd - 1).trimmed();
}
