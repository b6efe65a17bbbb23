#pragma once

#include <QString>

// Where the program lives and how paths are cut into folder and name.
namespace platform {

// Full path of the running executable in native notation: on Windows as the system loaded it,
// elsewhere with symbolic links resolved.
QString ModuleFileName();

// Test seam: makes ModuleFileName() return `path` (empty restores the real one).
void SetModuleFileNameForTesting(const QString &path);

// The folder of a file path: everything before the last separator, the separator itself kept
// only for a root ("C:\", "/"). Separators are the platform's own.
QString ExtractFileDir(const QString &path);

// The program's folder (ExtractFileDir of ModuleFileName()).
QString ProgramFolder();

// `folder` joined with `name` by the platform's separator.
QString JoinPath(const QString &folder, const QString &name);

// Splits a path for display, in native notation, at its last separator of this platform ("\" or
// a drive's ":" on Windows, "/" elsewhere): the folder keeps its trailing separator, the name is
// the rest.
QString ExtractFilePath(const QString &path);
QString ExtractFileName(const QString &path);

} // namespace platform
