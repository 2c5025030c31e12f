#pragma once

#include "check/proxyrecord.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The forms of the list of working proxies a check writes: the line template's text, or records for other
// programs, JSON (one array of objects) or CSV (RFC 4180 under a header line), with these fields in this order:
// address, port, protocols, anonymity, first_byte_ms, seen_address, country, asn, organization, exit_country,
// exit_asn, exit_organization, stated_scheme, user, password; a pool's history (first_seen, last_seen,
// last_checked, last_worked, checks_7d, worked_7d, uptime_7d, streak) when asked; and sources after a harvest.
namespace ListFormat {

enum Format { Text, Json, Csv };

// "text", "json", "csv"; nothing for another name.
std::optional<Format> fromName(const QString& name);
// The list file's extension, without the dot.
QString extension(Format format);

// Numbers as numbers, an empty field as null, protocols and sources as arrays; UTF-8.
QByteArray json(const std::vector<ProxyRecord>& records, bool withSources, bool withHistory = false);
// Protocols as "http,connect", sources separated by a blank (a URL holds none); fields holding a quote, a comma or
// a line end quoted; CR LF line ends; UTF-8.
QByteArray csv(const std::vector<ProxyRecord>& records, bool withSources, bool withHistory = false);
// The text list: each proxy through the line template, its credentials in front ("user:password@"), CR LF ends.
QByteArray text(const std::vector<ProxyRecord>& records, const QString& lineTemplate);

} // namespace ListFormat
