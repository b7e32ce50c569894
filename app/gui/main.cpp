// quillmark: the desktop window.
//
//   quillmark [STORE ...]
//
// Each STORE is a mail store to open (an mbox file, a Maildir or .eml directory, a .pst
// file); without any, the stores opened last time, or the bundled sample store.
#include "SrcLib/uLib.h"
#include "app/AppInfo.h"
#include "app/Libraries.h"
#include "app/gui/QuillmarkMainView.h"
#include "outlook/StoreFactory.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"

#include <QApplication>

using namespace quillmark;

int main(int argc, char** argv) {
    platform::PinLocalTimeZone();
    InitStartupPaths();
    InitAppInfo();

    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmark"); // the name the task bar shows

    std::unique_ptr<platform::SettingsStore> settings = platform::CreateUserSettingsStore();
    TFEnvironment env;
    env.ApplicationDir = ApplicationDir();
    env.ExecutableBaseName = ExecutableBaseName();
    env.Info = &AppInfo();
    env.Settings = settings.get();
    env.Connect = [](const std::vector<std::string>& paths) { return outlook::ConnectApplication(paths); };
    env.SampleStorePath = [] { return outlook::DefaultSampleStorePath(); };
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) env.StoreArguments.push_back(args[i].toStdString());
    env.UserDataDir = platform::UserDataDirectory();
    env.DirectoryWritable = [](const std::string& dir) { return platform::IsDirectoryWritable(dir); };
    env.Now = [] { return platform::NowLocal(); };
    env.Libraries = LinkedLibraries();
    env.Libraries.insert(env.Libraries.begin(), std::string("Qt ") + qVersion() + " - GNU LGPL 3");

    gui::TFMainWindow window(std::move(env));
    window.Form().Start();
    window.show();
    return app.exec();
}
