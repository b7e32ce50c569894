// quillmark.exe started and driven from outside, for the window's tests and the screenshot
// driver: the stand-in Outlook server's registration, the program started against it, its
// controls found by id.
#pragma once

#include "app/win32/ControlIds.h"
#include "platform/CodePage.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace quillmark::test::win32window {

using namespace quillmark::win32ids;
using Clock = std::chrono::steady_clock;


inline const wchar_t* const FakeClassId = L"{5A7B1F2E-9C4D-4E21-8B3A-0D6F033C0046}";
inline const wchar_t* const FakeClassKey = L"Software\\Classes\\CLSID\\{5A7B1F2E-9C4D-4E21-8B3A-0D6F033C0046}";
inline const wchar_t* const SettingsKey = L"Software\\Keldane\\quillmark";

inline std::wstring Wide(const std::string& utf8) {
    std::u16string s = platform::Utf16FromUtf8(utf8);
    return std::wstring(s.begin(), s.end());
}

inline std::string Narrow(const std::wstring& w) { return platform::Utf8FromUtf16(std::u16string(w.begin(), w.end())); }

inline bool RegisterServer(HKEY root, const wchar_t* classKey, const std::wstring& dll) {
    HKEY key;
    std::wstring sub = std::wstring(classKey) + L"\\InprocServer32";
    if (RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const wchar_t model[] = L"Apartment";
    bool ok = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                             static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
              RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model) ==
                  ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// Registers the stand-in server for the user, and for the machine where Wine's COM reads only
// that, as the COM backend's own tests register it.
inline bool RegisterFakeServer(const std::string& dllPath) {
    std::wstring dll = Wide(dllPath);
    for (auto& c : dll)
        if (c == L'/') c = L'\\';
    return RegisterServer(HKEY_CURRENT_USER, FakeClassKey, dll) && RegisterServer(HKEY_CLASSES_ROOT, FakeClassKey + 17, dll);
}

inline void UnregisterFakeServer() {
    RegDeleteTreeW(HKEY_CURRENT_USER, FakeClassKey);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, FakeClassKey + 17);
}

// The program under test: the one built here, or another copy (the installed one) named by
// QUILLMARK_WINDOW_EXE.
inline std::wstring WindowExe() {
    wchar_t other[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QUILLMARK_WINDOW_EXE", other, MAX_PATH) > 0) return other;
    return Wide(QUILLMARK_WINDOW_EXE);
}

inline bool WaitFor(const std::function<bool()>& done, int milliseconds) {
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

// One started quillmark.exe and its main window.
class RunningWindow {
public:
    explicit RunningWindow(const std::wstring& longFolderMails = L"") {
        RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey); // every start begins from the defaults
        if (!longFolderMails.empty()) SetEnvironmentVariableW(L"QUILLMARK_FAKE_OUTLOOK_LONG", longFolderMails.c_str());
        std::wstring command = L"\"" + WindowExe() + L"\" outlook:" + FakeClassId;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
        SetEnvironmentVariableW(L"QUILLMARK_FAKE_OUTLOOK_LONG", nullptr);
        if (!started_) return;
        WaitFor([this] { return (hwnd_ = Find()) != nullptr; }, 30000);
        // Start-up is over when the tree holds the stores.
        if (!WaitFor([this] { return hwnd_ && TreeRoot() != nullptr; }, 30000)) hwnd_ = nullptr;
    }
    ~RunningWindow() {
        if (!started_) return;
        if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi_.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 1);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
    }

    bool Up() const { return hwnd_ != nullptr; }
    HWND Handle() const { return hwnd_; }
    HWND Control(int id) const { return GetDlgItem(hwnd_, id); }

    // The text of a control, asked with a time limit (the window answers between items).
    std::string Text(int id) const {
        wchar_t buffer[2048] = {};
        DWORD_PTR got = 0;
        SendMessageTimeoutW(Control(id), WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                            &got);
        return Narrow(buffer);
    }
    void Type(int id, const std::string& text) {
        SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
    }
    // Posted, so that a long handler (the run) does not hold the test up.
    void Click(int id) { PostMessageW(Control(id), BM_CLICK, 0, 0); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }

    HTREEITEM TreeRoot() const {
        return reinterpret_cast<HTREEITEM>(SendMessageW(Control(IdTV), TVM_GETNEXTITEM, TVGN_ROOT, 0));
    }
    HTREEITEM Child(HTREEITEM item, int index) const {
        auto c = reinterpret_cast<HTREEITEM>(
            SendMessageW(Control(IdTV), TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        for (int i = 0; c && i < index; ++i)
            c = reinterpret_cast<HTREEITEM>(
                SendMessageW(Control(IdTV), TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(c)));
        return c;
    }
    // Picks a folder as a click would; the Export button names the folder selected.
    void Select(HTREEITEM item) {
        SendMessageW(Control(IdTV), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
    bool WaitForStatus(const std::function<bool(const std::string&)>& ok, int milliseconds) {
        return WaitFor([&] { return ok(Text(IdPStatus)); }, milliseconds);
    }
    int Progress() const {
        DWORD_PTR pos = 0;
        SendMessageTimeoutW(Control(IdPB), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos);
        return static_cast<int>(pos);
    }
    bool Exited(int milliseconds) { return WaitForSingleObject(pi_.hProcess, milliseconds) == WAIT_OBJECT_0; }

private:
    HWND Find() const {
        struct Search {
            DWORD Pid;
            HWND Found;
        } search{pi_.dwProcessId, nullptr};
        EnumWindows(
            [](HWND h, LPARAM lp) -> BOOL {
                auto* s = reinterpret_cast<Search*>(lp);
                DWORD pid = 0;
                GetWindowThreadProcessId(h, &pid);
                wchar_t cls[64] = {};
                GetClassNameW(h, cls, 64);
                if (pid == s->Pid && std::wstring(cls) == MainWindowClass) {
                    s->Found = h;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.Found;
    }

    PROCESS_INFORMATION pi_{};
    BOOL started_ = FALSE;
    HWND hwnd_ = nullptr;
};

} // namespace quillmark::test::win32window
