// A database file the user names, whatever it holds: opened or refused with a one-line reason, never a crash or
// undefined behaviour, and a lookup fills only the fields of the kind the file was taken as.
#include "check/geolookup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath(QStringLiteral("input.mmdb"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    GeoLookup geo;
    QString failure;
    if (!geo.open(path, &failure)) {
        if (failure.isEmpty() || failure.contains(QLatin1Char('\n')))
            std::abort();
        return 0;
    }
    // The addresses of the seeds' networks, their neighbours, and both ends of the address space.
    for (const quint32 address : {0x7f000015U, 0x7f00002dU, 0x7f000016U, 0x00000000U, 0xffffffffU, 0x01020304U}) {
        const GeoLookup::Place place = geo.lookup(address);
        if ((!geo.hasCountry() && !place.country.isEmpty()) ||
            (!geo.hasNetwork() && (place.asn != 0 || !place.organization.isEmpty())))
            std::abort();
    }
    return 0;
}
