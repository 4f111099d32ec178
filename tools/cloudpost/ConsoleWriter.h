#ifndef CONSOLEWRITER_H
#define CONSOLEWRITER_H

#include <QString>

#include <cstdio>

// Writes the tool's output lines. A Windows console gets UTF-16 text through the console's own
// interface, so that Chinese shows whatever the console's code page; a pipe or a file, and
// every stream elsewhere, gets UTF-8 bytes.
class ConsoleWriter
{
public:
    static void writeLine(FILE *stream, const QString &text);
};

#endif // CONSOLEWRITER_H
