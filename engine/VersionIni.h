#ifndef VERSIONINI_H
#define VERSIONINI_H

#include <QString>

// version.ini, the program's read-only switches: an INI file (UTF-8) beside the executable,
// found there whatever the working directory.
class VersionIni
{
public:
    static QString path();
};

#endif // VERSIONINI_H
