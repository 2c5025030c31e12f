#pragma once

#include <QByteArray>

// Reads the proxies a page shows where its own structure pairs an address with a port, and writes each pair as a
// line "a.b.c.d:port", so that the scan of a page finds them like any other proxy text. The structures:
// - a table row: an address as one cell's visible text and a port as the next cell's, whatever markup, entities,
//   escaped markup or JSON string escapes stand around them;
// - a JSON object: a string field holding an address and a field named as a port ("port" in any case, a name
//   ending in "_port" or "-port", a camel-case "...Port") in the same object;
// - XML: an address-like element (ip, host, address...) and a port element in one parent, or such attributes on
//   one element;
// - delimited text: the port's field right after the address's on one line (commas, semicolons, tabs);
// - aligned columns: an address and a port as whole blank-separated fields, on lines that share their columns or
//   stand under a header that names the port's column;
// - a query: host=ADDRESS&port=N.
// A number is a port only where the structure says so: never across rows, objects, elements or lines, and never
// from prose. Every reading is one pass, so the work is linear in the page's size.
class PairReader
{
public:
    // The pairs of the page, one line each, in the order their records end. A page cut at the size limit (`cut`)
    // loses its last, unclosed record: it may be half of one. `looseAddress`, where given, tells whether the page
    // holds an address not followed by a colon and a digit, or a numeric entity: only then can its visible text show
    // more than it does.
    static QByteArray read(const QByteArray& page, bool cut, bool* looseAddress = nullptr);

    // Steps of the last read on this thread, counted for the fuzz target, which holds them to the page's length.
    static qint64 lastSteps();
};
