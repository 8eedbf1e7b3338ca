#pragma once

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <mutex>
#include <optional>

// The passes of a job (by the counter each runs with: pass k of the job is
// counter k - 1, its address lines those after (k - 1) × the GETSTRs of a
// pass) dealt out one at a time to the runners that do them: to one runner
// that does a slice of the job (--passes), or to one runner a handset, each
// taking its next pass when it is free. Thread-safe: the runners take from
// their own threads.
class PassDealer {
public:
    // The passes with counters `first` to `last` (none: without end), less
    // those in `done` (a resumed job's), for `takers` takers (0 to takers - 1).
    PassDealer(qint32 first, std::optional<qint32> last, const QSet<qint32> &done = {}, int takers = 1);

    // What take() gives: a pass, or nothing yet (another taker may still
    // give one back: ask again soon), or nothing any more.
    struct Deal {
        std::optional<qint32> counter;
        bool wait = false;
    };
    // The next pass for `taker`, whose line has carried all it was given
    // (`drained`) or not. The pass it was doing before has ended (recorded,
    // whatever its result): nobody does it again. Nothing is left for it once
    // no pass waits, its own line is done and every other taker's is done
    // too or has left (a line that fails still may give passes back), or the
    // dealer is closed.
    Deal take(int taker, bool drained = true);
    // `taker` leaves the job: the pass it was doing, and `cut` (passes it
    // ended whose packets may not all have arrived), go back to be dealt
    // again, before any pass not dealt yet. Returns those passes.
    QList<qint32> leave(int taker, const QList<qint32> &cut = {});
    // No pass is dealt any more (the job is stopped).
    void close();

    // The passes not dealt yet (given back ones included); -1 without end.
    qint64 waiting() const;
    // The passes this dealer deals in all (less the done ones); -1 without end.
    qint64 total() const { return total_; }

private:
    // Busy: no pass, its line still carrying; Idle: no pass, its line done.
    enum class State { Doing, Busy, Idle, Left };

    mutable std::mutex mutex_;
    QList<qint32> givenBack_; // dealt before the rest, lowest first
    qint64 next_;             // the next counter not dealt yet
    std::optional<qint32> last_;
    QSet<qint32> done_;
    QMap<int, qint32> doing_;
    QList<State> takers_;
    bool closed_ = false;
    qint64 total_ = -1;
};

// "FROM-TO" of --passes as pass numbers (from 1; "5-" without end, "7" alone
// one pass): the counters first and last; none and `error` (Japanese, naming
// the text) when it is no such range.
struct PassRange {
    qint32 firstCounter = 0;
    std::optional<qint32> lastCounter;
};
std::optional<PassRange> parsePassRange(const QString &text, QString *error);
