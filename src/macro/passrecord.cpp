#include "macro/passrecord.h"

namespace {
struct Name {
    PassRecord::Result result;
    const char *name;
};
constexpr Name kNames[] = {
    {PassRecord::Result::Ok, "ok"},
    {PassRecord::Result::Failed, "failed"},
    {PassRecord::Result::OkAfterRetry, "ok-after-retry"},
    {PassRecord::Result::Stopped, "stopped"},
    {PassRecord::Result::NotDelivered, "not-delivered"},
};
} // namespace

QString resultName(PassRecord::Result result)
{
    for (const Name &n : kNames) {
        if (n.result == result)
            return QString::fromLatin1(n.name);
    }
    return QString();
}

std::optional<PassRecord::Result> resultFromName(const QString &name)
{
    for (const Name &n : kNames) {
        if (name == QLatin1String(n.name))
            return n.result;
    }
    return std::nullopt;
}
