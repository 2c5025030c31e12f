#include "app/util/httpport.h"

namespace {
int currentPort = 80;
}

namespace HttpPort {

int port()
{
    return currentPort;
}

void setPortForTests(int port)
{
    currentPort = port;
}

} // namespace HttpPort
