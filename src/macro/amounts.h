#pragma once

#include <QString>

// How counts and lengths of time are written for the user: counts with
// thousands separators ("1,998"), durations in Japanese units, rounded to the
// unit that matters at their size ("35 秒", "1 分 12 秒", "4 時間 10 分",
// "2 日 3 時間"; below 10 seconds with one decimal, "2.4 秒").

QString formatCount(qint64 count);
QString formatDuration(double seconds);
