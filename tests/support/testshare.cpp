#include "testshare.h"

#include <QMetaMethod>
#include <QRegularExpression>

#include <cstdio>

namespace {

// The functions QTest runs for `test`, in declaration order: private slots
// without arguments that are neither data functions nor set-up or clean-up.
QList<QByteArray> testFunctions(const QMetaObject *meta)
{
    static const QList<QByteArray> special = {"initTestCase", "initTestCase_data", "cleanupTestCase", "init",
                                              "cleanup"};
    QList<QByteArray> names;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() != QMetaMethod::Slot || m.access() != QMetaMethod::Private || m.parameterCount() != 0
            || m.returnType() != QMetaType::Void)
            continue;
        const QByteArray name = m.name();
        if (name.endsWith("_data") || special.contains(name))
            continue;
        names.append(name);
    }
    return names;
}

}

int execTestShare(QObject *test, int argc, char **argv)
{
    const QString share = qEnvironmentVariable("QUILLON_TEST_SHARE");
    if (share.isEmpty() || argc > 1)
        return QTest::qExec(test, argc, argv);

    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d+)/(\\d+)$")).match(share);
    const int index = m.hasMatch() ? m.captured(1).toInt() : 0;
    const int count = m.hasMatch() ? m.captured(2).toInt() : 0;
    if (count < 1 || index < 1 || index > count) {
        std::fprintf(stderr, "QUILLON_TEST_SHARE=%s: expected i/n with 1 <= i <= n\n", qPrintable(share));
        return 2;
    }
    QStringList args = {QString::fromLocal8Bit(argv[0])};
    const QList<QByteArray> functions = testFunctions(test->metaObject());
    for (qsizetype k = index - 1; k < functions.size(); k += count)
        args.append(QString::fromLatin1(functions.at(k)));
    if (args.size() == 1) {
        std::printf("share %d/%d of %s: no test function\n", index, count, test->metaObject()->className());
        return 0;
    }
    return QTest::qExec(test, args);
}
