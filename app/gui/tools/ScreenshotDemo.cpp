// Drives the real window through a short scripted session for screenshots of the splash and
// the main window (scripts/screenshots.sh runs it under Xvfb). Not installed.
//
//   quillmark_screenshot_demo EXPORT_ROOT [STORE ...]
//
// Prints "NAME X Y W H" for each picture (splash, main-disabled, main, main-menu, main-resized)
// while it is on screen, each followed by a pause of three seconds, then exits.
#include "SrcLib/uLib.h"
#include "app/AppInfo.h"
#include "app/gui/QuillmarkMainView.h"
#include "outlook/StoreFactory.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
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

    // The pictures, one after the other: each step prints its name and region, waits for
    // the script to take it, then goes on.
    QTimer::singleShot(3000, &window, [&] {
        window.Splash().hide();
        window.move(40, 40); // room on the virtual screen for the grown window later
        window.show();
        // Export off and why: a folder picked, the export root not there yet.
        QTreeWidgetItem* top = window.TV()->topLevelItem(0);
        if (top) {
            window.TV()->expandAll();
            window.TV()->setCurrentItem(top->childCount() ? top->child(0) : top);
        }
        window.Form().SetText(TFField::Emaildir, root + "-missing");
        window.Form().FieldChanged(TFField::Emaildir);
        QTimer::singleShot(500, &window, [&] { Report("main-disabled", window); });
    });
    QTimer::singleShot(6500, &window, [&] {
        // A session: name the export root, set the dates, one subject expression, export.
        window.Form().SetText(TFField::Emaildir, root);
        window.Form().FieldChanged(TFField::Emaildir);
        window.Form().L1990Click();
        window.Form().L2005Click();
        if (window.Bmailout()->isEnabled()) window.Bmailout()->click();
        QTimer::singleShot(500, &window, [&] { Report("main", window); });
    });
    QTimer::singleShot(10000, &window, [&] {
        // The File menu open below the menu bar.
        QMenu* file = window.MenuBar()->actions().front()->menu();
        window.MenuBar()->setActiveAction(window.MenuBar()->actions().front());
        QTimer::singleShot(500, &window, [&, file] {
            const QRect w = window.frameGeometry();
            const QRect m = file->isVisible() ? file->frameGeometry() : QRect();
            const QRect both = w.united(m);
            std::printf("main-menu %d %d %d %d\n", both.x(), both.y(), both.width(), both.height());
            std::fflush(stdout);
        });
    });
    QTimer::singleShot(13500, &window, [&] {
        window.MenuBar()->setActiveAction(nullptr);
        for (QWidget* popup = QApplication::activePopupWidget(); popup; popup = QApplication::activePopupWidget())
            popup->close();
        window.resize(window.width() + 320, window.height() + 200);
        QTimer::singleShot(500, &window, [&] { Report("main-resized", window); });
    });
    QTimer::singleShot(17000, &app, [&] { QApplication::exit(0); });
    return app.exec();
}
