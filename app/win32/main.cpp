// quillmark.exe: the desktop window on Windows, over the running Outlook.
//
//   quillmark.exe [STORE ...]
//
// Without arguments the window reads Outlook through COM automation (the running Outlook,
// else a new one). "outlook:{class id}" names another automation server (the tests' stand-in).
#include "SrcLib/uLib.h"
#include "app/AppInfo.h"
#include "app/Libraries.h"
#include "app/win32/Win32MainView.h"
#include "outlook/StoreFactory.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"

#include <objbase.h>
#include <shellapi.h>

using namespace quillmark;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // The dialogs (file and folder pickers) and the COM backend share this apartment.
    OleInitialize(nullptr);
    platform::PinLocalTimeZone();
    InitStartupPaths();
    InitAppInfo();

    std::unique_ptr<platform::SettingsStore> settings = platform::CreateUserSettingsStore();
    TFEnvironment env;
    env.ApplicationDir = ApplicationDir();
    env.ExecutableBaseName = ExecutableBaseName();
    env.Info = &AppInfo();
    env.Settings = settings.get();
    env.Connect = [](const std::vector<std::string>& paths) { return outlook::ConnectApplication(paths); };
    // With no store named, Outlook itself.
    env.SampleStorePath = [] { return std::string("outlook:"); };
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 1; i < argc; ++i) {
            std::wstring a = argv[i];
            env.StoreArguments.push_back(platform::Utf8FromUtf16(std::u16string(a.begin(), a.end())));
        }
        LocalFree(argv);
    }
    env.UserDataDir = platform::UserDataDirectory();
    env.DirectoryWritable = [](const std::string& dir) { return platform::IsDirectoryWritable(dir); };
    env.Now = [] { return platform::NowLocal(); };
    env.Libraries = LinkedLibraries();

    int code = 0;
    {
        win32::TFWin32Window window(instance, std::move(env));
        window.Form().Start();
        code = window.Run(showCommand);
    }
    OleUninitialize();
    return code;
}
