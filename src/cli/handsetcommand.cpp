// quillonemu-cli handset: the virtual handset on a pseudo-terminal or a real
// serial port.

#include "console/arguments.h"
#include "cli/commands.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "platform/receivingline.h"
#include "handset/modelscreenoptions.h"
#include "screen/screenplugin.h"
#include "handset/virtualhandset.h"
#include "macro/seconds.h"
#include "platform/portnumber.h"
#include "platform/terminationsignals.h"

#include <QEventLoop>

namespace {

const QString kCommand = QStringLiteral("handset");
// The longest timeout a single timer can hold, rounded down.
constexpr int kLongestTimeoutSeconds = 1000000;

const QString kHelp = QStringLiteral(
    "使い方: quillonemu-cli handset (--pty [--link パス] | --device デバイス) [オプション...]\n"
    "\n"
    "仮想の携帯電話機です。届いたキーパケットを読み解き、1 パケットごとに到着時刻、\n"
    "600 ボー・偶数パリティの回線で届き終わる時刻、10 バイトとその意味（キー名、文字、\n"
    "不正なパケットならその理由）を表示します。パケットにならないバイトも報告し、\n"
    "次の C4 01 02 から読み直します。\n"
    "\n"
    "オプション:\n"
    "  --pty              仮想端末を作り、そのデバイスパスを表示します。送り手が設定した\n"
    "                     回線設定（600 ボー、8 ビット、ストップビット 1、フロー制御なし、\n"
    "                     出力の加工なし）を確かめ、違えば一度だけ警告します。\n"
    "  --link パス        （--pty と共に）パスを仮想端末へのシンボリックリンクにします。\n"
    "                     QUILLONEMU_COM<番号>=パス でポート番号をここへ向けられます。\n"
    "                     終わるときにリンクを消します。\n"
    "  --fast             （--pty と共に）届いたバイトをすぐに読みます。既定では実際の\n"
    "                     回線の速さ（1 バイト約 18.3 ミリ秒、1 秒に約 54.5 バイト）で読むので、\n"
    "                     送り手は実際の回線と同じく待たされます。\n"
    "  --device デバイス  実際のシリアルポートで受けます（600 ボー、偶数パリティ、8 ビット、\n"
    "                     ストップビット 1。折り返しケーブル用）。パリティエラーを報告します。\n"
    "  --json             1 件ごとに JSON オブジェクトを 1 行ずつ出力します。\n"
    "  --count N          パケットを N 個受けたら終わります。\n"
    "  --timeout 秒       この秒数がたったら終わります。\n"
    "\n"
    "画面のモデル（テストとデモ用。携帯電話機そのものではありません）:\n"
    "  --screen-stream [アドレス:]ポート\n"
    "                     QVGA の画面のモデル（最後のキー名の表示行と、最後の CLEAR から\n"
    "                     入力された文字）を MJPEG の HTTP ストリームで配信します\n"
    "                     （既定のアドレスは 127.0.0.1、ポート 0 なら空いているポート）。\n"
    "                     配信先の URL を表示します。\n"
    "  --screen-file ファイル\n"
    "                     同じ画面を、変わるたびに PNG で書きます（置き換えは一度に）。\n"
    "  --screen-delay 秒  パケットを受けてから画面が変わるまでの秒数です。\n"
    "  --screen-noise     配信する画面をカメラで撮ったようにします（明るさの揺れ、\n"
    "                     ノイズ、わずかなぼけ）。\n"
    "  --screen-camera    画面を、机の上の携帯電話機に向けたカメラで撮ったように見せます\n"
    "                     （1280x720 の中に本体と画面、台形のゆがみ、傾き、ぼけ、明るさの\n"
    "                     むら、ノイズ、JPEG。ゆっくり揺れ、時々ずれます）。\n"
    "  --screen-font 書体 画面をこの書体で描きます（既定は IPAGothic）。8 ドットの書体\n"
    "                     （MisakiGothic など）は、実機のように 1 ドットを 2〜4 画素で、\n"
    "                     なめらかにせずに描きます。\n"
    "  --popup-every N    ENTER を N 回受けるごとに、入力された文字の欄を覆うポップアップ\n"
    "                     「通信エラー」を出します。出ている間は CLEAR 以外のキーを\n"
    "                     受け付けず、CLEAR で消えます（文字も消えます）。画面の外れた\n"
    "                     巡を取り戻す仕組み（ONFAIL）を試すためのものです。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "Ctrl-C（SIGINT）か SIGTERM でも、出力の読み手が終わったとき（| head など）でも\n"
    "終わります。そのときまでに届いたバイトを表示してから終わります。受信の集計は\n"
    "標準エラー出力に出ます。\n"
    "\n"
    "終了ステータス:\n"
    "  0  正常に終わった（--count、--timeout、シグナル）\n"
    "  1  回線を開けなかったか、回線が失われた\n"
    "  2  使い方の誤り");

// The model screen's options; a usage error sets `status`.
std::optional<ModelScreenOptions> parseScreenOptions(const Arguments &args, int *status)
{
    ModelScreenOptions options;
    if (args.has(QStringLiteral("screen-stream"))) {
        const QString text = args.value(QStringLiteral("screen-stream"));
        const qsizetype colon = text.lastIndexOf(u':');
        const QString portText = colon < 0 ? text : text.mid(colon + 1);
        QString host = colon < 0 ? QString() : text.left(colon);
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        const std::optional<qint32> port = parseWholeNumber(portText);
        QHostAddress address(QHostAddress::LocalHost);
        if (!port || *port < 0 || *port > 65535 || (!host.isEmpty() && !address.setAddress(host))) {
            *status = usageError(kCommand, QStringLiteral("--screen-stream の値「%1」は [アドレス:]ポート（例: 8080、"
                                                          "127.0.0.1:8080）ではありません。")
                                               .arg(text));
            return std::nullopt;
        }
        options.stream = true;
        options.address = address;
        options.port = static_cast<quint16>(*port);
    }
    options.file = args.value(QStringLiteral("screen-file"));
    if (args.has(QStringLiteral("screen-delay"))) {
        const QString text = args.value(QStringLiteral("screen-delay"));
        const std::optional<float> seconds = parseSeconds(text);
        if (!seconds || *seconds < 0 || *seconds > 60) {
            *status = usageError(kCommand, QStringLiteral("--screen-delay の値「%1」は 0 から 60 までの秒数ではありません。").arg(text));
            return std::nullopt;
        }
        options.delaySeconds = *seconds;
    }
    options.noise = args.has(QStringLiteral("screen-noise"));
    options.camera = args.has(QStringLiteral("screen-camera"));
    options.fontFamily = args.value(QStringLiteral("screen-font"));
    if (args.has(QStringLiteral("popup-every"))) {
        const QString text = args.value(QStringLiteral("popup-every"));
        const std::optional<qint32> every = parseWholeNumber(text);
        if (!every || *every < 1) {
            *status = usageError(kCommand, QStringLiteral("--popup-every の値「%1」は 1 以上の整数ではありません。").arg(text));
            return std::nullopt;
        }
        options.popupEvery = *every;
    }
    return options;
}

} // namespace

int handsetCommand(const QStringList &arguments)
{
    int status = ExitStatus::Ok;
    const std::optional<Arguments> args = openCommand(
        kCommand, kHelp, arguments,
        {{QStringLiteral("pty")}, {QStringLiteral("link"), true}, {QStringLiteral("device"), true},
         {QStringLiteral("fast")},
         {QStringLiteral("json")}, {QStringLiteral("count"), true}, {QStringLiteral("timeout"), true},
         {QStringLiteral("screen-stream"), true}, {QStringLiteral("screen-file"), true},
         {QStringLiteral("screen-delay"), true}, {QStringLiteral("screen-noise")},
         {QStringLiteral("screen-camera")}, {QStringLiteral("screen-font"), true},
         {QStringLiteral("popup-every"), true}},
        0, QString(), &status);
    if (!args)
        return status;
    const bool pty = args->has(QStringLiteral("pty"));
    const bool device = args->has(QStringLiteral("device"));
    if (pty == device)
        return usageError(kCommand, QStringLiteral("--pty と --device のどちらか一方を指定してください。"));
    for (const char *name : {"link", "fast"}) {
        if (device && args->has(name))
            return usageError(kCommand, QStringLiteral("--%1 は --pty と共にだけ使えます。").arg(QLatin1String(name)));
    }

    VirtualHandset::Options options;
    options.json = args->has(QStringLiteral("json"));
    options.fast = args->has(QStringLiteral("fast"));
    if (args->has(QStringLiteral("count"))) {
        const QString text = args->value(QStringLiteral("count"));
        const std::optional<qint32> count = parseWholeNumber(text);
        if (!count || *count < 1)
            return usageError(kCommand, QStringLiteral("--count の値「%1」は 1 以上の整数ではありません。").arg(text));
        options.count = *count;
    }
    if (args->has(QStringLiteral("timeout"))) {
        const QString text = args->value(QStringLiteral("timeout"));
        const std::optional<float> seconds = parseSeconds(text);
        if (!seconds || *seconds <= 0 || *seconds > kLongestTimeoutSeconds) {
            return usageError(kCommand, QStringLiteral("--timeout の値「%1」は 0 より大きく %2 以下の秒数ではありません（例: 2.5）。")
                                            .arg(text, QString::number(kLongestTimeoutSeconds)));
        }
        options.timeoutSeconds = *seconds;
    }

    std::optional<ModelScreenOptions> screen;
    if (args->has(QStringLiteral("screen-stream")) || args->has(QStringLiteral("screen-file"))) {
        screen = parseScreenOptions(*args, &status);
        if (!screen)
            return status;
    } else {
        for (const char *name : {"screen-delay", "screen-noise", "screen-camera", "screen-font", "popup-every"}) {
            if (args->has(name))
                return usageError(kCommand, QStringLiteral("--%1 は --screen-stream か --screen-file と共にだけ使えます。")
                                                .arg(QLatin1String(name)));
        }
    }

    // Signals are caught before the link exists, so that they never leave
    // it behind.
    TerminationSignals terminations;
    ReceivingLine line;
    const bool opened = pty ? line.openPseudoTerminal(args->value(QStringLiteral("link")))
                            : line.openDevice(args->value(QStringLiteral("device")));
    if (!opened) {
        Console::report(kCommand, line.errorText());
        return ExitStatus::Failed;
    }

    VirtualHandset handset(line, options);
    if (screen) {
        QString error;
        quint16 port = 0;
        QObject *model = ScreenPlugin::modelScreen(*screen, &port, &error, &handset);
        if (!model) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
        QObject::connect(&handset, SIGNAL(packetReceived(DecodedPacket)), model, SLOT(take(DecodedPacket)));
        if (screen->stream) {
            Console::err(QStringLiteral("画面のモデルの配信: http://%1:%2/")
                             .arg(screen->address.protocol() == QAbstractSocket::IPv6Protocol
                                      ? QStringLiteral("[%1]").arg(screen->address.toString())
                                      : screen->address.toString())
                             .arg(port));
        }
    }
    QObject::connect(&terminations, &TerminationSignals::received, &handset, &VirtualHandset::stop);
    QEventLoop loop;
    QObject::connect(&handset, &VirtualHandset::finished, &loop, &QEventLoop::exit, Qt::QueuedConnection);
    handset.start();
    return loop.exec();
}
