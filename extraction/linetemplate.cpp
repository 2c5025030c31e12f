#include "extraction/linetemplate.h"

#include "extraction/proxyaddress.h"

#include <cstring>

namespace {

constexpr int groupValues = 1000;

} // namespace

LineTemplate::LineTemplate(const QString& format)
{
    // formatProxyLine() replaces A, P, B, C and T one after another; none of the texts put in holds a letter
    // a later step replaces, so every letter of the template can be taken on its own.
    QString text;
    auto closeText = [&] {
        if (!text.isEmpty())
            m_pieces.push_back({Field::Text, text.toLatin1()});
        m_textLength += text.size();
        text.clear();
    };
    bool needsRecord = false;
    for (const QChar c : format) {
        Field field = Field::Text;
        if (c == QLatin1Char('A'))
            field = Field::Address;
        else if (c == QLatin1Char('P'))
            field = Field::Port;
        else if (c == QLatin1Char('B'))
            field = Field::Binary;
        else if (c == QLatin1Char('C'))
            field = Field::Class;
        if (field == Field::Text) {
            text += c == QLatin1Char('T') ? QChar(QLatin1Char('\t')) : c;
            continue;
        }
        closeText();
        m_pieces.push_back({field, QByteArray()});
        m_addressPieces += field == Field::Address ? 1 : 0;
        m_portPieces += field == Field::Port ? 1 : 0;
        needsRecord = needsRecord || field == Field::Binary || field == Field::Class;
    }
    closeText();

    if (!needsRecord)
        return;
    CProxyAddress record;
    m_binary.reserve(groupValues);
    for (int value = 0; value < groupValues; ++value) {
        record.setAddress(QString::number(value) + QStringLiteral(".0.0.0"));
        m_binary.push_back(record.ipBinary().section(QLatin1Char(' '), 0, 0).toLatin1());
        m_class += record.ipClass().toLatin1();
    }
}

int LineTemplate::firstGroupValue(const char* address)
{
    int value = 0;
    for (const char* c = address; *c != '.'; ++c)
        value = value * 10 + (*c - '0');
    return value;
}

void LineTemplate::appendBinary(QByteArray& line, const char* address, int addressLength) const
{
    int value = 0;
    for (int i = 0; i <= addressLength; ++i) {
        if (i == addressLength || address[i] == '.') {
            line += m_binary[value];
            if (i != addressLength)
                line += ' ';
            value = 0;
        } else {
            value = value * 10 + (address[i] - '0');
        }
    }
}

void LineTemplate::appendLine(QByteArray& line, const char* address, int addressLength, const char* port,
                              int portLength, QByteArrayView end) const
{
    if (!m_binary.empty()) {
        appendRecordLine(line, address, addressLength, port, portLength);
        line += end;
        return;
    }
    // The line's room made once and the pieces copied in: an append a piece cost Qt's checks and bookkeeping each
    // time, a fifth of the extraction on a list of 750,000 lines.
    const qsizetype start = line.size();
    line.resize(start + lineSize(addressLength, portLength, end));
    writeLine(line.data() + start, address, addressLength, port, portLength, end);
}

void LineTemplate::writeLine(char* out, const char* address, int addressLength, const char* port, int portLength,
                             QByteArrayView end) const
{
    for (const Piece& piece : m_pieces) {
        const char* from = piece.text.constData();
        qsizetype size = piece.text.size();
        if (piece.field == Field::Address) {
            from = address;
            size = addressLength;
        } else if (piece.field == Field::Port) {
            from = port;
            size = portLength;
        }
        std::memcpy(out, from, size_t(size));
        out += size;
    }
    if (!end.isEmpty())
        std::memcpy(out, end.data(), size_t(end.size()));
}

void LineTemplate::appendRecordLine(QByteArray& line, const char* address, int addressLength, const char* port,
                                    int portLength) const
{
    for (const Piece& piece : m_pieces) {
        switch (piece.field) {
        case Field::Text:
            line += piece.text;
            break;
        case Field::Address:
            line.append(address, addressLength);
            break;
        case Field::Port:
            line.append(port, portLength);
            break;
        case Field::Binary:
            appendBinary(line, address, addressLength);
            break;
        case Field::Class:
            line += m_class.at(firstGroupValue(address));
            break;
        }
    }
}
