// quillonemu-cli screen: the cameras the system lists, a frame of any source
// saved, a picture looked for in it, and its text read.

#include "console/arguments.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "macro/characters.h"
#include "macro/statement.h"
#include "macro/seconds.h"
#include "screen/cameras.h"
#include "screen/screencommand.h"
#include "screen/framesource.h"
#include "screen/matcher.h"
#include "screen/screenfiles.h"
#include "screen/displayfinder.h"
#include "screen/screensession.h"
#include "screen/stillcut.h"
#include "screen/textreader.h"

#include <QRegularExpression>

namespace {

const QString kCommand = QStringLiteral("screen");
// How long the first frame of a source is waited for.
constexpr int kFirstFrameMs = 10000;
// A template cut with --crop is the mean of kStillFrames frames at most (as
// the screen window cuts one), each within this long of the one before.
constexpr int kNextFrameMs = 500;

const QString kHelp = QStringLiteral(
    "使い方: quillonemu-cli screen --list\n"
    "        quillonemu-cli screen 取り込み元 --snapshot ファイル [--crop X,Y,幅,高さ]\n"
    "        quillonemu-cli screen 取り込み元 --find 画像ファイル [--level 類似度]\n"
    "        quillonemu-cli screen 取り込み元 --read [--region X,Y,幅,高さ]\n"
    "\n"
    "携帯電話機の画面を映す取り込み元を調べます。取り込み元は run の --screen と同じく\n"
    "camera、camera:番号、camera:名前の一部、http://…、https://…、rtsp://…、\n"
    "動画ファイルか静止画（.png .jpg .bmp）のパスです。\n"
    "\n"
    "オプション:\n"
    "  --list             システムのカメラを 1 行に 1 台、camera:番号 の番号を付けて表示します。\n"
    "  --snapshot ファイル 最初のフレームを PNG で保存します。\n"
    "  --crop X,Y,幅,高さ （--snapshot と共に）フレームのこの部分だけを保存します。\n"
    "                     WAITIMAGE の画像を作るときに使います。カメラや配信では、この部分が\n"
    "                     同じに映っている続くフレーム（8 枚まで）の平均で、ノイズを抑えます。\n"
    "  --find 画像ファイル 最初のフレームの中で画像に最も似た場所を探し、類似度（0〜1）と\n"
    "                     位置（左上の x, y）を表示します。\n"
    "  --level 類似度     （--find と共に）見つかったとみなす類似度（既定 %1）。\n"
    "  --read             最初のフレームの文字を読んで、読んだとおり 1 行ずつ表示します\n"
    "                     （WAITTEXT が読むのと同じ。WAITTEXT に写せます）。\n"
    "  --region X,Y,幅,高さ （--read と共に）フレームのこの部分だけを読みます。\n"
    "  --display 画面の位置\n"
    "                     フレームの中の携帯電話機の画面の位置（マクロの DISPLAY と同じ）:\n"
    "                     AUTO [幅x高さ]（既定。明るい四角形を探します）、WHOLE（フレーム\n"
    "                     全体が画面）、または \"x,y x,y x,y x,y [幅x高さ]\"（左上・右上・\n"
    "                     右下・左下の角）。画面が見つかれば、--snapshot、--find、--read は\n"
    "                     正面から見た画面（幅x高さ）を使い、--crop と --region はその画素で\n"
    "                     数えます。見つからなければフレームをそのまま使います。\n"
    "  -h, --help         この説明を表示します。\n"
    "\n"
    "終了ステータス:\n"
    "  0  一覧を表示した、保存した、画像が見つかった、または文字を読んだ\n"
    "  1  取り込み元か画像を開けない、フレームが来ない、保存できない、画像が見つからない、\n"
    "     または文字を読むためのデータがない\n"
    "  2  使い方の誤り").arg(Statement::kDefaultLevel);

std::optional<cv::Rect> parseCrop(const QString &text)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^(\\d{1,5}),(\\d{1,5}),(\\d{1,5}),(\\d{1,5})$")).match(text);
    if (!m.hasMatch() || m.captured(3).toInt() == 0 || m.captured(4).toInt() == 0)
        return std::nullopt;
    return cv::Rect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
}

} // namespace

int screenCommand(const QStringList &arguments)
{
    int status = ExitStatus::Ok;
    const std::optional<Arguments> args = openCommand(
        kCommand, kHelp, arguments,
        {{QStringLiteral("list")}, {QStringLiteral("snapshot"), true}, {QStringLiteral("crop"), true},
         {QStringLiteral("find"), true}, {QStringLiteral("level"), true}, {QStringLiteral("read")},
         {QStringLiteral("region"), true}, {QStringLiteral("display"), true}},
        1, QString(), &status);
    if (!args)
        return status;
    const bool list = args->has(QStringLiteral("list"));
    const bool snapshot = args->has(QStringLiteral("snapshot"));
    const bool find = args->has(QStringLiteral("find"));
    const bool read = args->has(QStringLiteral("read"));
    if (int(list) + int(snapshot) + int(find) + int(read) != 1)
        return usageError(kCommand, QStringLiteral("--list、--snapshot、--find、--read のどれか 1 つを指定してください。"));
    if (list) {
        if (!args->positional.isEmpty())
            return usageError(kCommand, QStringLiteral("--list は取り込み元を取りません。"));
        const QStringList cameras = listCameras();
        for (qsizetype i = 0; i < cameras.size(); ++i)
            Console::out(QStringLiteral("camera:%1  %2").arg(i + 1).arg(cameras[i]));
        if (cameras.isEmpty())
            Console::err(QStringLiteral("カメラは見つかりませんでした。"));
        return ExitStatus::Ok;
    }
    if (args->positional.isEmpty())
        return usageError(kCommand, QStringLiteral("取り込み元が指定されていません。"));
    if (args->has(QStringLiteral("crop")) && !snapshot)
        return usageError(kCommand, QStringLiteral("--crop は --snapshot と共にだけ使えます。"));
    if (args->has(QStringLiteral("level")) && !find)
        return usageError(kCommand, QStringLiteral("--level は --find と共にだけ使えます。"));
    std::optional<cv::Rect> crop;
    if (args->has(QStringLiteral("crop"))) {
        crop = parseCrop(args->value(QStringLiteral("crop")));
        if (!crop)
            return usageError(kCommand, QStringLiteral("--crop の値「%1」は X,Y,幅,高さ（例: 8,36,120,30）ではありません。")
                                            .arg(args->value(QStringLiteral("crop"))));
    }
    if (args->has(QStringLiteral("region")) && !read)
        return usageError(kCommand, QStringLiteral("--region は --read と共にだけ使えます。"));
    QRect region;
    if (args->has(QStringLiteral("region"))) {
        const std::optional<QRect> value = parseRegion(args->value(QStringLiteral("region")));
        if (!value)
            return usageError(kCommand, QStringLiteral("--region の値「%1」は X,Y,幅,高さ（例: 0,28,320,212）ではありません。")
                                            .arg(args->value(QStringLiteral("region"))));
        region = *value;
    }
    double level = Statement::kDefaultLevel;
    if (args->has(QStringLiteral("level"))) {
        const std::optional<double> value = parseLevel(args->value(QStringLiteral("level")));
        if (!value)
            return usageError(kCommand, QStringLiteral("--level の値「%1」は 0 から 1 までの数値ではありません。")
                                            .arg(args->value(QStringLiteral("level"))));
        level = *value;
    }
    DisplayArea area;
    if (args->has(QStringLiteral("display"))) {
        QString problem;
        const std::optional<DisplayArea> value = DisplayArea::parse(args->value(QStringLiteral("display")), &problem);
        if (!value)
            return usageError(kCommand, QStringLiteral("--display の値: %1").arg(problem));
        area = *value;
    }
    // The template is read before the source opens: a mistake there costs
    // no waiting.
    cv::Mat picture;
    if (find) {
        QString reason;
        picture = readTemplate(args->value(QStringLiteral("find")), &reason);
        if (picture.empty()) {
            Console::report(kCommand, QStringLiteral("画像ファイル「%1」を照合に使えません: %2。").arg(args->value(QStringLiteral("find")), reason));
            return ExitStatus::Failed;
        }
    }

    // The recogniser's data, like the template, before the source.
    TextReader reader;
    if (read && !reader.open()) {
        Console::report(kCommand, reader.errorText());
        return ExitStatus::Failed;
    }

    const QString sourceText = args->positional.first();
    const SourceAddress address = parseSourceAddress(sourceText);
    if (!address.isValid()) {
        Console::report(kCommand, address.problem);
        return ExitStatus::Failed;
    }
    std::unique_ptr<FrameSource> source = makeFrameSource(address);
    if (!source->start()) {
        Console::report(kCommand, source->errorText());
        return ExitStatus::Failed;
    }
    Frame frame = source->waitNewer(0, kFirstFrameMs);
    if (frame.isEmpty()) {
        const SourceStatus s = source->status();
        Console::report(kCommand, QStringLiteral("画面の取り込み元「%1」からフレームが来ません%2。")
                                      .arg(source->name(), s.ended ? QStringLiteral("（%1）").arg(s.endReason)
                                                               : QStringLiteral("（%1 秒待ちました）").arg(kFirstFrameMs / 1000)));
        return ExitStatus::Failed;
    }

    // What the waits see: the display upright, when one is found.
    DisplayFinder finder(area);
    if (const std::optional<DisplayCorners> corners = finder.locate(frame.image)) {
        cv::Mat upright = finder.rectify(frame.image, *corners);
        QStringList points;
        for (const cv::Point2f &c : *corners)
            points << QStringLiteral("%1,%2").arg(qRound(c.x)).arg(qRound(c.y));
        Console::err(QStringLiteral("画面をフレーム（%1×%2）の %3 に見つけ、正面から見た %4×%5 にしました。")
                         .arg(frame.image.cols).arg(frame.image.rows).arg(points.join(u' '))
                         .arg(upright.cols).arg(upright.rows));
        frame.image = upright;
    } else if (args->has(QStringLiteral("display")) && area.mode == DisplayArea::Mode::Found) {
        Console::err(QStringLiteral("フレーム（%1×%2）の中に画面は見つかりませんでした。フレーム全体を使います。")
                         .arg(frame.image.cols).arg(frame.image.rows));
    }

    if (snapshot) {
        cv::Mat image = frame.image;
        if (crop) {
            if ((*crop & cv::Rect(0, 0, image.cols, image.rows)) != *crop) {
                Console::report(kCommand, QStringLiteral("--crop の範囲がフレーム（%1×%2）からはみ出しています。").arg(image.cols).arg(image.rows));
                return ExitStatus::Failed;
            }
            // A template, cut as the screen window cuts one: the mean of the
            // frames that show the same there, a camera's noise averaged
            // out (stillcut.h). A still picture has no more frames.
            std::vector<cv::Mat> frames{image};
            qint64 number = frame.number;
            while (address.kind != SourceAddress::Kind::StillImage && int(frames.size()) < kStillFrames) {
                const Frame next = source->waitNewer(number, kNextFrameMs);
                if (next.isEmpty())
                    break;
                number = next.number;
                cv::Mat picture = next.image;
                if (const std::optional<DisplayCorners> corners = finder.locate(picture))
                    picture = finder.rectify(picture, *corners);
                if (picture.size() != image.size())
                    break;
                frames.push_back(picture);
            }
            image = stillCut(frames, *crop);
        }
        QString error;
        if (!saveFramePng(image, args->value(QStringLiteral("snapshot")), &error)) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
        Console::out(QStringLiteral("%1×%2 のフレームを「%3」に保存しました。").arg(image.cols).arg(image.rows).arg(args->value(QStringLiteral("snapshot"))));
        return ExitStatus::Ok;
    }

    if (read) {
        // A region outside the frame reads nothing: said, not printed as an
        // empty text; one partly outside is read where it lies inside.
        bool partly = false;
        const QString problem = TextReader::regionProblem(QSize(frame.image.cols, frame.image.rows), region, &partly);
        if (!problem.isEmpty() && !partly) {
            Console::report(kCommand, QStringLiteral("--region の%1").arg(problem));
            return ExitStatus::Failed;
        }
        if (partly)
            Console::report(kCommand, QStringLiteral("--region の%1。").arg(problem));
        // The text as read, line by line, to be copied into a WAITTEXT; only
        // the other control characters are shown by their codes. Nothing
        // read is said (on standard error: standard output stays what was
        // read), not left as an empty line.
        const QString text = reader.read(frame.image, region);
        if (text.trimmed().isEmpty()) {
            const QRect area = TextReader::areaRead(QSize(frame.image.cols, frame.image.rows), region);
            Console::report(kCommand, QStringLiteral("フレーム（%1×%2）の %3 に読める文字はありませんでした。")
                                          .arg(frame.image.cols).arg(frame.image.rows).arg(regionText(area)));
            return ExitStatus::Ok;
        }
        for (const QString &line : text.split(u'\n'))
            Console::out(visibleText(line));
        return ExitStatus::Ok;
    }

    const TemplateMatcher matcher(picture);
    if (!matcher.fitsIn(frame.image)) {
        Console::report(kCommand, QStringLiteral("画像（%1×%2）がフレーム（%3×%4）より大きいため、照合できません。")
                                      .arg(picture.cols).arg(picture.rows).arg(frame.image.cols).arg(frame.image.rows));
        return ExitStatus::Failed;
    }
    const MatchResult result = matcher.match(frame.image, level);
    const bool found = result.similarity >= level;
    Console::out(QStringLiteral("類似度 %1、位置 (%2, %3): %4")
                     .arg(QString::number(result.similarity, 'f', 3))
                     .arg(result.place.x())
                     .arg(result.place.y())
                     .arg(found ? QStringLiteral("見つかりました（%1 以上）").arg(level)
                                : QStringLiteral("見つかりません（%1 未満）").arg(level)));
    return found ? ExitStatus::Ok : ExitStatus::Failed;
}
