#include "util/httpport.h"

namespace {
int currentPort = 80;
QString hostOverride;
} // namespace

namespace HttpPort {

int port()
{
    return currentPort;
}

void setPortForTests(int port)
{
    currentPort = port;
}

QString connectHost(const QString& host)
{
    return hostOverride.isEmpty() ? host : hostOverride;
}

void setConnectHostForTests(const QString& host)
{
    hostOverride = host;
}

} // namespace HttpPort
