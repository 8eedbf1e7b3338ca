#pragma once

#include "cli/slurmjob.h"

// The whole job's results from its tasks' files: dir/results.csv (the
// newest row of every pass that ran, in pass order) and dir/results.xml
// (JUnit: the same, and every pass not yet run as an error case). False and
// `error` when either cannot be written.
bool mergeSlurmJob(const SlurmJob &job, const JobState &state, QString *error);

// What the job's passes came to, in a few lines: done, failed (with their
// passes), pending (with their passes), passes done more than once.
QString jobSummary(const SlurmJob &job, const JobState &state);
