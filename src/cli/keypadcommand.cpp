// quillonemu-cli keypad: the keypad in a terminal, for handsets reached where
// no window can open (over SSH, say); it can record what it sent as a macro.

#include "console/arguments.h"
#include "cli/commands.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "cli/keypadkeymap.h"
#include "cli/terminalkeypad.h"
#include "link/seriallink.h"
#include "macro/macrorecorder.h"
#include "macro/seconds.h"
#include "platform/terminal.h"
#include "platform/terminationsignals.h"
#include "platform/waiter.h"

#include <QEventLoop>
#include <cmath>

namespace {

const QString kCommand = QStringLiteral("keypad");

// The longest base wait a recording takes, in seconds.
constexpr double kLongestBaseWait = 60;

const QString kHelp = QStringLiteral(
    "使い方: quillonemu-cli keypad --port 番号 [--record ファイル] [--base-wait 秒]\n"
    "\n"
    "端末をキーボードウィンドウの代わりにします。ウィンドウの開けない SSH の先でも\n"
    "使えます。キーボードウィンドウの接続ボタンと同じようにポートを開き、キー配置を\n"
    "表示します。あとはキーを押すたびに、そのキーをすぐに送ります:\n"
    "  矢印キー       UP、DOWN、LEFT、RIGHT\n"
    "  Enter          ENTER\n"
    "  Backspace      CLEAR（Delete も CLEAR）\n"
    "  0〜9、#、*     そのキー（- は #。テンキーのとおり）\n"
    "  F1〜F10        F1〜F10\n"
    "  Home、End、PageUp、PageDown、Insert\n"
    "                 FUNCTION、OFFOOK、EZ、ONHOOK、MAIL（文字入力ウィンドウと同じ）\n"
    "  l c r          L、C、R\n"
    "  a h i          ADDRESS（ア帳）、CALL（発信）、INCOMING（着信）\n"
    "  m e k          MAIL（メール）、EZ、FUNCTION（機能）\n"
    "  f n            OFFOOK（OFF）、ONHOOK（ON）\n"
    "  & とキー       そのキーのアンパサンド形（&UP、&OFFHOOK など）\n"
    "  Tab            1 行の文字列入力。Enter で STRING と同じく 2 バイト文字も\n"
    "                 打ちます（空のまま Enter なら ENTER）。Esc で取り消します。\n"
    "  Ctrl-D         終わります（それまでに押したキーをすべて送ってから）。\n"
    "  Ctrl-C         すぐに終わります（送っている文字列は文字の切れ目で止めます）。\n"
    "SIGTERM、SIGHUP でも Ctrl-C と同じく終わります。どの終わり方でも、端末を\n"
    "元に戻し、送ったパケットをすべて回線に届けてからポートを閉じ、記録を書きます。\n"
    "長い文字列を送っている間に押したキーは、文字列のあとに順に送ります。\n"
    "\n"
    "オプション:\n"
    "  --port 番号        ポート番号（必須）。デバイスは QUILLONEMU_COM<番号> で\n"
    "                     指定できます。\n"
    "  --record ファイル  送ったキーと文字列をマクロファイルに記録します\n"
    "                     （Shift-JIS、CR LF）。1 行目は BASEWAIT、キー 1 つに 1 行、\n"
    "                     文字列は STRING、基本の待ちより長く間をあけた所には\n"
    "                     SLEEP が入ります。run でそのまま再生できます。ファイルは\n"
    "                     終わったときに丸ごと書きます（書きかけにはなりません）。\n"
    "  --base-wait 秒     記録の BASEWAIT（既定 0.2）。--record と一緒に使います。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "例: quillonemu-cli keypad --port 1 --record mail.txt\n"
    "    quillonemu-cli run mail.txt --port 1\n"
    "\n"
    "終了ステータス:\n"
    "  0  Ctrl-D、Ctrl-C、SIGTERM、SIGHUP で終わった\n"
    "  1  ポートを開けなかったか書き込めなかった、または記録ファイルを書けなかった\n"
    "  2  使い方の誤り（標準入力が端末でないときを含む）");

// The base wait of --base-wait in milliseconds, or no value with `*error`
// set.
std::optional<int> baseWaitMs(const Arguments &args, QString *error)
{
    if (!args.has(QStringLiteral("base-wait")))
        return MacroRecorder::kDefaultBaseWaitMs;
    const QString text = args.value(QStringLiteral("base-wait"));
    if (!args.has(QStringLiteral("record"))) {
        *error = QStringLiteral("--base-wait は --record と一緒に指定してください。");
        return std::nullopt;
    }
    const std::optional<float> seconds = parseSeconds(text);
    if (!seconds || *seconds < 0 || *seconds > kLongestBaseWait) {
        *error = QStringLiteral("--base-wait の値「%1」は 0〜%2 の秒数ではありません。").arg(text, QString::number(kLongestBaseWait));
        return std::nullopt;
    }
    return static_cast<int>(std::lround(*seconds * 1000.0));
}

// The recording written to `path`; false when it could not be, after the
// message and the macro itself have been shown, so that nothing is lost.
bool writeRecording(const MacroRecorder &recorder, const QString &path)
{
    QString error;
    if (recorder.write(path, &error)) {
        Console::out(QStringLiteral("記録ファイル「%1」にキーと文字列 %2 個を書きました。").arg(path, QString::number(recorder.size())));
        return true;
    }
    Console::report(kCommand, error);
    Console::err(QStringLiteral("記録した内容は次のとおりです:"));
    Console::out(recorder.lines().join(u'\n'));
    return false;
}

} // namespace

int keypadCommand(const QStringList &arguments)
{
    int status = ExitStatus::Ok;
    const std::optional<Arguments> args = openCommand(
        kCommand, kHelp, arguments,
        {{QStringLiteral("port"), true}, {QStringLiteral("record"), true}, {QStringLiteral("base-wait"), true}}, 0,
        QString(), &status);
    if (!args)
        return status;
    const std::optional<QString> portText = requiredPort(kCommand, *args, &status);
    if (!portText)
        return status;
    const QString port = *portText;
    QString error;
    const std::optional<int> baseWait = baseWaitMs(*args, &error);
    if (!baseWait)
        return usageError(kCommand, error);
    if (!Terminal::standardInputIsTerminal())
        return usageError(kCommand, QStringLiteral("標準入力が端末ではありません。keypad は押されたキーを端末から 1 つずつ読みます。"));
    const QString recordPath = args->value(QStringLiteral("record"));
    const bool recording = args->has(QStringLiteral("record"));
    if (recording && !MacroRecorder::canWrite(recordPath, &error)) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }

    // From here on a signal ends the session in order.
    TerminationSignals terminations;
    EventLoopWaiter clock;
    SerialLink link([&port] { return port; }, &clock);
    if (!link.OpenPort()) {
        Console::report(kCommand, link.errorText());
        return ExitStatus::Failed;
    }
    MacroRecorder recorder(*baseWait);
    TerminalKeypad keypad(link, clock, recording ? &recorder : nullptr);
    TerminalInput input;
    QString failure;
    QEventLoop loop;
    QObject::connect(&input, &TerminalInput::received, &keypad, &TerminalKeypad::type);
    QObject::connect(&input, &TerminalInput::closed, &keypad, &TerminalKeypad::stop);
    QObject::connect(&terminations, &TerminationSignals::received, &keypad, &TerminalKeypad::stop);
    QObject::connect(&link, &SerialLink::failed, &keypad, [&](const QString &message) {
        failure = message;
        keypad.stop();
    });
    QObject::connect(&keypad, &TerminalKeypad::finished, &loop, &QEventLoop::quit);
    if (!input.start()) {
        link.ClosePort();
        return usageError(kCommand, QStringLiteral("端末を 1 キーずつ読む設定にできません。"));
    }

    Console::out(QStringLiteral("ポート %1 (%2) を開きました。").arg(port, link.port().devicePath()));
    if (recording)
        Console::out(QStringLiteral("記録中: 「%1」（BASEWAIT %2 秒）").arg(recordPath, QString::number(*baseWait / 1000.0)));
    for (const QString &line : keyMapLines())
        Console::out(line);
    keypad.showStatus();
    if (!keypad.hasEnded())
        loop.exec();

    // The end: the terminal as it was, the recording, then the port once the
    // line has carried everything sent.
    input.restore();
    Console::writeOut(QStringLiteral("\n"));
    bool ok = failure.isEmpty();
    if (recording)
        ok = writeRecording(recorder, recordPath) && ok;
    if (link.isOpen() && link.port().pendingBytes() > 0)
        Console::out(QStringLiteral("回線に残っているパケットを送っています…"));
    if (!link.ClosePort() && failure.isEmpty())
        failure = link.errorText();
    if (!failure.isEmpty()) {
        Console::report(kCommand, failure);
        ok = false;
    }
    Console::out(QStringLiteral("ポート %1 (%2) に %3 パケットを送りました。")
                     .arg(port, link.port().devicePath(), QString::number(keypad.packetsSent())));
    return ok ? ExitStatus::Ok : ExitStatus::Failed;
}
