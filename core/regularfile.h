#pragma once
// Reading and writing the user's own files (the site lists, the settings file)
// so that a path leading anywhere but to a regular file is never read or
// written. A folder, device, FIFO or socket in the file's place, directly or
// behind symbolic links, is refused before anything opens it (so a FIFO cannot
// hang the program and a device cannot flood it or be replaced), and what is
// opened is checked again after opening, in case the path changed in between.
//
// A symbolic link to a regular file (as dotfile managers make) is followed both
// ways: reading reads the target, a rewrite replaces the target file and the
// link stays a link. A link that leads nowhere is refused like a device: its
// target could be created anywhere.
//
// Sizes are bounded by the caller: a file above the bound is not read at all.

#include <QByteArray>
#include <QString>

namespace wendral::RegularFile {

enum class Status
{
    Ok,
    Missing,    // nothing at the path (reading: an empty file for most callers)
    NotRegular, // a folder, device, FIFO, socket or a link to nothing
    TooLarge,   // above the caller's bound
    Unreadable, // permission or input/output error
    Unwritable, // permission, full disk, read-only folder
};

struct ReadResult
{
    Status status = Status::Missing;
    QByteArray content;
    int error = 0; // errno of the failing call, for the message
};

// Reads the whole file when it is a regular file of at most maxBytes bytes.
ReadResult read(const QString &path, qint64 maxBytes);

struct WriteResult
{
    Status status = Status::Ok;
    int error = 0;
};

// Replaces the file's content atomically: a new file is written beside the
// target (the target of a link) and renamed over it once complete and flushed,
// so a failure at any point leaves the old file as it was. A missing file is
// created, with its folder. The new file keeps the old one's permission bits.
WriteResult replace(const QString &path, const QByteArray &content);

// Appends bytes at the end of the file, creating a missing file (and folder).
// A write that fails part way is cut back to the old end.
WriteResult append(const QString &path, const QByteArray &bytes);

// One sentence for the user on what went wrong with the file, naming it:
// "allowed.txt is not a regular file (/home/…/allowed.txt)". Empty for Ok.
QString describe(Status status, int error, const QString &path);

} // namespace wendral::RegularFile
