#include "leech/leechlist.h"

#include <QTcpSocket>

CLeechList::CLeechList(QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::connected, this, &CLeechList::onConnect);
    connect(m_socket, &QTcpSocket::disconnected, this, &CLeechList::onDisconnect);
    connect(m_socket, &QTcpSocket::readyRead, this, &CLeechList::onDataArrival);
    // The download itself comes with the leech list work.
}

CLeechList::~CLeechList()
{
    if (m_socket->isOpen())
        m_socket->close();
    delete m_socket;
}

void CLeechList::onConnect() {}

void CLeechList::onDataArrival() {}

void CLeechList::onDisconnect() {}
