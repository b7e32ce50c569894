// Drives quillmark.exe through a short session for the Windows screenshots
// (scripts/screenshots.sh runs it under Wine and Xvfb). Not a test, not installed.
//
//   win32_window_demo.exe EXPORT_ROOT
//
// Prints "NAME X Y W H" for each picture (windows-disabled, windows-main, windows-menu,
// windows-resized) while it is on screen, and waits three seconds after each.
#include "RunningWindow.h"

#include <cstdio>

using namespace quillmark::test::win32window;

namespace {

// The menu bar and the client area: without a window manager (Xvfb) Wine draws no title bar,
// and the window's rectangle would show a black band where it would be.
void Report(const char* name, HWND window) {
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    long top = origin.y;
    MENUBARINFO bar{};
    bar.cbSize = sizeof bar;
    if (GetMenuBarInfo(window, OBJID_MENU, 0, &bar)) top = bar.rcBar.top;
    else if (GetMenu(window)) top -= GetSystemMetrics(SM_CYMENU); // not asked across processes everywhere
    std::printf("%s %ld %ld %ld %ld\n", name, origin.x, top, client.right, origin.y + client.bottom - top);
    std::fflush(stdout);
    Sleep(3000);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s EXPORT_ROOT\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    if (!RegisterFakeServer(QUILLMARK_FAKE_OUTLOOK_DLL)) return 1;
    int code = 0;
    {
        RunningWindow w;
        if (!w.Up()) {
            std::fprintf(stderr, "the window did not come up\n");
            code = 1;
        } else {
            HWND h = w.Handle();
            SetWindowPos(h, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            // Export off and why: a folder picked, the export root not there yet.
            w.Select(w.Child(w.TreeRoot(), 0));
            w.Type(IdEmaildir, root);
            Sleep(500);
            Report("windows-disabled", h);
            // Create the folders, one subject expression, export.
            w.Click(IdBcreate);
            WaitFor([&] { return w.Enabled(IdBmailout); }, 10000);
            w.Type(IdMre_subj, "^Quarterly\r\nagenda");
            w.Click(IdBmailout);
            w.WaitForStatus([](const std::string& s) { return s.rfind("Done:", 0) == 0; }, 60000);
            Report("windows-main", h);
            // The File menu, opened as Alt+F opens it.
            PostMessageW(h, WM_SYSCOMMAND, SC_KEYMENU, 'f');
            Sleep(800);
            Report("windows-menu", h);
            SendMessageW(h, WM_CANCELMODE, 0, 0);
            RECT r;
            GetWindowRect(h, &r);
            SetWindowPos(h, nullptr, 0, 0, r.right - r.left + 320, r.bottom - r.top + 200, SWP_NOMOVE | SWP_NOZORDER);
            Sleep(800);
            Report("windows-resized", h);
        }
    }
    UnregisterFakeServer();
    RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey);
    return code;
}
