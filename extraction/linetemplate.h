#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

// The user's output line template, read once per run: gives the same line as formatProxyLine() for a proxy
// found in a page, already as the 8-bit text the output file gets, without a string replace per letter.
class LineTemplate
{
public:
    explicit LineTemplate(const QString& format);

    // Appends the line of one proxy, then `end` (a line end, where the caller wants one). The address is four groups
    // of one to three digits joined by dots, as the extraction finds them.
    void appendLine(QByteArray& line, const char* address, int addressLength, const char* port, int portLength,
                    QByteArrayView end = {}) const;
    // Whether a line is the template's pieces alone, with no binary form or class: writeLine() then makes it.
    bool isPlain() const { return m_binary.empty(); }
    // The size of a plain line and its end.
    qsizetype lineSize(int addressLength, int portLength, QByteArrayView end = {}) const
    {
        return m_textLength + m_addressPieces * addressLength + m_portPieces * portLength + end.size();
    }
    // Writes a plain line and its end at `out`, which has room for lineSize() bytes.
    void writeLine(char* out, const char* address, int addressLength, const char* port, int portLength,
                   QByteArrayView end = {}) const;

private:
    enum class Field { Text, Address, Port, Binary, Class };
    struct Piece
    {
        Field field;
        QByteArray text;
    };

    // A line of a template that names a binary form or a class: those come from the tables below.
    void appendRecordLine(QByteArray& line, const char* address, int addressLength, const char* port,
                          int portLength) const;
    void appendBinary(QByteArray& line, const char* address, int addressLength) const;
    static int firstGroupValue(const char* address);

    std::vector<Piece> m_pieces;
    qsizetype m_textLength = 0; // of the text pieces together
    qsizetype m_addressPieces = 0;
    qsizetype m_portPieces = 0;
    // Binary form and class of every group value a match can hold (0 to 999), taken from CProxyAddress.
    std::vector<QByteArray> m_binary;
    QByteArray m_class;
};
