// quillonemu-cli send: keys pressed and text typed from the command line,
// through the same link and text sending as a run.

#include "console/arguments.h"
#include "cli/commands.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "link/keytable.h"
#include "link/seriallink.h"
#include "link/textsender.h"
#include "macro/characters.h"
#include "macro/statement.h"
#include "platform/terminationsignals.h"

namespace {

const QString kCommand = QStringLiteral("send");

const QString kHelp = QStringLiteral(
    "使い方: quillonemu-cli send --port 番号 [キー名...] [--text 文字列]...\n"
    "\n"
    "携帯電話機のキーを押し、文字列を入力します。キー名はマクロと同じです（UP、&ENTER、\n"
    "OFFOOK、&OFFHOOK、0〜9、#、* など。a〜z は A〜Z と同じで、up も使えます）。\n"
    "--text の文字列は STRING と同じく 2 バイト文字も入力します。キー名と --text は\n"
    "いくつでも、コマンドラインの順に送ります。送ったバイトがすべてポートから出てから\n"
    "ポートを閉じます。不明なキー名や入力できない文字があるときは何も送りません。\n"
    "1 パケットは回線で約 0.183 秒かかるので、長い文字列は回線の速さに合わせて送ります。\n"
    "Ctrl-C（SIGINT）、SIGTERM、SIGHUP ではパケットの切れ目で止まります（回線に渡した\n"
    "パケットは届け、残りは送りません）。\n"
    "\n"
    "オプション:\n"
    "  --port 番号        ポート番号（必須）。デバイスは QUILLONEMU_COM<番号> で指定できます。\n"
    "  --text 文字列      この文字列を入力します。何回でも指定できます。\n"
    "  --                 これより後はすべてキー名です。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "例: quillonemu-cli send --port 1 mail down enter --text こんにちは '&enter'\n"
    "\n"
    "終了ステータス:\n"
    "  0  すべて送った\n"
    "  1  ポートを開けなかったか、書き込めなかった\n"
    "  2  使い方の誤り（不明なキー名、入力できない文字を含む）\n"
    "  130  シグナルで途中で止まった");

// A word is a key name; --text gives a text.
bool isText(const Arguments::Item &item)
{
    return item.option == QLatin1String("text");
}

// Finds what the command line cannot send; empty when everything can go.
QString unsendable(const QList<Arguments::Item> &items)
{
    QStringList unknownKeys;
    QStringList untypable;
    for (const Arguments::Item &item : items) {
        if (!isText(item) && !KeyTable::find(upperCaseKeyword(item.value)) && !unknownKeys.contains(item.value))
            unknownKeys.append(item.value);
        if (isText(item)) {
            for (const QString &c : untypableCharacters(item.value)) {
                if (!untypable.contains(c))
                    untypable.append(c);
            }
        }
    }
    QStringList problems;
    if (!unknownKeys.isEmpty())
        problems.append(QStringLiteral("不明なキー名「%1」があります（キー名はマクロと同じ: UP、&ENTER、0〜9、#、* など）。")
                            .arg(unknownKeys.join(QStringLiteral("」「"))));
    if (!untypable.isEmpty())
        problems.append(QStringLiteral("--text の%1は入力できません。").arg(describeCharacters(untypable)));
    if (problems.isEmpty())
        return {};
    return problems.join(QString()) + QStringLiteral("何も送っていません。");
}

} // namespace

int sendCommand(const QStringList &arguments)
{
    int status = ExitStatus::Ok;
    const std::optional<Arguments> args =
        openCommand(kCommand, kHelp, arguments, {{QStringLiteral("port"), true}, {QStringLiteral("text"), true}}, -1,
                    QString(), &status);
    if (!args)
        return status;
    const std::optional<QString> portText = requiredPort(kCommand, *args, &status);
    if (!portText)
        return status;
    const QString port = *portText;
    QList<Arguments::Item> items;
    for (const Arguments::Item &item : args->items) {
        if (item.option.isEmpty() || isText(item))
            items.append(item);
    }
    if (items.isEmpty())
        return usageError(kCommand, QStringLiteral("送るキー名も --text もありません。"));
    if (const QString problem = unsendable(items); !problem.isEmpty())
        return usageError(kCommand, problem);

    SerialLink link([&port] { return port; });
    QString failure;
    int packets = 0;
    QObject::connect(&link, &SerialLink::failed, [&failure](const QString &message) { failure = message; });
    QObject::connect(&link, &SerialLink::packetSent, [&packets] { ++packets; });
    // A signal, seen while a send waits for the line, closes the port
    // between two packets: what was handed over arrives, the rest is not
    // sent.
    TerminationSignals terminations;
    bool handedOver = false;
    bool cut = false;
    QObject::connect(&terminations, &TerminationSignals::received, &link, [&] {
        cut = cut || !handedOver;
        if (!link.ClosePort() && failure.isEmpty())
            failure = link.errorText();
    });
    if (!link.OpenPort()) {
        Console::report(kCommand, link.errorText());
        return ExitStatus::Failed;
    }
    TextSender text(link);
    for (const Arguments::Item &item : items) {
        if (isText(item))
            text.SendString(item.value);
        else
            link.SendPacket(*KeyTable::find(upperCaseKeyword(item.value)));
        if (!failure.isEmpty() || !link.isOpen())
            break;
    }
    handedOver = true;
    if (!link.ClosePort() && failure.isEmpty())
        failure = link.errorText();
    if (!failure.isEmpty()) {
        Console::report(kCommand, QStringLiteral("%1（送ったパケット %2 個）").arg(failure, QString::number(packets)));
        return ExitStatus::Failed;
    }
    if (cut) {
        Console::report(kCommand, QStringLiteral("シグナルで止めました。ポート %1 (%2) に送ったパケットは %3 個です（残りは送っていません）。")
                                      .arg(port, link.port().devicePath(), QString::number(packets)));
        return ExitStatus::Interrupted;
    }
    Console::out(QStringLiteral("ポート %1 (%2) に %3 パケットを送りました。")
                     .arg(port, link.port().devicePath(), QString::number(packets)));
    return ExitStatus::Ok;
}
