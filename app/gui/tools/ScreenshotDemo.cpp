// Drives the real window through a short scripted session for screenshots of the splash and
// the main window (scripts/screenshots.sh runs it under Xvfb). Not installed.
//
//   quillmark_screenshot_demo EXPORT_ROOT [STORE ...]
//
// Prints "splash X Y W H" while the splash is up and "main X Y W H" while the main window is,
// each followed by a pause of three seconds, then exits.
#include "SrcLib/uLib.h"
#include "app/AppInfo.h"
#include "app/gui/QuillmarkMainView.h"
#include "outlook/StoreFactory.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>

using namespace quillmark;

namespace {

void Report(const char* what, const QWidget& w) {
    const QRect g = w.frameGeometry();
    std::printf("%s %d %d %d %d\n", what, g.x(), g.y(), g.width(), g.height());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    InitStartupPaths();
    InitAppInfo();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmark");
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s EXPORT_ROOT [STORE ...]\n", argv[0]);
        return 2;
    }
    const std::string root = args[1].toStdString();
    std::filesystem::create_directories(platform::NativePath(root + "/atts"));

    auto settings = platform::CreateUserSettingsStore();
    TFEnvironment env;
    env.ApplicationDir = ApplicationDir();
    env.ExecutableBaseName = "quillmark";
    env.Info = &AppInfo();
    env.Settings = settings.get();
    env.Connect = [](const std::vector<std::string>& paths) { return outlook::ConnectApplication(paths); };
    env.SampleStorePath = [] { return outlook::DefaultSampleStorePath(); };
    for (int i = 2; i < args.size(); ++i) env.StoreArguments.push_back(args[i].toStdString());
    env.UserDataDir = platform::UserDataDirectory();
    env.DirectoryWritable = [](const std::string& dir) { return platform::IsDirectoryWritable(dir); };
    env.Now = [] { return platform::NowLocal(); };

    gui::TFMainWindow window(std::move(env));
    window.Form().Start();
    // Start-up has hidden the splash; show it again, lines and all, for its picture.
    window.Splash().ShowNow();
    Report("splash", window.Splash());

    QTimer::singleShot(3000, &window, [&] {
        window.Splash().hide();
        window.show();
        // A session: pick the first folder below the first store, name the export root,
        // and run the export once.
        QTreeWidgetItem* top = window.TV()->topLevelItem(0);
        if (top) {
            window.TV()->expandAll();
            window.TV()->setCurrentItem(top->childCount() ? top->child(0) : top);
        }
        window.Form().SetText(TFField::Emaildir, root);
        window.Form().L1990Click();
        window.Form().L2005Click();
        if (window.Bmailout()->isEnabled()) window.Bmailout()->click();
        window.Form().TestValid();
        QTimer::singleShot(500, &window, [&] { Report("main", window); });
        QTimer::singleShot(3500, &app, [&] { QApplication::exit(0); });
    });
    return app.exec();
}
