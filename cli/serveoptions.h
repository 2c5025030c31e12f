#pragma once

#include "serve/servejob.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

// The command line's options of the local proxy: --serve [ADDRESS:]PORT, --serve-auth USER:PASSWORD,
// --serve-connections N, --serve-log FILE, --recheck-every MINUTES. RunOptions adds them to its parser.
namespace ServeOptions {

QList<QCommandLineOption> options();

// Whether any of them is given.
bool anySet(const QCommandLineParser& parser);
// The serve's part of the run into `job`; false with the refusal's text (without "sievra: ") in `refusal`.
// `log`: the file --serve-log names, or empty.
bool read(const QCommandLineParser& parser, ServeJob* job, QString* log, QString* refusal);

} // namespace ServeOptions
