#include "console/arguments.h"

#include "console/console.h"
#include "console/exitstatus.h"
#include "platform/portnumber.h"

#include <algorithm>

std::optional<Arguments> parseArguments(const QStringList &arguments, const QList<KnownOption> &options,
                                        QString *error)
{
    Arguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (optionsEnded || argument == u'-' || !argument.startsWith(u'-')) {
            parsed.positional.append(argument);
            parsed.items.append({QString(), argument});
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            parsed.flags.insert(QStringLiteral("help"));
            continue;
        }
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        const auto known = std::find_if(options.begin(), options.end(),
                                       [&](const KnownOption &o) { return o.name == name; });
        if (!argument.startsWith(QLatin1String("--")) || known == options.end()) {
            *error = QStringLiteral("不明なオプション「%1」です。").arg(argument);
            return std::nullopt;
        }
        if (!known->takesValue) {
            if (equals >= 0) {
                *error = QStringLiteral("オプション --%1 は値を取りません。").arg(name);
                return std::nullopt;
            }
            parsed.flags.insert(name);
        } else if (equals < 0 && i + 1 >= arguments.size()) {
            *error = QStringLiteral("オプション --%1 には値が要ります。").arg(name);
            return std::nullopt;
        } else {
            const QString value = equals >= 0 ? argument.mid(equals + 1) : arguments[++i];
            parsed.values.insert(name, value);
            parsed.items.append({name, value});
        }
    }
    return parsed;
}

bool wholeNumberOption(const QString &command, const Arguments &args, const QString &name, int *status)
{
    const QString value = args.value(name);
    if (!args.has(name) || parseWholeNumber(value))
        return true;
    *status = usageError(command, QStringLiteral("--%1 の値「%2」は整数ではありません。").arg(name, value));
    return false;
}

std::optional<QString> requiredPort(const QString &command, const Arguments &args, int *status)
{
    if (!args.has(QStringLiteral("port"))) {
        *status = usageError(command, QStringLiteral("--port でポート番号を指定してください。"));
        return std::nullopt;
    }
    if (!wholeNumberOption(command, args, QStringLiteral("port"), status))
        return std::nullopt;
    return args.value(QStringLiteral("port"));
}

int usageError(const QString &command, const QString &message)
{
    Console::report(command, message);
    Console::err(QStringLiteral("使い方は quillonemu-cli %1 --help で表示されます。").arg(command));
    return ExitStatus::Usage;
}

std::optional<Arguments> openCommand(const QString &command, const QString &help, const QStringList &arguments,
                                     const QList<KnownOption> &options, qsizetype maxWords,
                                     const QString &missingWord, int *status)
{
    QString error;
    std::optional<Arguments> args = parseArguments(arguments, options, &error);
    if (!args) {
        *status = usageError(command, error);
    } else if (args->has(QStringLiteral("help"))) {
        Console::out(help);
        *status = ExitStatus::Ok;
    } else if (args->positional.isEmpty() && !missingWord.isEmpty()) {
        *status = usageError(command, missingWord);
    } else if (maxWords >= 0 && args->positional.size() > maxWords) {
        *status = usageError(command, QStringLiteral("余分な引数「%1」があります。").arg(args->positional[maxWords]));
    } else {
        return args;
    }
    return std::nullopt;
}
