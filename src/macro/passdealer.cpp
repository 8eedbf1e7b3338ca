#include "macro/passdealer.h"

#include <algorithm>
#include <limits>

PassDealer::PassDealer(qint32 first, std::optional<qint32> last, const QSet<qint32> &done, int takers)
    : next_(first), last_(last), done_(done), takers_(std::max(1, takers), State::Doing)
{
    if (last_) {
        total_ = std::max<qint64>(0, qint64(*last_) - first + 1);
        for (const qint32 counter : done_)
            total_ -= counter >= first && counter <= *last_ ? 1 : 0;
    }
}

PassDealer::Deal PassDealer::take(int taker, bool drained)
{
    const std::lock_guard lock(mutex_);
    doing_.remove(taker);
    if (closed_ || takers_.value(taker, State::Left) == State::Left)
        return {};
    const auto deal = [&](qint32 counter) {
        doing_.insert(taker, counter);
        takers_[taker] = State::Doing;
        return Deal{counter, false};
    };
    if (!givenBack_.isEmpty())
        return deal(givenBack_.takeFirst());
    while (next_ <= std::numeric_limits<qint32>::max() && (!last_ || next_ <= *last_)) {
        const auto counter = static_cast<qint32>(next_++);
        if (!done_.contains(counter))
            return deal(counter);
    }
    // A taker whose line still carries its last passes may yet lose them
    // and give them back; one that is done with its line gives nothing back.
    takers_[taker] = drained ? State::Idle : State::Busy;
    const bool othersBusy =
        std::any_of(takers_.begin(), takers_.end(), [](State s) { return s == State::Doing || s == State::Busy; });
    if (drained && !othersBusy)
        return {};
    return Deal{std::nullopt, true};
}

QList<qint32> PassDealer::leave(int taker, const QList<qint32> &cut)
{
    const std::lock_guard lock(mutex_);
    QList<qint32> back = cut;
    if (const auto it = doing_.constFind(taker); it != doing_.cend())
        back.append(*it);
    doing_.remove(taker);
    if (taker >= 0 && taker < takers_.size())
        takers_[taker] = State::Left;
    std::sort(back.begin(), back.end());
    back.erase(std::unique(back.begin(), back.end()), back.end());
    for (const qint32 counter : back) {
        if (!givenBack_.contains(counter))
            givenBack_.append(counter);
    }
    std::sort(givenBack_.begin(), givenBack_.end());
    return back;
}

void PassDealer::close()
{
    const std::lock_guard lock(mutex_);
    closed_ = true;
}

qint64 PassDealer::waiting() const
{
    const std::lock_guard lock(mutex_);
    if (!last_)
        return -1;
    qint64 count = givenBack_.size();
    for (qint64 c = next_; c <= *last_; ++c)
        count += done_.contains(static_cast<qint32>(c)) ? 0 : 1;
    return count;
}

std::optional<PassRange> parsePassRange(const QString &text, QString *error)
{
    const QString bad = QStringLiteral("--passes「%1」は巡の範囲ではありません（1 から数えた巡の番号で「開始-終了」、"
                                       "例えば 1-100。終わりを省くと最後の巡まで: 101-）。")
                            .arg(text);
    const qsizetype dash = text.indexOf(u'-');
    const QString fromText = (dash < 0 ? text : text.left(dash)).trimmed();
    const QString toText = dash < 0 ? fromText : text.mid(dash + 1).trimmed();
    bool fromOk = false;
    const qint64 from = fromText.toLongLong(&fromOk);
    bool toOk = toText.isEmpty();
    const qint64 to = toOk ? 0 : toText.toLongLong(&toOk);
    const qint64 most = qint64(std::numeric_limits<qint32>::max()) + 1;
    if (!fromOk || !toOk || from < 1 || from > most || (!toText.isEmpty() && (to < from || to > most)) ||
        fromText.startsWith(u'+')) {
        *error = bad;
        return std::nullopt;
    }
    PassRange range;
    range.firstCounter = static_cast<qint32>(from - 1);
    if (!toText.isEmpty())
        range.lastCounter = static_cast<qint32>(to - 1);
    return range;
}
