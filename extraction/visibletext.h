#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A page's text as a browser shows it, for reading the proxies a person sees there:
// - markup that does not part text is taken out: inline elements (a, span, b, font, code...) with their attributes
//   whatever they hold, and comments;
// - markup that does part text parts it: a table cell starts with a tab, a row, a block, a line break or a list
//   item with a line end;
// - entities are decoded, white space runs become one blank (as shown), except in pre;
// - what scripts, style sheets, templates and the head hold is left out. No script runs here, so what noscript
//   holds is text.
// Two digits or dots that markup alone stands between are not joined: that is how pages hide decoy digits among a
// proxy's with style sheets, which are not read here. The text is never longer than the page, and it is made in one
// pass over it.
namespace VisibleText {

QByteArray of(QByteArrayView page);

// A page is HTML when its Content-Type says so, or when its first markup (after an XML declaration, comments and a
// doctype) is an HTML tag.
bool isHtml(QByteArrayView page, QByteArrayView contentType);

} // namespace VisibleText
