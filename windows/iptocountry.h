#pragma once

#include <QMainWindow>
#include <QString>

namespace Ui {
class IPToCountry;
}

namespace TXL::QtLib::Web {
class CWebSocket;
}

// Looks up the country of an IPv4 address on a public geo-IP page.
class IPToCountry : public QMainWindow
{
    Q_OBJECT

public:
    explicit IPToCountry(QWidget* parent = nullptr);
    ~IPToCountry() override;

private slots:
    void processData();
    void processDataError();
    void on_btnClose_clicked();
    void on_lineEdit_textChanged(const QString& text);
    void on_btnQuery_clicked();

private:
    static QString countryIn(const QString& page);

    Ui::IPToCountry* m_ui = nullptr;
    TXL::QtLib::Web::CWebSocket* m_fetcher = nullptr;
};
