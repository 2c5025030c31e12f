#include "check/listformat.h"

#include "extraction/linetemplate.h"

#include <QDateTime>

namespace ListFormat {

namespace {

// One field of a record: a text, a number, or a list of texts.
struct Field
{
    enum Kind { Text, Number, List };
    const char* name;
    Kind kind;
    QStringList values;   // none: empty; one unless a list
    char separator = ','; // between a list's values in CSV
};

QStringList text(const QString& value)
{
    return value.isEmpty() ? QStringList() : QStringList{value};
}

// Negative, or a reserved AS number 0: unknown.
QStringList number(qint64 value, bool zeroIsUnknown = false)
{
    return value < 0 || (zeroIsUnknown && value == 0) ? QStringList() : QStringList{QString::number(value)};
}

// ISO 8601 in UTC, "2026-12-06T10:00:00Z".
QStringList isoTime(qint64 seconds)
{
    return seconds < 0 ? QStringList()
                       : QStringList{QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate)};
}

void addHistory(std::vector<Field>* fields, const ProxyRecord& record)
{
    const ProxyRecord::History history = record.history.value_or(ProxyRecord::History());
    const bool checked = history.lastChecked >= 0;
    fields->insert(fields->end(),
                   {{"first_seen", Field::Text, isoTime(history.firstSeen)},
                    {"last_seen", Field::Text, isoTime(history.lastSeen)},
                    {"last_checked", Field::Text, isoTime(history.lastChecked)},
                    {"last_worked", Field::Text, isoTime(history.lastWorked)},
                    {"checks_7d", Field::Number, checked ? number(history.checks7d) : QStringList()},
                    {"worked_7d", Field::Number, checked ? number(history.worked7d) : QStringList()},
                    {"uptime_7d", Field::Number,
                     history.uptime7d < 0 ? QStringList() : QStringList{QString::number(history.uptime7d, 'f', 1)}},
                    {"streak", Field::Number, checked ? QStringList{QString::number(history.streak)} : QStringList()}});
}

std::vector<Field> fieldsOf(const ProxyRecord& record, bool withSources, bool withHistory)
{
    const CheckResult& result = record.result;
    std::vector<Field> fields = {
        {"address", Field::Text, {record.proxy.addressText()}},
        {"port", Field::Number, number(record.proxy.port)},
        {"protocols", Field::List, CheckResult::protocolsText(result.protocols).split(u',', Qt::SkipEmptyParts)},
        {"anonymity", Field::Text, text(CheckResult::anonymityText(result.anonymity))},
        {"first_byte_ms", Field::Number, number(result.firstByteMs)},
        {"seen_address", Field::Text, text(result.seenAddress)},
        {"country", Field::Text, text(record.place.country)},
        {"asn", Field::Number, number(record.place.asn, true)},
        {"organization", Field::Text, text(record.place.organization)},
        {"exit_country", Field::Text, text(record.exit.country)},
        {"exit_asn", Field::Number, number(record.exit.asn, true)},
        {"exit_organization", Field::Text, text(record.exit.organization)},
        {"stated_scheme", Field::Text, text(QString::fromLatin1(record.proxy.statedScheme))},
        {"user", Field::Text, text(QString::fromUtf8(record.proxy.user))},
        {"password", Field::Text, text(QString::fromUtf8(record.proxy.password))},
    };
    if (withHistory)
        addHistory(&fields, record);
    if (withSources)
        fields.push_back({"sources", Field::List, record.sources, ' '});
    return fields;
}

void appendJsonString(QByteArray& out, const QString& value)
{
    out += '"';
    const QByteArray bytes = value.toUtf8();
    for (const char c : bytes) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "\\u00" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    out += '"';
}

QByteArray csvField(const QString& value)
{
    QByteArray bytes = value.toUtf8();
    if (bytes.contains('"') || bytes.contains(',') || bytes.contains('\n') || bytes.contains('\r'))
        return '"' + bytes.replace("\"", "\"\"") + '"';
    return bytes;
}

} // namespace

std::optional<Format> fromName(const QString& name)
{
    if (name == QLatin1String("text"))
        return Text;
    if (name == QLatin1String("json"))
        return Json;
    if (name == QLatin1String("csv"))
        return Csv;
    return std::nullopt;
}

QString extension(Format format)
{
    switch (format) {
    case Json:
        return QStringLiteral("json");
    case Csv:
        return QStringLiteral("csv");
    case Text:
        break;
    }
    return QStringLiteral("txt");
}

// One object a line, so the list also reads well and greps by line.
QByteArray json(const std::vector<ProxyRecord>& records, bool withSources, bool withHistory)
{
    QByteArray out = "[";
    for (size_t i = 0; i < records.size(); ++i) {
        out += i == 0 ? "\n{" : ",\n{";
        const std::vector<Field> fields = fieldsOf(records[i], withSources, withHistory);
        for (size_t f = 0; f < fields.size(); ++f) {
            const Field& field = fields[f];
            if (f > 0)
                out += ',';
            out += '"';
            out += field.name;
            out += "\":";
            if (field.kind == Field::List) {
                out += '[';
                for (qsizetype v = 0; v < field.values.size(); ++v) {
                    if (v > 0)
                        out += ',';
                    appendJsonString(out, field.values[v]);
                }
                out += ']';
            } else if (field.values.isEmpty()) {
                out += "null";
            } else if (field.kind == Field::Number) {
                out += field.values.first().toLatin1();
            } else {
                appendJsonString(out, field.values.first());
            }
        }
        out += '}';
    }
    out += "\n]\n";
    return out;
}

QByteArray csv(const std::vector<ProxyRecord>& records, bool withSources, bool withHistory)
{
    QByteArray out;
    const std::vector<Field> header = fieldsOf(ProxyRecord(), withSources, withHistory);
    for (size_t f = 0; f < header.size(); ++f)
        out += (f > 0 ? "," : "") + QByteArray(header[f].name);
    out += "\r\n";
    for (const ProxyRecord& record : records) {
        const std::vector<Field> fields = fieldsOf(record, withSources, withHistory);
        for (size_t f = 0; f < fields.size(); ++f) {
            if (f > 0)
                out += ',';
            out += csvField(fields[f].values.join(QLatin1Char(fields[f].separator)));
        }
        out += "\r\n";
    }
    return out;
}

QByteArray text(const std::vector<ProxyRecord>& records, const QString& lineTemplate)
{
    QByteArray text;
    const LineTemplate compiled(lineTemplate);
    for (const ProxyRecord& record : records) {
        text += record.proxy.credentialsPrefix();
        const QByteArray address = record.proxy.addressText().toLatin1();
        const QByteArray port = QByteArray::number(record.proxy.port);
        compiled.appendLine(text, address.constData(), int(address.size()), port.constData(), int(port.size()));
        text += "\r\n";
    }
    return text;
}

} // namespace ListFormat
