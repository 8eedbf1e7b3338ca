#pragma once

#include <QStringList>

// quillonemu-cli screen: picture sources, the cameras, a frame saved, a
// picture looked for (screencommand.cpp). It lives in the screen module;
// the program reaches it through ScreenPlugin::screenCommand. It takes the
// arguments after its name and returns the exit status (see
// console/exitstatus.h).
int screenCommand(const QStringList &arguments);
