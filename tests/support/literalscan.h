#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A plain, slow reading of how a page turns into proxies, written without the production matcher: find the
// leftmost proxy (each digit group as long as it can be), keep it, remove every occurrence of it from the
// text, search again from the start. Faster scans are checked against this one.
namespace LiteralScan {

// The proxy texts of one page in the order they are written.
QStringList scanPage(QString page);

// What the page fetcher stores of a reply: every byte but digits, '.' and ':' becomes a line break.
QByteArray reduceLikeFetcher(QByteArray reply);

} // namespace LiteralScan
