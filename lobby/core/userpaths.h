#pragma once

#include <QString>

// Where the program keeps its per-user files.
class UserPaths
{
public:
    // The per-user application-data folder "Ostrel" (XDG_DATA_HOME honoured).
    static QString dataFolder();
    // The settings file: "ostrellobby.ini" in dataFolder(). Creates the folder when it
    // is missing, and moves a settings file left in programFolder there while the user
    // has none yet; the program's copy is deleted only once the copy succeeded.
    static QString getinifile(const QString &programFolder);
    // The folder for locks that must vanish with the session (XDG_RUNTIME_DIR honoured).
    static QString runtimeFolder();
};
