#pragma once

#include "pool/pooljob.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

// The command line's options about the pool: where it is (--pool, --no-pool), the tasks about it (--export,
// --recheck, --sources) and their own options. RunOptions adds them to its parser and reads them first.
namespace PoolOptions {

QList<QCommandLineOption> options();

// The pool's part of the run into `job`; false with the refusal's text (without "sievra: ") in `refusal`.
bool read(const QCommandLineParser& parser, PoolJob* job, QString* refusal);

// Options that belong to a harvest, a check or one of the pool's tasks, each by its name; read() and RunOptions
// refuse one given where it has no use.
inline const QStringList harvestOnly = {QStringLiteral("threads"), QStringLiteral("depth"), QStringLiteral("timeout"),
                                        QStringLiteral("classic")};

} // namespace PoolOptions
