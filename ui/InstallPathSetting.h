#ifndef INSTALLPATHSETTING_H
#define INSTALLPATHSETTING_H

#include <QString>

// Where the classroom software records its install directory: the InstallPath value of
// organisation "Lessa", application "Lessa", system scope. Each platform has its own source.
class InstallPathSetting
{
public:
    // The value as recorded, empty when there is none.
    static QString read();
};

#endif // INSTALLPATHSETTING_H
