#pragma once

#include <QString>
#include <optional>

// A number of seconds as BASEWAIT and SLEEP take it: decimal digits with an
// optional sign and an optional point as decimal separator ("2", "0.5", ".5",
// "-1"), whatever the locale; surrounding white space is allowed. Anything
// else (a comma, an exponent, "inf") is no number.
std::optional<float> parseSeconds(const QString &text);
