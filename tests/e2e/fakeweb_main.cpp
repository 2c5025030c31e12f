#include "fakeweb.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>

// Usage: sievra_fakeweb <site folder> [port]
int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: sievra_fakeweb <site folder> [port]\n");
        return 2;
    }
    const quint16 port = arguments.size() > 2 ? arguments.at(2).toUShort() : 80;
    FakeWeb web(arguments.at(1));
    if (!web.listen(QHostAddress(QStringLiteral("127.0.0.1")), port)) {
        std::fprintf(stderr, "fake web cannot listen on port %u: %s\n", port, qPrintable(web.errorText()));
        return 1;
    }
    std::printf("fake web listening on port %u\n", port);
    std::fflush(stdout);
    return QCoreApplication::exec();
}
