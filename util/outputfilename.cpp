#include "util/outputfilename.h"

const QString OutputFileName::pattern =
    QStringLiteral("([0-9]{1,5})\\-([0-9]{4})\\-([0-9]{2})\\-([0-9]{2})\\-([0-9]{10})\\-([0-9]{10})\\.txt");

QString OutputFileName::unfinished() const
{
    return date.toString(QStringLiteral("yyyy-MM-dd-")) + QString::number(runStamp) + QLatin1Char('-') +
           QString::number(startTime) + QStringLiteral(".txt");
}

QString OutputFileName::finished(int lines) const
{
    return QString::number(lines) + QLatin1Char('-') + unfinished();
}
