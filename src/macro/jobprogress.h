#pragma once

#include <QtGlobal>
#include <algorithm>
#include <optional>

// How far a run of a long job has come and when it will end, from the passes
// measured so far in this run. Pure reckoning: the caller says when a pass
// ended and how long it took.
class JobProgress {
public:
    // `counter`: the counter the run starts at. `endCounter`: the counter
    // the job ends at (the start plus the passes the address file allows);
    // no value when the passes have no end. `passesBefore`: the passes'
    // worth of the job done before this run (the address lines the counter
    // skips, over the lines a pass takes); by default the counter itself,
    // or 0 below 0 (a counter below 0 skips no line).
    JobProgress(qint64 counter, std::optional<qint64> endCounter, std::optional<double> passesBefore = std::nullopt);

    // A pass ended at `atMs` (milliseconds since the epoch), `durationMs`
    // after it began, having sent `packets`; `counter` is the counter now.
    void passCompleted(qint64 counter, double durationMs, qint64 packets, double atMs);

    // A pass of the job failed (it was recorded and the job went on).
    void passFailed() { ++failed_; }
    qint64 failed() const { return failed_; }
    // The passes run side by side on `handsets` handsets (at least 1): the
    // job moves on that many passes in a pass's time.
    void setHandsets(int handsets) { handsets_ = std::max(1, handsets); }

    qint64 counter() const { return counter_; }
    std::optional<qint64> endCounter() const { return endCounter_; }
    // Passes completed in this run.
    qint64 passes() const { return passes_; }
    // The share of the job's passes done, before this run and in it, from
    // 0 to 1.
    std::optional<double> shareDone() const;
    // How long a pass takes, as measured in this run: the mean of its
    // passes, or the line time of their mean packets when that is longer
    // (the line's queue takes up to 10 s of packets without the run waiting,
    // so the first passes of a job the line governs end early). No value
    // before the first pass.
    std::optional<double> passMs() const;
    // When the job will end, in milliseconds since the epoch: no value before
    // the first pass, or when the passes have no end.
    std::optional<double> endsAtMs() const;

private:
    qint64 startCounter_;
    double passesBefore_;
    qint64 counter_;
    std::optional<qint64> endCounter_;
    qint64 passes_ = 0;
    qint64 failed_ = 0;
    double totalMs_ = 0;
    qint64 packets_ = 0;
    double lastAtMs_ = 0;
    int handsets_ = 1;
};
