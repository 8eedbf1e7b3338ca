#pragma once

#include "widgets/desktop.h"

#include <QList>
#include <QRect>
#include <QStringList>
#include <functional>

// The desktop as the windows see it, recorded instead of shown: no dialog
// opens, no process ends. The guide goes to the real desktop only when
// `realGuide` is set.
struct RecordingDesktop : ScreenDesktop {
    QStringList messages;
    QStringList dialogStarts;
    QStringList dialogAnswers; // taken in order; an empty text (or none left): cancel
    // When set, the dialog itself: it gets the start and gives the answer.
    std::function<QString(const QString &fileName)> dialog;
    QStringList guidesOpened;
    bool realGuide = false;
    int ended = 0;
    std::function<void()> onEnd;

    // The save-file dialog: its start goes to `newFileStarts`, the answer
    // comes as the open-file dialog's does.
    QStringList newFileStarts;

    QString chooseFile(QWidget *, const QString &fileName) override { return answer(dialogStarts, fileName); }
    QString chooseNewFile(QWidget *, const QString &fileName) override { return answer(newFileStarts, fileName); }
    QString chooseNewPicture(QWidget *, const QString &fileName) override { return answer(newFileStarts, fileName); }
    // The one-line text dialog: what it showed, and its answers taken in
    // order (none left: cancel).
    QStringList textsShown;
    QStringList textAnswers;
    // What each message and text dialog was to keep clear of (keepClear()).
    QList<QRect> keptClear;
    std::optional<QString> editText(QWidget *, const QString &, const QString &, const QString &text) override
    {
        textsShown.append(text);
        keptClear.append(keepClear());
        if (textAnswers.isEmpty())
            return std::nullopt;
        return textAnswers.takeFirst();
    }
    QString answer(QStringList &starts, const QString &fileName)
    {
        starts.append(fileName);
        if (dialog)
            return dialog(fileName);
        return dialogAnswers.isEmpty() ? QString() : dialogAnswers.takeFirst();
    }
    void showMessage(QWidget *, const QString &text) override
    {
        messages.append(text);
        keptClear.append(keepClear());
    }
    // A failure message with its evidence: the message among the others,
    // its evidence here; and the files and folders opened.
    QStringList evidenceOffered;
    QStringList opened;
    void showEvidenceMessage(QWidget *, const QString &text, const QString &evidence) override
    {
        messages.append(text);
        evidenceOffered.append(evidence);
    }
    void openPath(QWidget *, const QString &path) override { opened.append(path); }
    void openGuide(QWidget *parent, const QString &path) override
    {
        guidesOpened.append(path);
        if (realGuide)
            ScreenDesktop::openGuide(parent, path);
    }
    // The screen source dialog: the choices it offered, the text it
    // started with, and its answers taken in order (none left: cancel).
    QStringList screenSourceChoices;
    QStringList screenSourceStarts;
    QStringList screenSourceAnswers;
    QList<QWidget *> screenSourceParents;
    std::optional<QString> chooseScreenSource(QWidget *parent, const QStringList &choices, const QString &current) override
    {
        screenSourceParents.append(parent);
        screenSourceChoices = choices;
        screenSourceStarts.append(current);
        if (screenSourceAnswers.isEmpty())
            return std::nullopt;
        return screenSourceAnswers.takeFirst();
    }
    void endProgram() override
    {
        ++ended;
        if (onEnd)
            onEnd();
    }
};
