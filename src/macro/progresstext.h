#pragma once

#include "macro/jobprogress.h"

#include <QString>

// The words quillonemu-cli run and the handsets window use for a job's
// progress. `nowMs` is the
// clock time (milliseconds since the epoch) the text is shown at.
namespace ProgressText {

// The counter as the status line on a terminal shows it: with the counter
// the job ends at, the share done and the end expected, "カウンタ 3/1,000
// （0.3%） | 終了予定 23:40（あと 2 時間 5 分）", or, for passes without end,
// with their rate, "カウンタ 3（毎時約 480 巡）".
QString counterField(const JobProgress &progress, double nowMs);
// The same for a job on many handsets, whose progress counts the passes
// done: "巡 12/200（6.0%） | 終了予定 …".
QString passesField(const JobProgress &progress, double nowMs);
// One line after each pass, elsewhere: "巡完了: カウンタ 1/1,000（0.1%）、
// この巡 7.5 秒、終了予定 23:40（あと 2 時間 5 分）".
QString passLine(const JobProgress &progress, double passMs, double nowMs);
// A clock time: "23:40", with the date when it is not today's: "11/3 0:40".
QString clockTime(double atMs, double nowMs);

} // namespace ProgressText
