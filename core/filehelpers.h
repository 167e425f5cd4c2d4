#pragma once
// Whether a normal file is present at a path, and the file-name part of a path.

#include <QString>

namespace wendral {

// True when the folder of the path holds a normal file whose name matches the
// path's last part, compared without regard to case. Hidden files (names that
// start with a dot), folders and special files (sockets, pipes, devices) are
// not found. The last part may hold the wildcards * and ?: then the first
// matching name (in name order) must equal the pattern's own text, so a
// wildcard path is true only when a file literally carries that name.
bool fileExists(const QString &path);

// The part of the path after its last separator; empty for an empty path and
// for a path that ends with a separator. Both "/" and "\" separate: the
// program's own paths use "/", while names written the Windows way
// ("\sounds\pop.wav") keep working.
QString fileNameOf(const QString &path);

} // namespace wendral
