#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

// The arguments of one command: its options, written "--name" or
// "--name VALUE" / "--name=VALUE", and the words between them. "-h" and
// "--help" are the option "help" everywhere; "--" ends the options.
struct KnownOption {
    QString name; // without the dashes
    bool takesValue = false;
};

struct Arguments {
    // One word or one option with its value, in command-line order.
    struct Item {
        QString option; // empty for a word
        QString value;  // the word, or the option's value
    };

    QStringList positional;
    QHash<QString, QString> values; // options with a value; the last one given counts
    QSet<QString> flags;            // options without a value
    QList<Item> items;              // words and options with a value, in order

    bool has(const QString &name) const { return flags.contains(name) || values.contains(name); }
    QString value(const QString &name, const QString &fallback = {}) const { return values.value(name, fallback); }
};

// Splits `arguments` by `options`. On a mistake returns no value and sets
// `error` to a message that names the argument.
std::optional<Arguments> parseArguments(const QStringList &arguments, const QList<KnownOption> &options,
                                        QString *error);

// Whether option `name` of `command`, when given, holds a whole number (a
// port number, a counter); otherwise false, with `*status` set to the usage
// error that names the option and its value.
bool wholeNumberOption(const QString &command, const Arguments &args, const QString &name, int *status);

// The required --port option of `command`: its text, once it is a whole
// number; otherwise no value, with `*status` set to the usage error.
std::optional<QString> requiredPort(const QString &command, const Arguments &args, int *status);

// Tells the user what was wrong with the command line of `command` and where
// to read more; returns ExitStatus::Usage.
int usageError(const QString &command, const QString &message);

// What every command does first: splits `arguments` by `options`, answers
// --help with `help`, and allows at most `maxWords` words between the
// options (-1: any number; when `missingWord` is not empty, one is required
// and this is the message without it). Returns the arguments, or no value
// with `*status` set to the exit status the command ends with.
std::optional<Arguments> openCommand(const QString &command, const QString &help, const QStringList &arguments,
                                     const QList<KnownOption> &options, qsizetype maxWords,
                                     const QString &missingWord, int *status);
