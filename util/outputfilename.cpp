#include "util/outputfilename.h"

#include <QRegularExpression>

QString OutputFileName::unfinished() const
{
    return date.toString(QStringLiteral("yyyy-MM-dd-")) + QString::number(runStamp) + QLatin1Char('-') +
           QString::number(startTime) + QLatin1Char('.') + extension;
}

QString OutputFileName::finished(int lines) const
{
    return QString::number(lines) + QLatin1Char('-') + unfinished();
}

std::optional<OutputFileName::Listed> OutputFileName::parse(const QString& name)
{
    // Up to five digits of count: a list of 100,000 lines or more is not listed.
    static const QRegularExpression ours(QRegularExpression::anchoredPattern(QStringLiteral(
                                             "[0-9]{1,5}-[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{10}-[0-9]{10}\\.txt")),
                                         QRegularExpression::CaseInsensitiveOption);
    if (!ours.match(name).hasMatch())
        return std::nullopt;
    const QStringList fields = name.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    QString startField = fields.at(5);
    startField.remove(QStringLiteral(".txt"), Qt::CaseSensitive);
    return Listed{fields.at(0), fields.at(4).toInt(nullptr, 10), startField.toInt(nullptr, 10)};
}
