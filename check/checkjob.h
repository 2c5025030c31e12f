#pragma once

#include "check/listformat.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

class GeoLookup;

// One check as the command line describes it, built once from its options: the judge, the time-out and
// concurrency, and what is written (the list's form, its line template, the places of each proxy, the report).
// The checker and the check run read this value.
struct CheckJob
{
    QUrl judge;
    QByteArray marker;     // a text the judge's page always holds
    int timeoutMs = 5000;  // for the whole check of one proxy
    int concurrency = 256; // checks in flight at a time
    bool insecure = false; // an https judge's certificate is not verified
    QString lineTemplate = QStringLiteral("A:P");
    ListFormat::Format format = ListFormat::Text;
    const GeoLookup* geo = nullptr; // none: no place is known
    QString reportPath;             // the check report; empty for none
};
