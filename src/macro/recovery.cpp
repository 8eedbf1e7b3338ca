#include "macro/recovery.h"

#include "macro/filelines.h"
#include "macro/jobestimate.h"
#include "macro/runmessages.h"
#include "macro/statement.h"

#include <QDir>
#include <QFileInfo>

using Kind = Statement::Kind;

bool allowedInRecovery(int kind)
{
    switch (Kind(kind)) {
    case Kind::GetStr:
    case Kind::SendStr:
    case Kind::Repeat:
    case Kind::Exit:
    case Kind::OnFail:
    case Kind::PortNo:
        return false;
    default:
        return true;
    }
}

RecoveryPlan readRecoveryPlan(const QString &macroPath)
{
    RecoveryPlan plan;
    const FileLines macro = readFileLines(macroPath);
    if (macro.failed)
        return plan;
    plan.getStrs = passShape(macro.lines).getStrs;
    qint64 firstKey = 0;
    for (qsizetype i = 0; i < macro.lines.size(); ++i) {
        const Statement st = parseStatement(macro.lines[i]);
        const qint64 line = i + 1;
        if (st.kind == Kind::Screen)
            plan.macroOpensScreen = true;
        if (st.sendsKeys() && firstKey == 0)
            firstKey = line;
        if (st.kind != Kind::OnFail)
            continue;
        const auto problem = [&](const QString &reason) { plan.problems.append({macroPath, line, st.keyword, reason}); };
        if (!st.isValid()) {
            problem(RunMessages::argumentProblem(st));
        } else if (plan.line > 0) {
            problem(QStringLiteral("ONFAIL は 1 つのマクロに 1 つだけです（%1 行目にもあります）。").arg(plan.line));
        } else if (firstKey > 0) {
            problem(QStringLiteral("ONFAIL は最初のキーより前に書いてください（%1 行目でキーを送っています）。").arg(firstKey));
        } else {
            plan.line = line;
            plan.written = st.text;
            plan.retries = st.retries;
            plan.path = QDir::isAbsolutePath(st.text) ? st.text : QFileInfo(macroPath).dir().filePath(st.text);
        }
    }
    if (plan.path.isEmpty())
        return plan;

    const auto refuse = [&](const QString &reason) {
        plan.problems.append({macroPath, plan.line, QStringLiteral("ONFAIL"), reason});
    };
    const QFileInfo recoveryInfo(plan.path);
    if (recoveryInfo.exists() && recoveryInfo.canonicalFilePath() == QFileInfo(macroPath).canonicalFilePath()) {
        refuse(QStringLiteral("ONFAIL: 回復マクロ「%1」はこのマクロ自身です。巡の始めに戻すキーだけを書いた別のファイルを指定してください。")
                   .arg(plan.written));
        return plan;
    }
    const FileLines recovery = readFileLines(plan.path);
    if (recovery.failed) {
        refuse(QStringLiteral("ONFAIL: 回復マクロ「%1」を読めません: %2。").arg(plan.path, recovery.reason));
        return plan;
    }
    for (qsizetype i = 0; i < recovery.lines.size(); ++i) {
        if (recovery.lines[i].isEmpty())
            continue;
        const Statement st = parseStatement(recovery.lines[i]);
        if (!allowedInRecovery(int(st.kind))) {
            plan.problems.append({plan.path, i + 1, st.keyword,
                                  QStringLiteral("%1 は回復マクロでは使えません（使えるのはキー、STRING、SLEEP、BASEWAIT と"
                                                 "画面の文です）。")
                                      .arg(st.keyword)});
        }
    }
    return plan;
}
