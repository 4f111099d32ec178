// Uses in a header of the probe: checked where a translation unit includes it.
#pragma once

#include <QString>

inline QString probeHeader(QString s)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 10, 0)
    s = s.chopped(1);
#endif
    return s.chopped(2); // flagged: QString::chopped
}
