#include "util/formatting.h"

#include <QStringList>
#include <cmath>

QString formatByteSize(quint64 bytes)
{
    static const char* const units[] = {" bytes", " kB", " MB", " GB", " TB", " PB", " EB", " ZB", " YB"};
    // Floating point, like the size column has always been computed: e is the power of 1024 at or below n.
    int e = 0;
    if (bytes > 0)
        e = static_cast<int>(std::floor(std::log(static_cast<double>(bytes)) / 6.931471805599453));
    const double value = static_cast<double>(bytes) / std::pow(1024.0, e);
    return QString::number(value, 'f', e == 0 ? 0 : 2) + QLatin1String(units[e]);
}

QString formatDuration(quint32 seconds)
{
    struct Unit
    {
        quint32 length;
        char letter;
    };
    static const Unit units[] = {{604800, 'w'}, {86400, 'd'}, {3600, 'h'}, {60, 'm'}, {1, 's'}};

    QString text;
    for (const Unit& unit : units) {
        const quint32 count = seconds / unit.length;
        seconds %= unit.length;
        if (count != 0)
            text += QString::number(count) + QLatin1Char(unit.letter) + QLatin1Char(' ');
    }
    text.chop(1);
    return text;
}
