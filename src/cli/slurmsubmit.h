#pragma once

#include "cli/slurmjob.h"

#include <optional>

// A new job's folder `dir`: the macro at `macroPath`, its recovery macro,
// the templates they name and the address file at `addrPath` copied into
// it, its passes counted. No value and `error` when the macro cannot be cut
// into passes, a file cannot be read or copied, or `dir` already holds a job.
std::optional<SlurmJob> prepareSlurmJob(const QString &macroPath, const QString &addrPath, const QString &dir,
                                        QString *error);
