// A macro line, as Shift-JIS bytes, to a statement.

#include "fuzzcheck.h"
#include "link/keytable.h"
#include "macro/seconds.h"
#include "macro/statement.h"
#include "platform/cp932.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString line = decodeCp932(QByteArrayView(data, static_cast<qsizetype>(size)));
    const Statement st = parseStatement(line);
    const QStringList words = splitWords(line);

    FUZZ_CHECK(!words.isEmpty());
    FUZZ_CHECK(st.keyword == upperCaseKeyword(words[0]));
    FUZZ_CHECK(st.argument.has_value() == (words.size() > 1));
    if (st.argument)
        FUZZ_CHECK(*st.argument == words[1]);
    FUZZ_CHECK(words.join(u' ') == line);
    if (st.kind == Statement::Kind::Key)
        FUZZ_CHECK(KeyTable::find(st.keyword) == st.packet);
    else if (st.kind == Statement::Kind::None)
        FUZZ_CHECK(!KeyTable::find(st.keyword) && !controlKeywords().contains(st.keyword));
    // The typed argument agrees with word 1, and only the three statements
    // that need one can lack it.
    const bool needsArgument = st.kind == Statement::Kind::BaseWait || st.kind == Statement::Kind::Sleep ||
                               st.kind == Statement::Kind::PortNo;
    // The screen's statements take word 1 as their file or source, the
    // waits word 2 as seconds (at least 0) and word 3 as a level from 0 to 1.
    const bool screen = st.kind == Statement::Kind::Screen || st.kind == Statement::Kind::Snapshot || st.isScreenWait();
    FUZZ_CHECK(needsArgument || screen || st.isValid());
    if (screen) {
        FUZZ_CHECK((st.problem == Statement::Problem::Missing) == !st.argument);
        if (st.isValid())
            FUZZ_CHECK(st.text == *st.argument && !st.text.isEmpty());
        if (st.isValid() && st.isScreenWait()) {
            FUZZ_CHECK(st.seconds >= 0 && st.seconds == st.seconds);
            FUZZ_CHECK(st.level >= 0 && st.level <= 1);
            FUZZ_CHECK(words.size() > 3 || st.level == Statement::kDefaultLevel);
        }
    }
    if (needsArgument) {
        FUZZ_CHECK((st.problem == Statement::Problem::Missing) == !st.argument);
        FUZZ_CHECK((st.problem == Statement::Problem::Empty) == (st.argument && st.argument->isEmpty()));
    }
    if (st.isValid() && st.kind != Statement::Kind::PortNo && needsArgument) {
        const std::optional<float> seconds = parseSeconds(*st.argument);
        FUZZ_CHECK(seconds && *seconds == st.seconds && st.seconds == st.seconds); // never NaN
    }
    if (st.kind == Statement::Kind::String)
        FUZZ_CHECK(st.text == st.argument.value_or(QString()));
    return 0;
}
