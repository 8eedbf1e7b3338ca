#include "macro/jobestimate.h"

#include "macro/macrorunner.h"
#include "macro/statement.h"
#include "platform/linetiming.h"

#include <algorithm>
#include <cmath>

using Kind = Statement::Kind;

PassShape passShape(const QStringList &lines)
{
    PassShape shape;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        shape.lines.append(i);
        const Kind kind = parseStatement(lines[i]).kind;
        if (kind == Kind::GetStr)
            ++shape.getStrs;
        if (kind == Kind::Repeat || kind == Kind::Exit) {
            shape.repeats = kind == Kind::Repeat;
            break;
        }
    }
    return shape;
}

qint64 passesAllowed(qint64 addressLines, qint64 counter, int getStrs)
{
    const qint64 left = addressLines - std::max<qint64>(0, counter);
    if (getStrs <= 0 || left <= 0)
        return 0;
    return left / getStrs;
}

namespace {

// The run's clock, replayed: statements start when the one before has sent
// its packets and waited; a packet that would overfill the line's bounded
// queue makes the sender wait until there is room; the port closes once the
// line has carried everything.
class Replay {
public:
    Replay(const QList<PassStep> &steps, const std::optional<QList<int>> &addressPackets)
        : steps_(steps), addressPackets_(addressPackets)
    {
    }

    // One pass; returns how long it took, in milliseconds.
    double pass()
    {
        const double start = nowMs_;
        for (const PassStep &step : steps_) {
            play(step);
            const Kind kind = step.statement.kind;
            if (kind != Kind::Repeat && kind != Kind::Exit)
                wait(baseWait_);
        }
        // A pass lasts at least the shortest wait.
        if (!steps_.isEmpty() && steps_.last().statement.kind == Kind::Repeat)
            nowMs_ = std::max(nowMs_, start + MacroRunner::kShortestWaitMs);
        return nowMs_ - start;
    }

    double nowMs() const { return nowMs_; }
    // When the line has carried every packet sent so far.
    double lineDoneMs() { return line_.add(nowMs_, 0); }

    // Of every pass so far: the waits, and the packets sent.
    double waitMs() const { return waitMs_; }
    qint64 packets() const { return packets_; }

private:
    void play(const PassStep &step)
    {
        const Statement &st = step.statement;
        switch (st.kind) {
        case Kind::Key:
        case Kind::String:
            send(step.packets);
            break;
        case Kind::BaseWait:
            if (step.baseWait)
                baseWait_ = *step.baseWait;
            break;
        case Kind::Sleep:
            if (st.isValid())
                wait(st.seconds);
            break;
        case Kind::WaitImage:
        case Kind::WaitGone:
        case Kind::WaitText:
            // At most its time-out, counted from when the line is done.
            if (st.isValid()) {
                nowMs_ = std::max(nowMs_, lineDoneMs());
                wait(st.seconds);
            }
            break;
        case Kind::Screen:
        case Kind::Snapshot:
        case Kind::ReadText:
        case Kind::OnFail:
        case Kind::Display:
            break;
        case Kind::PortNo:
            // The port closes once the line has carried what it was given,
            // and opens again with an empty line.
            nowMs_ = lineDoneMs();
            line_ = LineClock();
            break;
        case Kind::GetStr:
            if (addressPackets_)
                currentPackets_ = nextAddress_ < addressPackets_->size() ? addressPackets_->at(nextAddress_++) : 0;
            break;
        case Kind::SendStr:
            send(currentPackets_);
            break;
        case Kind::Repeat:
        case Kind::Exit:
        case Kind::None:
            break;
        }
    }

    void send(int count)
    {
        if (count <= 0)
            return;
        packets_ += count;
        // The last packet is handed over once the bytes before it have
        // shrunk to the queue's bound less one packet.
        const double doneMs = line_.add(nowMs_, qint64(count) * KeyPacket::kSize);
        nowMs_ = std::max(nowMs_, doneMs - LineTiming::lineMs(LineTiming::kQueueBoundBytes));
    }

    // As the run waits: a negative wait not at all, none shorter than the
    // shortest wait.
    void wait(float seconds)
    {
        if (seconds < 0)
            return;
        const double ms = std::max(double(seconds) * 1000.0, MacroRunner::kShortestWaitMs);
        nowMs_ += ms;
        waitMs_ += ms;
    }

    const QList<PassStep> &steps_;
    const std::optional<QList<int>> &addressPackets_;
    double nowMs_ = 0;
    double waitMs_ = 0;
    qint64 packets_ = 0;
    LineClock line_;
    float baseWait_ = 0;
    qsizetype nextAddress_ = 0;
    int currentPackets_ = 0;
};

// Enough passes for the line's queue to settle in a loop that never ends.
constexpr qint64 kSettlingPasses = 10'000;
// The statements replayed at most, a fraction of a second: a longer job is
// reckoned from as many of its first passes and the rest in proportion.
constexpr qint64 kReplayedStatements = 20'000'000;

// The totals of the passes replayed so far, scaled by `share` when they
// stand for more passes than were replayed.
void takeTotals(JobEstimate &job, Replay &replay, double share)
{
    job.seconds = replay.lineDoneMs() / 1000.0 * share;
    job.waitSeconds = replay.waitMs() / 1000.0 * share;
    job.wireSeconds = double(replay.packets()) * kPacketWireSeconds * share;
}

} // namespace

JobEstimate estimateJob(const QList<PassStep> &steps, const std::optional<QList<int>> &addressPackets)
{
    JobEstimate job;
    job.getStrs = int(std::count_if(steps.begin(), steps.end(),
                                    [](const PassStep &s) { return s.statement.kind == Kind::GetStr; }));
    const bool repeats = !steps.isEmpty() && steps.last().statement.kind == Kind::Repeat;
    const qint64 replayable = std::max<qint64>(2, kReplayedStatements / std::max<qsizetype>(1, steps.size()));
    Replay replay(steps, addressPackets);

    if (!repeats) {
        job.length = JobEstimate::Length::OnePass;
        job.passes = 1;
        replay.pass();
        takeTotals(job, replay, 1.0);
        return job;
    }
    if (job.getStrs > 0 && addressPackets) {
        job.length = JobEstimate::Length::Counted;
        job.passes = passesAllowed(addressPackets->size(), 0, job.getStrs);
        const qint64 replayed = std::min(job.passes, replayable);
        for (qint64 i = 0; i < replayed; ++i)
            replay.pass();
        takeTotals(job, replay, replayed > 0 ? double(job.passes) / double(replayed) : 1.0);
        return job;
    }
    // One pass once the queue has settled: once the line is as far ahead of
    // the run at the end of a pass as at the end of the one before, every
    // later pass takes as long.
    job.length = JobEstimate::Length::Endless;
    double lastAhead = -1;
    for (qint64 i = 0; i < std::min(kSettlingPasses, replayable); ++i) {
        const double waitBefore = replay.waitMs();
        const qint64 packetsBefore = replay.packets();
        job.seconds = replay.pass() / 1000.0;
        job.waitSeconds = (replay.waitMs() - waitBefore) / 1000.0;
        job.wireSeconds = double(replay.packets() - packetsBefore) * kPacketWireSeconds;
        const double ahead = replay.lineDoneMs() - replay.nowMs();
        if (i > 0 && std::abs(ahead - lastAhead) < 1e-6)
            break;
        lastAhead = ahead;
    }
    return job;
}
