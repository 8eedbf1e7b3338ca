#pragma once

#include <QString>

// The program's fixed texts: its name, its version and the copyright line.
namespace ProgramInfo {

inline QString title()
{
    return QStringLiteral("QuillonEmu");
}

inline QString version()
{
    return QStringLiteral("release 25F");
}

inline QString copyright()
{
    return QStringLiteral("Copyright (C) 2025-2026 QuillonEmu 開発チーム");
}

} // namespace ProgramInfo
