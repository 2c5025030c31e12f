#include "extraction/pairreader.h"

#include "extraction/ascii.h"
#include "extraction/proxytext.h"

#include <QByteArrayView>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

namespace {

// A field is an address or a port by the rules of a proxy text, so a pair always makes a line the scan reads whole.
using Ascii::equalsFolded;
using Ascii::isSpace;
using Ascii::lower;
using ProxyText::isAddress;
using ProxyText::isDigit;
using ProxyText::isPort;

// Steps taken by the last read: each reading adds one per byte it looks at.
thread_local qint64 steps = 0;

// A cell, field or value longer than this is no address and no port.
constexpr qsizetype longestValue = 64;

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

// Two names, byte by byte: Qt's comparison of views calls memcmp before it looks at their sizes, and a call costs more
// than a name of a few letters does.
bool same(QByteArrayView name, QByteArrayView other)
{
    if (name.size() != other.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i)
        if (name[i] != other[i])
            return false;
    return true;
}

// "port" in any case, "proxy_port", "proxy-port", "proxyPort"; not "report", "transport" or "ports".
bool isPortName(QByteArrayView name)
{
    if (name.size() < 4 || lower(name.back()) != 't')
        return false;
    if (equalsFolded(name, "port"))
        return true;
    if (name.size() < 5)
        return false;
    const QByteArrayView tail = name.sliced(name.size() - 4);
    const char before = name[name.size() - 5];
    if ((before == '_' || before == '-') && equalsFolded(tail, "port"))
        return true;
    return tail == "Port" && ((before >= 'a' && before <= 'z') || isDigit(before));
}

bool isAddressName(QByteArrayView name)
{
    // Every name starts with a letter and is short: most fields are passed over at the first look.
    if (name.size() < 2 || name.size() > 10 || isDigit(name.front()))
        return false;
    static constexpr QByteArrayView words[] = {"ip",       "ipaddress", "ip_address", "ip-address",
                                               "ipaddr",   "addr",      "address",    "host",
                                               "hostname", "server",    "proxy",      "proxy_ip"};
    for (const QByteArrayView word : words)
        if (equalsFolded(name, word))
            return true;
    return false;
}

// The columns a header line or row names: the port's, and the address's where it names one (-1: none).
struct NamedColumns
{
    qsizetype address = -1;
    qsizetype port = -1;
    bool named() const { return port >= 0; }
};

// A header names the port's column and holds no address: a row of data is never taken for one.
template <typename Fields> NamedColumns namedColumns(const Fields& fields)
{
    NamedColumns columns;
    for (qsizetype i = 0; i < qsizetype(fields.size()); ++i) {
        const QByteArrayView field = fields[size_t(i)];
        if (isAddress(field))
            return NamedColumns();
        if (columns.port < 0 && isPortName(field))
            columns.port = i;
        else if (columns.address < 0 && isAddressName(field))
            columns.address = i;
    }
    return columns;
}

// Under a header, only its columns pair: the port from the port's column, the address from the address's or,
// where the header names none, the row's first address.
template <typename Fields> void pairByColumns(const Fields& fields, NamedColumns columns, QByteArray& out);

void appendPair(QByteArray& out, QByteArrayView address, QByteArrayView port)
{
    // One append: an address and a port are short.
    char line[longestValue * 2 + 2];
    const qsizetype addressSize = qMin(address.size(), longestValue);
    const qsizetype portSize = qMin(port.size(), longestValue);
    std::memcpy(line, address.data(), size_t(addressSize));
    line[addressSize] = ':';
    std::memcpy(line + addressSize + 1, port.data(), size_t(portSize));
    line[addressSize + 1 + portSize] = '\n';
    out.append(line, addressSize + portSize + 2);
}

// Whether `text` holds `word`: memchr for a character, memmem for more, far quicker than the general search on a
// whole page.
bool holds(QByteArrayView text, QByteArrayView word)
{
    if (word.size() == 1)
        return std::memchr(text.data(), word.front(), size_t(text.size())) != nullptr;
    return memmem(text.data(), size_t(text.size()), word.data(), size_t(word.size())) != nullptr;
}

// Where `c` next stands in `text` from `from` on, or -1: memchr, without the general search's setting up.
qsizetype find(QByteArrayView text, char c, qsizetype from)
{
    if (from >= text.size())
        return -1;
    const void* at = std::memchr(text.data() + from, c, size_t(text.size() - from));
    return at ? static_cast<const char*>(at) - text.data() : -1;
}

template <typename Fields> void pairByColumns(const Fields& fields, NamedColumns columns, QByteArray& out)
{
    const auto count = qsizetype(fields.size());
    if (columns.port >= count || columns.address >= count)
        return;
    QByteArrayView address;
    if (columns.address >= 0) {
        address = fields[size_t(columns.address)];
    } else {
        for (qsizetype i = 0; i < count && address.isEmpty(); ++i)
            if (isAddress(fields[size_t(i)]))
                address = fields[size_t(i)];
    }
    const QByteArrayView port = fields[size_t(columns.port)];
    if (isAddress(address) && isPort(port))
        appendPair(out, address, port);
}

// The text with the escapes that hide markup undone: entities (&lt; &gt; &amp; &quot; &nbsp; &#160;) and the
// escapes of a JSON string (\" \/ \n \t \r, \u003c, \u003e). A blank stands where a line break or a non-breaking
// space was.
QByteArray unescaped(const QByteArray& page)
{
    static const struct
    {
        QByteArrayView from;
        char to;
    } escapes[] = {{"&lt;", '<'},   {"&gt;", '>'},    {"&amp;", '&'},   {"&quot;", '"'},  {"&nbsp;", ' '},
                   {"&#160;", ' '}, {"\\\"", '"'},    {"\\/", '/'},     {"\\n", ' '},     {"\\t", ' '},
                   {"\\r", ' '},    {"\\u003c", '<'}, {"\\u003e", '>'}, {"\\u003C", '<'}, {"\\u003E", '>'}};
    // Written in place: the text only shrinks. The bytes between escapes are moved as runs.
    QByteArray out(page.size(), Qt::Uninitialized);
    char* to = out.data();
    const char* from = page.constData();
    const char* const end = from + page.size();
    while (from < end) {
        const char* escape = std::find_if(from, end, [](char c) { return c == '&' || c == '\\'; });
        steps += escape - from;
        std::memmove(to, from, size_t(escape - from));
        to += escape - from;
        from = escape;
        if (from == end)
            break;
        ++steps;
        const QByteArrayView rest(from, end - from);
        const auto known = std::find_if(std::begin(escapes), std::end(escapes),
                                        [rest](const auto& candidate) { return rest.startsWith(candidate.from); });
        *to++ = known != std::end(escapes) ? known->to : *from;
        from += known != std::end(escapes) ? known->from.size() : 1;
    }
    out.truncate(to - out.constData());
    return out;
}

// Where the tag that opens at `at` ("<") ends, with its name and whether it closes; -1 when it never ends.
qsizetype tagEnd(QByteArrayView text, qsizetype at, QByteArrayView* name, bool* closing)
{
    qsizetype i = at + 1;
    *closing = i < text.size() && text[i] == '/';
    if (*closing)
        ++i;
    const qsizetype nameStart = i;
    while (i < text.size() && !isSpace(text[i]) && text[i] != '>' && text[i] != '/')
        ++i;
    *name = text.sliced(nameStart, i - nameStart);
    // Attribute values may hold ">" inside quotes.
    char quote = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    // Counted once: a count kept in memory is written again after every byte read through a char pointer.
    steps += i - at;
    return i < text.size() ? i : -1;
}

// A tag: where its "<" and its ">" stand, its name and whether it closes.
struct Tag
{
    qsizetype start = 0;
    qsizetype end = 0;
    QByteArrayView name;
    bool closing = false;
};

// The tags of `text` in order, each found once, with the text before each and after the last; up to a tag that
// never ends.
template <typename Between, typename OnTag> void walkTags(QByteArrayView text, Between between, OnTag onTag)
{
    qsizetype from = 0;
    for (qsizetype at = find(text, '<', 0); at >= 0; at = find(text, '<', from)) {
        steps += at - from + 1;
        between(text.sliced(from, at - from));
        Tag tag;
        tag.start = at;
        tag.end = tagEnd(text, at, &tag.name, &tag.closing);
        if (tag.end < 0)
            return;
        onTag(tag);
        from = tag.end + 1;
    }
    steps += text.size() - from;
    between(text.sliced(from));
}

// A text kept up to one byte past the longest value: whatever is longer is no address and no port. Kept in place, not
// in a byte array of its own, since a table appends to it several times a cell.
class ShortText
{
public:
    void append(QByteArrayView text)
    {
        const qsizetype room = qMin(text.size(), qsizetype(sizeof(m_text)) - m_size);
        std::memcpy(m_text + m_size, text.data(), size_t(room));
        m_size += room;
    }
    void append(char c) { append(QByteArrayView(&c, 1)); }
    void clear() { m_size = 0; }
    QByteArrayView text() const { return QByteArrayView(m_text, m_size); }

private:
    char m_text[longestValue + 1];
    qsizetype m_size = 0;
};

// Table rows: a cell's visible text, and the next cell's, in one row; under a header row that names the port's
// column, the cells of the columns it names.
class TableReader
{
public:
    // The text between two tags; a cell keeps no more than a value can be long.
    void text(QByteArrayView text)
    {
        if (m_inCell && !m_hidden)
            m_cell.append(text);
    }

    void tag(const Tag& tag, QByteArray& out)
    {
        const QByteArrayView name = tag.name;
        // What scripts and style sheets hold is not shown as it stands.
        if (equalsFolded(name, "script") || equalsFolded(name, "style"))
            m_hidden = !tag.closing;
        else if (equalsFolded(name, "td") || equalsFolded(name, "th")) {
            endCell();
            m_inCell = !tag.closing;
        } else if (equalsFolded(name, "tr") || equalsFolded(name, "tbody") || equalsFolded(name, "thead")) {
            endCell();
            endRow(out);
        } else if (equalsFolded(name, "table")) {
            endCell();
            endRow(out);
            m_header = NamedColumns(); // a header names the columns of its own table
        } else if (m_inCell) {
            // A tag parts the digits on its two sides: "<b>8080</b>" is a port, "80<b>80</b>" none.
            m_cell.append(' ');
        }
    }

    void end(bool cut, QByteArray& out)
    {
        endCell();
        if (!cut)
            endRow(out);
    }

private:
    // A row's cells past this many are not kept: no header names a column that far out.
    static constexpr size_t mostCells = 256;

    void endCell()
    {
        if (!m_inCell)
            return;
        m_inCell = false;
        if (m_spans.size() < mostCells) {
            const QByteArrayView cell = trimmed(m_cell.text());
            m_spans.emplace_back(m_rowText.size(), cell.size());
            m_rowText.insert(m_rowText.end(), cell.begin(), cell.end());
        }
        m_cell.clear();
    }
    void endRow(QByteArray& out)
    {
        m_cells.clear();
        // Made in place from the row's start: a view sliced apart and copied in stalled on the copy, once a cell.
        const char* const row = m_rowText.data();
        for (const auto& [at, size] : m_spans)
            m_cells.emplace_back(row + at, size);
        const NamedColumns named = namedColumns(m_cells);
        if (named.named())
            m_header = named;
        else if (m_header.named())
            pairByColumns(m_cells, m_header, out);
        else
            for (size_t i = 1; i < m_cells.size(); ++i)
                if (isPort(m_cells[i]) && isAddress(m_cells[i - 1]))
                    appendPair(out, m_cells[i - 1], m_cells[i]);
        m_spans.clear();
        m_rowText.clear(); // keeps its room for the next row
    }

    bool m_inCell = false;
    bool m_hidden = false; // inside a script or a style sheet
    ShortText m_cell;
    std::vector<char> m_rowText;                          // the row's cells so far, one after the other
    std::vector<std::pair<qsizetype, qsizetype>> m_spans; // where each cell stands in m_rowText
    std::vector<QByteArrayView> m_cells;                  // the row's cells, while the row ends
    NamedColumns m_header;
};

// JSON objects: an address string field and a port field of the same object.
class JsonReader
{
public:
    void read(QByteArrayView text, QByteArray& out)
    {
        for (qsizetype i = 0; i < text.size(); ++i) {
            ++steps;
            const char c = text[i];
            if (c == '"') {
                const qsizetype start = i + 1;
                for (++i; i < text.size() && text[i] != '"'; ++i) {
                    ++steps;
                    if (text[i] == '\\')
                        ++i;
                }
                if (i >= text.size())
                    return; // a string never closed
                take(text.sliced(start, i - start), true);
            } else if (isDigit(c)) {
                const qsizetype start = i;
                while (i + 1 < text.size() && (isDigit(text[i + 1]) || text[i + 1] == '.')) {
                    ++steps;
                    ++i;
                }
                take(text.sliced(start, i + 1 - start), false);
            } else if (c == '{' || c == '[') {
                consumeKey();
                Frame frame;
                frame.object = c == '{';
                m_frames.push_back(frame);
            } else if (c == '}' || c == ']') {
                if (m_frames.empty())
                    continue;
                const Frame frame = m_frames.back();
                m_frames.pop_back();
                if (frame.object && !frame.address.isEmpty() && !frame.port.isEmpty())
                    appendPair(out, frame.address, frame.port);
            } else if (c == ':') {
                if (!m_frames.empty() && m_frames.back().object && !m_frames.back().pendingKey.isNull())
                    m_frames.back().haveKey = true;
            } else if (!isSpace(c)) {
                consumeKey(); // a comma, a literal (true, null) or something that is no JSON
            }
        }
    }

private:
    struct Frame
    {
        bool object = false;
        QByteArrayView pendingKey; // a string that may be a key, until its colon
        bool haveKey = false;      // the key's colon has come: the next value is its
        QByteArrayView address;
        QByteArrayView port;
    };

    void consumeKey()
    {
        if (m_frames.empty())
            return;
        m_frames.back().pendingKey = QByteArrayView();
        m_frames.back().haveKey = false;
    }

    void take(QByteArrayView token, bool string)
    {
        if (m_frames.empty() || !m_frames.back().object)
            return;
        Frame& frame = m_frames.back();
        if (!frame.haveKey) {
            frame.pendingKey = string ? token : QByteArrayView();
            return;
        }
        const QByteArrayView key = frame.pendingKey;
        const QByteArrayView value = string ? trimmed(token) : token;
        if (frame.port.isEmpty() && isPortName(key) && isPort(value))
            frame.port = value;
        else if (frame.address.isEmpty() && string && isAddress(value))
            frame.address = value;
        consumeKey();
    }

    std::vector<Frame> m_frames;
};

// XML: address and port elements of one parent, or address and port attributes of one element.
class XmlReader
{
public:
    void tag(QByteArrayView text, const Tag& tag, QByteArray& out)
    {
        const QByteArrayView name = tag.name;
        if (name.startsWith('?') || name.startsWith('!')) {
            if (!m_elements.empty())
                m_elements.back().parted = true; // a comment parts the text on its two sides
            return;
        }
        if (tag.closing) {
            close(text, name, tag.start, out);
            return;
        }
        const QByteArrayView whole = text.sliced(tag.start, tag.end + 1 - tag.start);
        readAttributes(whole.sliced(1 + name.size()), out);
        if (!m_elements.empty())
            m_elements.back().children = true;
        // Made in place: an element built apart and copied in stalled on the copy, once a tag.
        Element& element = m_elements.emplace_back();
        element.name = name;
        element.textStart = tag.end + 1;
        if (whole.size() >= 2 && whole[whole.size() - 2] == '/')
            close(text, name, tag.start, out);
    }

private:
    struct Element
    {
        QByteArrayView name;
        qsizetype textStart = 0;
        bool children = false;
        bool parted = false;
        QByteArrayView address;
        QByteArrayView port;
    };

    void close(QByteArrayView page, QByteArrayView name, qsizetype closeStart, QByteArray& out)
    {
        if (m_elements.empty() || !same(m_elements.back().name, name))
            return; // not the element open last: not our kind of XML
        const Element& element = m_elements.back();
        if (!element.address.isEmpty() && !element.port.isEmpty())
            appendPair(out, element.address, element.port);
        // Only an element of nothing but a short text can be its parent's address or port.
        const bool value = !element.children && !element.parted && closeStart >= element.textStart &&
                           closeStart - element.textStart <= longestValue;
        const qsizetype textStart = element.textStart;
        m_elements.pop_back();
        if (m_elements.empty() || !value)
            return;
        Element& parent = m_elements.back();
        const QByteArrayView text = trimmed(page.sliced(textStart, closeStart - textStart));
        // The value first: most are neither, and a name is looked up in a list.
        if (parent.address.isEmpty() && isAddress(text) && isAddressName(name))
            parent.address = text;
        else if (parent.port.isEmpty() && isPort(text) && isPortName(name))
            parent.port = text;
    }

    // name="value" or name='value' pairs of one tag.
    static void readAttributes(QByteArrayView attributes, QByteArray& out)
    {
        QByteArrayView address;
        QByteArrayView port;
        for (qsizetype i = 0; i < attributes.size(); ++i) {
            ++steps;
            if (attributes[i] != '=')
                continue;
            qsizetype nameEnd = i;
            while (nameEnd > 0 && isSpace(attributes[nameEnd - 1]))
                --nameEnd;
            qsizetype nameStart = nameEnd;
            while (nameStart > 0 && !isSpace(attributes[nameStart - 1]) && attributes[nameStart - 1] != '"' &&
                   attributes[nameStart - 1] != '\'')
                --nameStart;
            qsizetype valueStart = i + 1;
            while (valueStart < attributes.size() && isSpace(attributes[valueStart]))
                ++valueStart;
            if (valueStart >= attributes.size() || (attributes[valueStart] != '"' && attributes[valueStart] != '\''))
                continue;
            const qsizetype valueEnd = find(attributes, attributes[valueStart], valueStart + 1);
            if (valueEnd < 0)
                return;
            const QByteArrayView name = attributes.sliced(nameStart, nameEnd - nameStart);
            const QByteArrayView value = trimmed(attributes.sliced(valueStart + 1, valueEnd - valueStart - 1));
            if (address.isEmpty() && isAddressName(name) && isAddress(value))
                address = value;
            else if (port.isEmpty() && isPortName(name) && isPort(value))
                port = value;
            steps += valueEnd - i;
            i = valueEnd;
        }
        if (!address.isEmpty() && !port.isEmpty())
            appendPair(out, address, port);
    }

    std::vector<Element> m_elements;
};

// Whether the page holds an address standing alone, not as the front of a proxy text: every pairing needs one.
// Most pages of proxy texts hold none, and are then passed over at the cost of one look at each byte. `loose` is set
// where an address is not followed by a colon and a digit, which markup between them may hide from the scan, or where
// a numeric entity may write part of one. `portWord`, where given, is set where the text holds "port" in any case
// (looked for in the same pass, for a line); it is only known complete when no bare address is found.
bool holdsBareAddress(QByteArrayView text, bool* loose, bool* portWord = nullptr)
{
    const char* data = text.data();
    const qsizetype size = text.size();
    // The bytes looked at are counted once, at the end: a count kept in memory is written again after every byte read
    // through a char pointer.
    qsizetype i = 0;
    const auto done = [&i](bool bare) {
        steps += i;
        return bare;
    };
    while (i < size) {
        if (!isDigit(data[i])) {
            // A numeric entity may write a digit, a dot or a colon of a proxy.
            if (data[i] == '&' && i + 1 < size && data[i + 1] == '#')
                *loose = true;
            else if ((data[i] | 0x20) == 'p' && portWord && equalsFolded(text.sliced(i, qMin(size - i, 4)), "port"))
                *portWord = true;
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < size && (isDigit(data[i]) || data[i] == '.'))
            ++i;
        const bool colon = i < size && data[i] == ':';
        if (!colon && isAddress(text.sliced(start, i - start)))
            return done(*loose = true);
        if (colon && (i + 1 >= size || !isDigit(data[i + 1])) && isAddress(text.sliced(start, i - start)))
            *loose = true;
        while (i < size && (isDigit(data[i]) || data[i] == '.' || data[i] == ':'))
            ++i;
    }
    return done(false);
}

// What people put between the fields of a line. A dash or a slash parts fields only with blanks around it, so that
// a date, a range or a network stays one field; a pipe parts them with or without.
constexpr QByteArrayView separators[] = {",", ";", "\t", "|", " - ", " / "};
constexpr size_t separatorCount = std::size(separators);

// The separators a line holds, one bit each in the order of `separators`, found in one pass over it.
unsigned separatorsIn(QByteArrayView line)
{
    // Most bytes are none of them: one look in a table passes them over.
    static constexpr auto candidates = [] {
        std::array<bool, 256> table{};
        for (const unsigned char c : {',', ';', '\t', '|', '-', '/'})
            table[c] = true;
        return table;
    }();
    unsigned found = 0;
    const qsizetype size = line.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (!candidates[static_cast<unsigned char>(line[i])])
            continue;
        switch (line[i]) {
        case ',':
            found |= 1u << 0;
            break;
        case ';':
            found |= 1u << 1;
            break;
        case '\t':
            found |= 1u << 2;
            break;
        case '|':
            found |= 1u << 3;
            break;
        case '-':
        case '/':
            if (i > 0 && i + 1 < size && line[i - 1] == ' ' && line[i + 1] == ' ')
                found |= line[i] == '-' ? 1u << 4 : 1u << 5;
            break;
        default:
            break;
        }
    }
    return found;
}

bool holdsSeparator(QByteArrayView line)
{
    return separatorsIn(line) != 0;
}

// A line's fields split at one separator, blanks and quotes around each taken off.
void splitFields(QByteArrayView line, QByteArrayView separator, std::vector<QByteArrayView>& fields)
{
    fields.clear();
    qsizetype start = 0;
    while (true) {
        const qsizetype at =
            separator.size() == 1 ? find(line, separator.front(), start) : line.indexOf(separator, start);
        const qsizetype end = at < 0 ? line.size() : at;
        steps += end - start + separator.size();
        QByteArrayView field = trimmed(line.sliced(start, end - start));
        if (field.size() >= 2 && (field.front() == '"' || field.front() == '\'') && field.back() == field.front())
            field = trimmed(field.sliced(1, field.size() - 2));
        fields.push_back(field);
        if (at < 0)
            return;
        start = at + separator.size();
    }
}

// Delimited lines, read at each separator they hold: the port is the address's next field or, under a header line
// with the same separator that names the port's column, the field in the columns it names. A header holds for the
// lines after it that part their fields the same way.
class DelimitedReader
{
public:
    void readLine(QByteArrayView line, unsigned held, QByteArray& out)
    {
        for (size_t k = 0; k < separatorCount; ++k) {
            if (!(held & (1u << k))) {
                m_headers[k] = NamedColumns();
                continue;
            }
            splitFields(line, separators[k], m_fields);
            const NamedColumns named = namedColumns(m_fields);
            if (named.named()) {
                m_headers[k] = named;
            } else if (m_headers[k].named()) {
                pairByColumns(m_fields, m_headers[k], out);
            } else {
                for (size_t i = 1; i < m_fields.size(); ++i)
                    if (isPort(m_fields[i]) && isAddress(m_fields[i - 1]))
                        appendPair(out, m_fields[i - 1], m_fields[i]);
            }
        }
    }

    // A line that can neither pair nor name a column ends the headers whose separator it lacks.
    void passLine(QByteArrayView line)
    {
        if (!anyHeader())
            return;
        const unsigned held = separatorsIn(line);
        for (size_t k = 0; k < separatorCount; ++k)
            if (!(held & (1u << k)))
                m_headers[k] = NamedColumns();
    }

private:
    bool anyHeader() const
    {
        for (const NamedColumns& header : m_headers)
            if (header.named())
                return true;
        return false;
    }

    NamedColumns m_headers[separatorCount];
    std::vector<QByteArrayView> m_fields;
};

// A blank-separated field and the columns it spans.
struct Word
{
    QByteArrayView text;
    qsizetype start = 0;
    qsizetype end() const { return start + text.size(); }
};

void splitWords(QByteArrayView line, std::vector<Word>& words)
{
    words.clear();
    for (qsizetype i = 0; i < line.size();) {
        ++steps;
        if (isSpace(line[i])) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < line.size() && !isSpace(line[i]))
            ++i;
        steps += i - start;
        words.push_back({line.sliced(start, i - start), start});
    }
}

// Aligned columns: the address and the port as whole blank-separated fields; a line counts when the line above or
// below has them in the same columns, or the line above names the port's column with a word.
struct AlignedLine
{
    qsizetype addressColumn = -1; // -1: no address and port as whole fields here
    qsizetype portColumn = -1;
    QByteArrayView address;
    QByteArrayView port;
    QByteArrayView line;
};

AlignedLine alignedFields(QByteArrayView line, const std::vector<Word>& words)
{
    AlignedLine fields;
    fields.line = line;
    for (size_t i = 1; i < words.size(); ++i)
        if (isPort(words[i].text) && isAddress(words[i - 1].text))
            return {words[i - 1].start, words[i].start, words[i - 1].text, words[i].text, line};
    return fields;
}

bool namesColumn(QByteArrayView header, qsizetype column)
{
    if (column >= header.size() || (column > 0 && !isSpace(header[column - 1])))
        return false;
    const char c = header[column];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A header of aligned columns: words only, one of them naming the port's column. Its words' spans are the columns;
// a row's field belongs to the column whose span it overlaps.
struct AlignedHeader
{
    Word address; // empty when the header names no address column
    Word port;
    bool named() const { return !port.text.isEmpty(); }

    static AlignedHeader of(const std::vector<Word>& words)
    {
        AlignedHeader header;
        if (words.size() < 2)
            return header;
        for (const Word& word : words) {
            for (const char c : word.text)
                if (isDigit(c))
                    return AlignedHeader();
            if (header.port.text.isEmpty() && isPortName(word.text))
                header.port = word;
            else if (header.address.text.isEmpty() && isAddressName(word.text))
                header.address = word;
        }
        return header;
    }

    void pair(const std::vector<Word>& words, QByteArray& out) const
    {
        const auto under = [](const Word& column, const Word& word) {
            return word.start < column.end() && column.start < word.end();
        };
        QByteArrayView address;
        QByteArrayView port;
        for (const Word& word : words) {
            if (port.isEmpty() && under(this->port, word))
                port = word.text;
            else if (address.isEmpty() && isAddress(word.text) &&
                     (this->address.text.isEmpty() || under(this->address, word)))
                address = word.text;
        }
        if (isAddress(address) && isPort(port))
            appendPair(out, address, port);
    }
};

// What a line is to the line readers. Most lines of a page hold no address standing alone and no word naming a
// port: they can neither pair nor name a column, and are only looked at for where headers end.
enum class Shape : unsigned char { Filler, Blank, Delimited, Header, Words };

struct LineInfo
{
    QByteArrayView text;
    Shape shape = Shape::Blank;
    unsigned separators = 0; // separatorsIn(text), for the lines that can pair or name
    AlignedLine aligned;     // a Words line's address and port as whole fields, if it has them
    AlignedHeader header;    // a Header line's columns
};

bool isBlankLine(QByteArrayView line)
{
    for (const char c : line)
        if (!isSpace(c) || c == '\t')
            return false;
    return true;
}

LineInfo lineInfo(QByteArrayView line, std::vector<Word>& words)
{
    LineInfo info;
    info.text = line;
    steps += 2 * line.size();
    bool loose = false;
    bool portWord = false;
    if (!holdsBareAddress(line, &loose, &portWord) && !portWord) {
        info.shape = isBlankLine(line) ? Shape::Blank : Shape::Filler;
        return info;
    }
    info.separators = separatorsIn(line);
    if (info.separators != 0) {
        info.shape = Shape::Delimited;
        return info;
    }
    splitWords(line, words);
    info.header = AlignedHeader::of(words);
    if (words.empty())
        info.shape = Shape::Blank;
    else if (info.header.named())
        info.shape = Shape::Header;
    else {
        info.shape = Shape::Words;
        info.aligned = alignedFields(line, words);
    }
    return info;
}

// The lines in order, each read with the one above and the one below it at hand, so the pairs come in the page's
// order and nothing is kept per line.
void readLines(QByteArrayView text, bool cut, QByteArray& out)
{
    std::vector<Word> words;
    qsizetype next = 0;
    // The next line, or false at the end. The last line, unended: on a cut page it may be half of one.
    const auto nextLine = [&](LineInfo* info) {
        if (next >= text.size())
            return false;
        const qsizetype end = find(text, '\n', next);
        if (end < 0 && cut)
            return false;
        const qsizetype stop = end < 0 ? text.size() : end;
        *info = lineInfo(text.sliced(next, stop - next), words);
        next = stop + 1;
        return true;
    };

    DelimitedReader delimited;
    AlignedHeader header; // names the columns of the lines under it, up to a blank line
    LineInfo above;
    LineInfo line;
    LineInfo below;
    bool haveAbove = false;
    bool haveBelow = nextLine(&below);
    while (haveBelow) {
        line = below;
        haveBelow = nextLine(&below);
        if (line.shape == Shape::Filler || line.shape == Shape::Blank)
            delimited.passLine(line.text);
        else
            delimited.readLine(line.text, line.separators, out);
        if (line.shape == Shape::Blank) {
            header = AlignedHeader();
        } else if (line.shape == Shape::Header) {
            header = line.header;
        } else if (line.shape == Shape::Words && header.named()) {
            splitWords(line.text, words);
            header.pair(words, out);
        } else if (line.shape == Shape::Words && line.aligned.addressColumn >= 0) {
            // Without a header, an address and a port count where a neighbour has them in the same columns, or the
            // line above names the port's column.
            const AlignedLine& fields = line.aligned;
            const auto sameColumns = [&fields](const LineInfo& other) {
                return other.shape == Shape::Words && other.aligned.addressColumn == fields.addressColumn &&
                       other.aligned.portColumn == fields.portColumn;
            };
            const bool wordsAbove = haveAbove && ((above.shape == Shape::Words && above.aligned.addressColumn < 0) ||
                                                  (above.shape == Shape::Filler && !holdsSeparator(above.text)));
            const bool named = wordsAbove && namesColumn(above.text, fields.portColumn);
            if ((haveAbove && sameColumns(above)) || (haveBelow && sameColumns(below)) || named)
                appendPair(out, fields.address, fields.port);
        }
        above = line;
        haveAbove = true;
    }
}

// host=ADDRESS&port=N, the ampersand raw or as an entity.
void readQueries(QByteArrayView text, QByteArray& out)
{
    for (qsizetype at = text.indexOf("host="); at >= 0; at = text.indexOf("host=", at + 1)) {
        qsizetype i = at + 5;
        const qsizetype addressStart = i;
        while (i < text.size() && (isDigit(text[i]) || text[i] == '.') && i - addressStart <= 15)
            ++i;
        steps += i - at;
        const QByteArrayView address = text.sliced(addressStart, i - addressStart);
        if (!isAddress(address))
            continue;
        const QByteArrayView rest = text.sliced(i);
        const qsizetype skip = rest.startsWith("&port=") ? 6 : rest.startsWith("&amp;port=") ? 10 : 0;
        if (skip == 0)
            continue;
        qsizetype portEnd = i + skip;
        while (portEnd < text.size() && isDigit(text[portEnd]) && portEnd - i - skip <= 5)
            ++portEnd;
        const QByteArrayView port = text.sliced(i + skip, portEnd - i - skip);
        if (isPort(port))
            appendPair(out, address, port);
    }
}

// The tables of the page, with its escapes undone, then its XML as it stands. The tags are found once for both where
// no escape hides one: pages are mostly tags, and finding them was each reader's main cost.
void readMarkup(const QByteArray& page, bool cut, QByteArray& out)
{
    TableReader table;
    XmlReader xml;
    const auto toTable = [&table](QByteArrayView text) { table.text(text); };
    if (holds(page, "&") || holds(page, "\\")) {
        const QByteArray text = unescaped(page);
        walkTags(text, toTable, [&](const Tag& tag) { table.tag(tag, out); });
        table.end(cut, out);
        walkTags(
            page, [](QByteArrayView) {}, [&](const Tag& tag) { xml.tag(page, tag, out); });
        return;
    }
    QByteArray xmlPairs;
    walkTags(page, toTable, [&](const Tag& tag) {
        table.tag(tag, out);
        xml.tag(page, tag, xmlPairs);
    });
    table.end(cut, out);
    out += xmlPairs;
}

} // namespace

QByteArray PairReader::read(const QByteArray& page, bool cut, bool* looseAddress)
{
    steps = 0;
    QByteArray out;
    bool loose = false;
    const bool bare = holdsBareAddress(page, &loose);
    if (looseAddress)
        *looseAddress = loose;
    if (!bare)
        return out;
    if (holds(page, "<") || holds(page, "&lt;"))
        readMarkup(page, cut, out);
    if (holds(page, "{"))
        JsonReader().read(page, out);
    readLines(page, cut, out);
    if (holds(page, "host="))
        readQueries(page, out);
    return out;
}

qint64 PairReader::lastSteps()
{
    return steps;
}
