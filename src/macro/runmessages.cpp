#include "macro/runmessages.h"

#include "macro/statement.h"
#include "platform/systemreason.h"

namespace RunMessages {

QString noMacroFile()
{
    return QStringLiteral("マクロファイルが指定されていません。");
}

QString macroFileOpen(const QString &path, const QString &reason)
{
    return QStringLiteral("マクロファイル「%1」を開けません。\n%2").arg(path, SystemReason::asLine(reason));
}

QString macroFileReopen(const QString &path, const QString &reason)
{
    return QStringLiteral("REPEAT でマクロファイル「%1」を開き直せません。\n%2").arg(path, SystemReason::asLine(reason));
}

QString macroFileRead(const QString &path, const QString &reason)
{
    return QStringLiteral("マクロファイル「%1」を読めません。\n%2").arg(path, SystemReason::asLine(reason));
}

QString addrFileOpen(const QString &path, const QString &reason)
{
    return QStringLiteral("アドレスファイル「%1」を開けません。\n%2").arg(path, SystemReason::asLine(reason));
}

QString addrFileRead(const QString &path, const QString &reason)
{
    return QStringLiteral("アドレスファイル「%1」を読めません。\n%2").arg(path, SystemReason::asLine(reason));
}

QString addrFileShorterThanCounter(const QString &path, qint64 lines, qint64 counter)
{
    return QStringLiteral("アドレスファイル「%1」は %2 行しかないため、カウンタ %3 の分の行を読み飛ばせません。\n"
                          "カウンタかアドレスファイルを直してから実行してください。")
        .arg(path, QString::number(lines), QString::number(counter));
}

QString badCounter(const QString &text)
{
    return QStringLiteral("カウンタ「%1」は整数ではありません。\n"
                          "-2147483648 から 2147483647 までの整数を入れてください。")
        .arg(text);
}

QString counterFull()
{
    return QStringLiteral("カウンタが上限の 2147483647 に達しました。");
}

QString atLine(const QString &path, qint64 line, const QString &keyword, const QString &text)
{
    // The first line names the statement: a reason that begins with its
    // keyword (as the command line prints it) does not name it again.
    const QString lead = keyword + QStringLiteral(": ");
    const QString reason = !keyword.isEmpty() && text.startsWith(lead) ? text.mid(lead.size()) : text;
    return QStringLiteral("マクロファイル「%1」の %2 行目 (%3):\n%4").arg(path, QString::number(line), keyword, reason);
}

QString argumentProblem(const Statement &st)
{
    if (st.kind == Statement::Kind::OnFail) {
        if (st.problem == Statement::Problem::NotARetry)
            return QStringLiteral("ONFAIL の RETRY の後ろに 1 から 100 までの回数がありません（例: ONFAIL %1 RETRY 1）。").arg(st.text);
        return QStringLiteral("ONFAIL の回復マクロのファイル名がありません（例: ONFAIL recover.txt）。");
    }
    if (st.kind == Statement::Kind::Display) {
        if (st.problem == Statement::Problem::NotADisplay)
            return QStringLiteral("DISPLAY: %1").arg(st.displayProblem);
        return QStringLiteral("DISPLAY の画面の位置がありません（例: DISPLAY AUTO、DISPLAY WHOLE、"
                              "DISPLAY 412,96 868,104 860,440 404,432 320x240）。");
    }
    if (st.kind == Statement::Kind::Screen || st.kind == Statement::Kind::Snapshot || st.isScreenWait() ||
        st.readsText())
        return screenArgumentProblem(st);
    const bool port = st.kind == Statement::Kind::PortNo;
    if (st.problem == Statement::Problem::Missing) {
        return port ? QStringLiteral("PORTNO のポート番号がありません。")
                    : QStringLiteral("%1 の秒数がありません。").arg(st.keyword);
    }
    const QString argument = st.argument.value_or(QString());
    return port ? QStringLiteral("PORTNO のポート番号「%1」は整数ではありません。").arg(argument)
                : QStringLiteral("%1 の秒数「%2」は数値ではありません（例: 0.5）。").arg(st.keyword, argument);
}

QString screenArgumentProblem(const Statement &st)
{
    const QString what = st.kind == Statement::Kind::Screen     ? QStringLiteral("画面の取り込み元")
                         : st.kind == Statement::Kind::WaitText ? QStringLiteral("待つ文字列")
                                                                : QStringLiteral("ファイル名");
    switch (st.problem) {
    case Statement::Problem::Missing:
        return QStringLiteral("%1 の%2がありません。").arg(st.keyword, what);
    case Statement::Problem::Empty:
        return QStringLiteral("%1 の%2が空です（キーワードの後の空白が 2 つあります）。").arg(st.keyword, what);
    case Statement::Problem::NoSeconds:
        return QStringLiteral("%1 の秒数がないか、0 以上の数値ではありません（例: %1 %2 10）。").arg(st.keyword, st.text);
    case Statement::Problem::NotALevel:
        return QStringLiteral("%1 の類似度（秒数の次の語）が 0 から 1 までの数値ではありません（例: %1 %2 10 0.8）。")
            .arg(st.keyword, st.text);
    case Statement::Problem::NotARegion:
        return QStringLiteral("%1 の範囲が「x,y,幅,高さ」の 4 つの整数ではありません（例: %2 0,28,320,212）。")
            .arg(st.keyword,
                 st.kind == Statement::Kind::WaitText ? QStringLiteral("WAITTEXT %1 10").arg(st.text)
                                                      : QStringLiteral("READTEXT %1").arg(st.text));
    default:
        return QString();
    }
}

QString addrFileEnded(const QString &path, qint64 addrLine)
{
    return QStringLiteral("GETSTR: アドレスファイル「%1」に %2 行目がありません（ファイルの終わりです）。")
        .arg(path, QString::number(addrLine));
}

QString getStrWithoutAddrFile(const QString &path)
{
    return QStringLiteral("GETSTR: この実行の開始時にはアドレスファイルがなかったため、読めません。\n"
                          "アドレスファイル「%1」は次の実行から使われます。")
        .arg(path);
}

} // namespace RunMessages
