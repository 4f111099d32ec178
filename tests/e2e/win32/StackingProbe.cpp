// Reads and drives Win32's own window stacking for the end-to-end test under Wine, where the
// X server shows either one virtual-desktop window or windows that an X window manager
// stacks by its own rules. One line per window: handle, owner, rectangle in screen
// coordinates, visibility, styles, whether it gets a taskbar button, class and title
// (tab-separated, UTF-8).
//
//   stacking_probe order TITLE [all]   the top-level windows of the process that owns the
//                                      top-level window titled TITLE, topmost first (visible
//                                      ones only unless "all")
//   stacking_probe window HWND         the line of HWND
//   stacking_probe owner HWND          the owner of HWND (GetWindow GW_OWNER)
//   stacking_probe raise-main TITLE    brings the window titled TITLE to the top and to the
//                                      foreground, as a taskbar click or Alt+Tab does
//   stacking_probe window-at X Y       the topmost visible top-level window at the screen point
//                                      (X, Y), disabled or not: the one that shows there
//   stacking_probe input-at X Y        the top-level window that takes input at (X, Y)
//                                      (WindowFromPoint, which passes over disabled windows)
//   stacking_probe foreground          the foreground window
//   stacking_probe close HWND          posts WM_CLOSE to HWND, as a window manager's close does
//
// Exit code 0 on success, 1 when the window is not found, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace
{
std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], size, nullptr,
                        nullptr);
    return bytes;
}

std::string handleText(HWND window)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    return text;
}

HWND parseHandle(const wchar_t *text)
{
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::wcstoul(text, nullptr, 0)));
}

void printWindow(HWND window)
{
    wchar_t buffer[512];
    const int titleLength = GetWindowTextW(window, buffer, 512);
    const std::wstring title(buffer, size_t(titleLength > 0 ? titleLength : 0));
    const int classLength = GetClassNameW(window, buffer, 512);
    const std::wstring className(buffer, size_t(classLength > 0 ? classLength : 0));
    RECT rect{};
    GetWindowRect(window, &rect);
    const HWND owner = GetWindow(window, GW_OWNER);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    const bool visible = IsWindowVisible(window) != FALSE;
    // The shell's rule: a visible window that is no tool window and is unowned or asks for it.
    const bool taskbar =
        visible && !(exStyle & WS_EX_TOOLWINDOW) && (!owner || (exStyle & WS_EX_APPWINDOW));
    std::printf("%s\towner=%s\trect=%ld,%ld,%ld,%ld\tvisible=%d\ticonic=%d\tenabled=%d\t"
                "style=0x%08lx\texstyle=0x%08lx\ttaskbar=%d\tclass=%s\ttitle=%s\n",
                handleText(window).c_str(), handleText(owner).c_str(), rect.left, rect.top,
                rect.right - rect.left, rect.bottom - rect.top, visible ? 1 : 0,
                IsIconic(window) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0,
                static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle),
                taskbar ? 1 : 0, utf8(className).c_str(), utf8(title).c_str());
}

struct Listing {
    DWORD process;
    bool all;
    std::vector<HWND> windows;
};

BOOL CALLBACK collect(HWND window, LPARAM parameter)
{
    auto *listing = reinterpret_cast<Listing *>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == listing->process && (listing->all || IsWindowVisible(window)))
        listing->windows.push_back(window);
    return TRUE;
}

int order(const wchar_t *title, bool all)
{
    const HWND main = FindWindowW(nullptr, title);
    if (!main)
        return 1;
    Listing listing{0, all, {}};
    GetWindowThreadProcessId(main, &listing.process);
    // EnumWindows walks the top-level windows in Z order, topmost first.
    EnumWindows(collect, reinterpret_cast<LPARAM>(&listing));
    for (HWND window : listing.windows)
        printWindow(window);
    return 0;
}

int raiseMain(const wchar_t *title)
{
    const HWND main = FindWindowW(nullptr, title);
    if (!main)
        return 1;
    SetWindowPos(main, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(main);
    return 0;
}

struct Hit {
    POINT point;
    HWND window;
};

BOOL CALLBACK hitTest(HWND window, LPARAM parameter)
{
    auto *hit = reinterpret_cast<Hit *>(parameter);
    RECT rect{};
    if (IsWindowVisible(window) && GetWindowRect(window, &rect) && PtInRect(&rect, hit->point)) {
        hit->window = window;
        return FALSE;
    }
    return TRUE;
}

POINT pointArgument(wchar_t **arguments)
{
    return POINT{std::wcstol(arguments[2], nullptr, 10), std::wcstol(arguments[3], nullptr, 10)};
}

int printOrMissing(HWND window)
{
    if (!window)
        return 1;
    printWindow(window);
    return 0;
}
} // namespace

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 2)
        return 2;
    const std::wstring command = arguments[1];
    int result = 2;
    if (command == L"order" && count >= 3) {
        result = order(arguments[2], count >= 4 && std::wstring(arguments[3]) == L"all");
    } else if (command == L"window" && count == 3) {
        const HWND window = parseHandle(arguments[2]);
        result = printOrMissing(IsWindow(window) ? window : nullptr);
    } else if (command == L"owner" && count == 3) {
        const HWND window = parseHandle(arguments[2]);
        result = IsWindow(window) ? 0 : 1;
        if (result == 0)
            std::printf("%s\n", handleText(GetWindow(window, GW_OWNER)).c_str());
    } else if (command == L"raise-main" && count == 3) {
        result = raiseMain(arguments[2]);
    } else if (command == L"window-at" && count == 4) {
        Hit hit{pointArgument(arguments), nullptr};
        EnumWindows(hitTest, reinterpret_cast<LPARAM>(&hit));
        result = printOrMissing(hit.window);
    } else if (command == L"input-at" && count == 4) {
        result = printOrMissing(GetAncestor(WindowFromPoint(pointArgument(arguments)), GA_ROOT));
    } else if (command == L"foreground" && count == 2) {
        result = printOrMissing(GetForegroundWindow());
    } else if (command == L"close" && count == 3) {
        const HWND window = parseHandle(arguments[2]);
        result = IsWindow(window) && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    LocalFree(arguments);
    std::fflush(stdout);
    return result;
}
