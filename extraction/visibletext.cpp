#include "extraction/visibletext.h"

#include "extraction/ascii.h"

#include <array>
#include <cstring>

namespace {

enum class Kind { Inline, Cell, Line, Hidden, Head, Pre };

// Longer than any name of an element that parts text or hides it.
constexpr qsizetype longestName = 12;

using Ascii::equalsFolded;
using Ascii::isDigit;
using Ascii::isHtmlSpace;
using Ascii::isLetter;
using Ascii::lower;

bool isAddressCharacter(char c)
{
    return isDigit(c) || c == '.';
}

// Elements whose start or end parts text; the rest (a, span, b, font, and names nobody knows) do not.
Kind kindOf(QByteArrayView name)
{
    // Views, whose lengths are known here: a name compared as a C string was measured first each time.
    static constexpr std::array<QByteArrayView, 47> lines = {
        "br",         "p",       "div",     "tr",         "table",   "thead",  "tbody",   "tfoot", "li",   "ul",
        "ol",         "dl",      "dt",      "dd",         "h1",      "h2",     "h3",      "h4",    "h5",   "h6",
        "blockquote", "section", "article", "header",     "footer",  "nav",    "aside",   "main",  "form", "fieldset",
        "hr",         "address", "figure",  "figcaption", "caption", "option", "center",  "body",  "html", "iframe",
        "legend",     "details", "summary", "menu",       "dialog",  "select", "textarea"};
    if (equalsFolded(name, "td") || equalsFolded(name, "th"))
        return Kind::Cell;
    if (equalsFolded(name, "script") || equalsFolded(name, "style") || equalsFolded(name, "template") ||
        equalsFolded(name, "title"))
        return Kind::Hidden;
    if (equalsFolded(name, "head"))
        return Kind::Head;
    if (equalsFolded(name, "pre") || equalsFolded(name, "xmp") || equalsFolded(name, "listing") ||
        equalsFolded(name, "plaintext"))
        return Kind::Pre;
    for (const QByteArrayView line : lines)
        if (equalsFolded(name, line))
            return Kind::Line;
    return Kind::Inline;
}

// Finds `word` (lower case) from `from` on, in any case; -1 when it is not there.
qsizetype findFolded(QByteArrayView text, qsizetype from, QByteArrayView word)
{
    const char first = word.front();
    for (qsizetype i = from; i + word.size() <= text.size(); ++i) {
        if (lower(text[i]) != first)
            continue;
        qsizetype k = 1;
        while (k < word.size() && lower(text[i + k]) == word[k])
            ++k;
        if (k == word.size())
            return i;
    }
    return -1;
}

class Reader
{
public:
    // The text is never longer than the page: it is written straight into a buffer of the page's size.
    explicit Reader(QByteArrayView page) : m_page(page), m_out(page.size(), Qt::Uninitialized), m_buffer(m_out.data())
    {
    }

    QByteArray read()
    {
        qsizetype i = 0;
        const qsizetype size = m_page.size();
        const char* const page = m_page.data();
        while (i < size) {
            const char c = page[i];
            if (c == '<') {
                i = markup(i);
            } else if (c == '&') {
                i = entity(i);
            } else {
                i = textRun(i);
            }
        }
        m_out.truncate(m_size);
        return std::move(m_out);
    }

private:
    // Where the markup at `at` ends; what it does to the text is done.
    qsizetype markup(qsizetype at)
    {
        const QByteArrayView rest = m_page.sliced(at);
        // A look at the second character first: every tag of a page comes here.
        if (rest.size() > 1 && rest[1] == '!' && rest.startsWith("<!--")) {
            const qsizetype end = m_page.indexOf("-->", at + 4);
            m_joinedByMarkup = true;
            return end < 0 ? m_page.size() : end + 3;
        }
        const bool closing = rest.size() > 1 && rest[1] == '/';
        const qsizetype nameAt = at + (closing ? 2 : 1);
        if (nameAt >= m_page.size())
            return literal(at);
        const char first = m_page[nameAt];
        if (first == '!' || first == '?') {
            const qsizetype end = m_page.indexOf('>', nameAt);
            m_joinedByMarkup = true;
            return end < 0 ? m_page.size() : end + 1;
        }
        if (!isLetter(first))
            return literal(at);
        qsizetype i = nameAt;
        while (i < m_page.size() && !isHtmlSpace(m_page[i]) && m_page[i] != '>' && m_page[i] != '/')
            ++i;
        // A name longer than any we know is just inline.
        const QByteArrayView name = m_page.sliced(nameAt, i - nameAt);
        const Kind kind = name.size() < longestName ? kindOf(name) : Kind::Inline;
        const qsizetype end = tagEnd(i);
        if (end < 0)
            return m_page.size();
        switch (kind) {
        case Kind::Inline:
            m_joinedByMarkup = true;
            return end;
        case Kind::Cell:
            // The next cell's start parts them; an end alone is no field of its own.
            if (closing)
                m_joinedByMarkup = true;
            else
                separate('\t');
            return end;
        case Kind::Line:
            separate('\n');
            return end;
        case Kind::Pre:
            separate('\n');
            m_pre = !closing;
            return end;
        case Kind::Hidden:
            return closing ? end : skipTo(end, name);
        case Kind::Head:
            return closing ? end : skipHead(end);
        }
        return end;
    }

    // Past the ">" of a tag whose name ends at `at`; attribute values may hold ">" in quotes. -1 when it never ends.
    qsizetype tagEnd(qsizetype at) const
    {
        char quote = 0;
        for (qsizetype i = at; i < m_page.size(); ++i) {
            const char c = m_page[i];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i + 1;
            }
        }
        return -1;
    }

    // What a script, a style sheet or a template holds, up to its end tag; without one, the rest of the page.
    qsizetype skipTo(qsizetype from, QByteArrayView name)
    {
        char closer[longestName + 2] = "</";
        for (qsizetype k = 0; k < name.size(); ++k)
            closer[k + 2] = lower(name[k]);
        const qsizetype close = findFolded(m_page, from, QByteArrayView(closer, name.size() + 2));
        m_joinedByMarkup = true;
        if (close < 0)
            return m_page.size();
        const qsizetype end = tagEnd(close + name.size() + 2);
        return end < 0 ? m_page.size() : end;
    }

    // The head ends at its end tag or where the body starts; a page with neither shows what follows.
    qsizetype skipHead(qsizetype from)
    {
        if (m_headless)
            return from;
        const qsizetype close = findFolded(m_page, from, "</head");
        const qsizetype body = findFolded(m_page, from, "<body");
        if (close < 0 && body < 0) {
            m_headless = true; // no later head needs the search again
            return from;
        }
        separate('\n');
        return close >= 0 && (body < 0 || close < body) ? close : body;
    }

    qsizetype literal(qsizetype at)
    {
        text(m_page[at]);
        return at + 1;
    }

    // &amp; &lt; &gt; &quot; &apos; &nbsp; and numeric references; anything else is an ampersand.
    qsizetype entity(qsizetype at)
    {
        static const struct
        {
            QByteArrayView name;
            char character;
        } named[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&nbsp;", ' '}};
        const QByteArrayView rest = m_page.sliced(at);
        for (const auto& entry : named)
            if (rest.startsWith(entry.name)) {
                text(entry.character);
                return at + entry.name.size();
            }
        if (rest.size() > 2 && rest[1] == '#') {
            const bool hex = lower(rest[2]) == 'x';
            qsizetype i = hex ? 3 : 2;
            uint value = 0;
            const qsizetype digitsAt = i;
            for (; i < rest.size() && i < digitsAt + 8; ++i) {
                const char c = lower(rest[i]);
                if (isDigit(c))
                    value = value * (hex ? 16 : 10) + uint(c - '0');
                else if (hex && c >= 'a' && c <= 'f')
                    value = value * 16 + uint(c - 'a' + 10);
                else
                    break;
            }
            if (i > digitsAt) {
                // A character outside ASCII is none an address is made of.
                text(value == 160 ? ' ' : value > 0 && value < 128 ? char(value) : '?');
                return at + i + (i < rest.size() && rest[i] == ';' ? 1 : 0);
            }
        }
        return literal(at);
    }

    char last() const { return m_size > 0 ? m_buffer[m_size - 1] : '\0'; }
    // Markup written as at least one byte, or a literal, stands behind every character it adds: room is never short.
    void put(char c) { m_buffer[m_size++] = c; }

    // The characters from `at` up to the next markup or entity, as text() takes each, and where they end. The state
    // is kept in locals meanwhile: written through a char pointer, the members were read and written again for each.
    qsizetype textRun(qsizetype at)
    {
        const char* const page = m_page.data();
        const qsizetype size = m_page.size();
        char* const out = m_buffer;
        qsizetype written = m_size;
        bool joined = m_joinedByMarkup;
        const bool pre = m_pre;
        qsizetype i = at;
        for (; i < size && page[i] != '<' && page[i] != '&'; ++i) {
            const char c = page[i];
            const char last = written > 0 ? out[written - 1] : '\0';
            if (!pre && isHtmlSpace(c)) {
                if (written > 0 && !isHtmlSpace(last))
                    out[written++] = ' ';
                continue;
            }
            if (joined && isAddressCharacter(last) && isAddressCharacter(c))
                out[written++] = '\n';
            joined = false;
            out[written++] = c;
        }
        m_size = written;
        m_joinedByMarkup = joined;
        return i;
    }

    void text(char c)
    {
        if (!m_pre && isHtmlSpace(c)) {
            // Shown as one blank, and none after a line end or a cell's start.
            if (m_size > 0 && !isHtmlSpace(last()))
                put(' ');
            return;
        }
        if (m_joinedByMarkup && isAddressCharacter(last()) && isAddressCharacter(c))
            put('\n');
        m_joinedByMarkup = false;
        put(c);
    }

    void separate(char separator)
    {
        m_joinedByMarkup = false;
        if (!m_pre && last() == ' ')
            --m_size;
        if (separator == '\n' && last() == '\n')
            return;
        put(separator);
    }

    QByteArrayView m_page;
    QByteArray m_out;
    char* m_buffer;
    qsizetype m_size = 0;          // of the text written so far
    bool m_joinedByMarkup = false; // markup was taken out since the last character
    bool m_pre = false;
    bool m_headless = false;
};

bool isHtmlName(QByteArrayView name)
{
    static constexpr std::array names = {"html", "head", "body",  "title", "meta", "link",   "script", "style",
                                         "div",  "p",    "table", "span",  "a",    "br",     "ul",     "h1",
                                         "h2",   "h3",   "form",  "img",   "pre",  "center", "font",   "tr"};
    for (const char* known : names)
        if (name == QByteArrayView(known))
            return true;
    return false;
}

} // namespace

namespace VisibleText {

QByteArray of(QByteArrayView page)
{
    return Reader(page).read();
}

bool isHtml(QByteArrayView page, QByteArrayView contentType)
{
    if (findFolded(contentType, 0, "html") >= 0)
        return true;
    // Markup first: a JSON string or a line of text holding a tag is no page of markup.
    qsizetype first = 0;
    while (first < page.size() && (isHtmlSpace(page[first]) || uchar(page[first]) >= 0x80))
        ++first;
    if (first == page.size() || page[first] != '<')
        return false;
    for (qsizetype at = first; at >= 0; at = page.indexOf('<', at + 1)) {
        const QByteArrayView rest = page.sliced(at);
        if (rest.startsWith("<?") || rest.startsWith("<!--")) {
            const QByteArrayView closer = rest.startsWith("<?") ? QByteArrayView("?>") : QByteArrayView("-->");
            const qsizetype end = page.indexOf(closer, at);
            if (end < 0)
                return false;
            // Only blanks may stand between the declarations and the first tag.
            qsizetype next = end + closer.size();
            while (next < page.size() && isHtmlSpace(page[next]))
                ++next;
            if (next < page.size() && page[next] != '<')
                return false;
            at = next - 1;
            continue;
        }
        if (rest.size() >= 14 && findFolded(rest.first(14), 0, "<!doctype html") == 0)
            return true;
        // The first tag decides.
        std::array<char, 8> name{};
        qsizetype length = 0;
        for (qsizetype i = 1; i < rest.size() && (isLetter(rest[i]) || (i > 1 && isDigit(rest[i]))); ++i) {
            if (length == qsizetype(name.size()))
                return false;
            name[size_t(length++)] = lower(rest[i]);
        }
        return length > 0 && isHtmlName(QByteArrayView(name.data(), length));
    }
    return false;
}

} // namespace VisibleText
