#include "ConsoleWriter.h"

#include <io.h>
#include <windows.h>

namespace
{
// Consoles before Windows 8 refuse a single write much above 64 KiB.
constexpr int maxChunk = 8192;

void writeToConsole(HANDLE console, const QString &line)
{
    const auto *data = reinterpret_cast<const wchar_t *>(line.utf16());
    int left = line.size();
    while (left > 0) {
        int chunk = qMin(left, maxChunk);
        // A surrogate pair split between two writes would show as two replacement marks.
        if (chunk < left && QChar::isHighSurrogate(data[chunk - 1]))
            --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(console, data, DWORD(chunk), &written, nullptr) || written == 0)
            return;
        data += written;
        left -= int(written);
    }
}
} // namespace

void ConsoleWriter::writeLine(FILE *stream, const QString &text)
{
    // A console answers GetConsoleMode; a pipe, a file or the null device does not.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        // Whatever the C runtime still buffers for this stream goes first.
        std::fflush(stream);
        writeToConsole(handle, text + QLatin1Char('\n'));
        return;
    }
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}
