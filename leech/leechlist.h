#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QTcpSocket;

// Downloads the ready-made leech list from the update server once, at start-up, and keeps its lines.
class CLeechList : public QObject
{
    Q_OBJECT

public:
    explicit CLeechList(QObject* parent = nullptr);
    ~CLeechList() override;

    QStringList urlList() const { return m_list; }

private slots:
    void onConnect();
    void onDataArrival();
    void onDisconnect();

private:
    QTcpSocket* m_socket = nullptr;
    QStringList m_list;
    QString m_buffer;
    bool m_busy = true;
};
