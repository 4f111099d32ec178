// Stands in for the e-textbook client when the Windows shell test starts it: records the
// command line it was given, its working directory and its show command in record.txt
// beside itself (written whole, then renamed, so a reader never sees half of it).
#include <windows.h>

#include <string>

namespace
{
std::string utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], size, nullptr,
                        nullptr);
    return bytes;
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    std::wstring folder(buffer, length);
    folder.erase(folder.find_last_of(L'\\') + 1);
    const DWORD directoryLength = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    const std::wstring directory(buffer, directoryLength);

    const std::string record = utf8(GetCommandLineW()) + "\n" + utf8(directory) + "\n" +
                               std::to_string(showCommand) + "\n";
    const std::wstring partial = folder + L"record.part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, record.data(), DWORD(record.size()), &written, nullptr);
    CloseHandle(file);
    return MoveFileExW(partial.c_str(), (folder + L"record.txt").c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : 1;
}
