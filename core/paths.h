#pragma once
// The one place that says where Wendral's files live. Tests point every folder
// at a temporary one before anything reads it.
//  - program folder: read-only files shipped with the program ("Help.rtf",
//    "sounds/pop.wav", icons), beside the executable;
//  - data folder: the user's own lists ("allowed.txt", "disallowed.txt");
//  - config folder: the settings file and the registry hives.

#include <QString>

namespace wendral::Paths {

QString programDir();
QString dataDir();
QString configDir();
QString settingsFile();

// A file of the program folder ("sounds/pop.wav"; a name written with
// backslashes, "\sounds\pop.wav", works too: they become the separator).
QString programFile(const QString &name);
QString dataFile(const QString &name);

void setProgramDir(const QString &dir);
void setDataDir(const QString &dir);
void setConfigDir(const QString &dir);
// Forgets every override (the next read takes the defaults again).
void resetOverrides();

} // namespace wendral::Paths
