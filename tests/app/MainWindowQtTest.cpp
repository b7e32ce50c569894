// The Qt view of the main window, offscreen, over the in-memory store: that the widgets are
// the designed ones and that clicks, typing and the event turns of a run reach TF.
#include "app/gui/QuillmarkMainView.h"

#include "FakeOutlook.h"
#include "SrcLib/DateTime.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>

using namespace quillmark;
using namespace quillmark::testing;
using quillmark::gui::TFMainWindow;
namespace fs = std::filesystem;

class MainWindowQtTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::unique_ptr<platform::FileSettingsStore> store_;
    std::shared_ptr<FakeApplication> app_;
    std::shared_ptr<FakeFolder> inbox_;
    TAppInfo info_;
    std::vector<std::string> errors_;
    std::optional<std::string> connectError_;

    std::string Path(const char* rel) const { return (fs::path(dir_.path().toStdString()) / rel).string(); }

    std::unique_ptr<TFMainWindow> MakeWindow() {
        TFEnvironment env;
        env.ApplicationDir = Path("bin/");
        env.ExecutableBaseName = "quillmark";
        env.Info = &info_;
        env.Settings = store_.get();
        env.Connect = [this](const std::vector<std::string>&) -> std::shared_ptr<outlook::Application> {
            if (connectError_) throw EStoreError(*connectError_);
            return app_;
        };
        env.SampleStorePath = [] { return std::string("sample"); };
        env.DirectoryWritable = [](const std::string&) { return true; };
        env.Now = [] { return EncodeDate(2026, 12, 8) + 0.25; };
        auto w = std::make_unique<TFMainWindow>(std::move(env));
        w->ErrorHook = [this](const std::string& m) { errors_.push_back(m); };
        return w;
    }

    // The folder's name without the item count the tree shows after it.
    static QString NameOf(QTreeWidgetItem* item) {
        QString text = item->text(0);
        int open = text.lastIndexOf(" (");
        return open < 0 ? text : text.left(open);
    }

    QTreeWidgetItem* Item(TFMainWindow& w, const QString& path) {
        QTreeWidgetItem* found = nullptr;
        QStringList names = path.split('/');
        for (int i = 0; i < w.TV()->topLevelItemCount(); ++i)
            if (NameOf(w.TV()->topLevelItem(i)) == names[0]) found = w.TV()->topLevelItem(i);
        for (int n = 1; found && n < names.size(); ++n) {
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; i < found->childCount(); ++i)
                if (NameOf(found->child(i)) == names[n]) next = found->child(i);
            found = next;
        }
        return found;
    }

    void MakeValidInputs(TFMainWindow& w) {
        fs::create_directories(Path("root/atts"));
        w.Edit(TFField::Emaildir)->clear();
        QTest::keyClicks(w.Edit(TFField::Emaildir), QString::fromStdString(Path("root")));
        w.TV()->setCurrentItem(Item(w, "Personal Folders/Inbox"));
    }

    int PageCount() {
        if (!fs::exists(Path("root/2005"))) return 0;
        return static_cast<int>(std::distance(fs::directory_iterator(Path("root/2005")), fs::directory_iterator()));
    }

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        fs::create_directories(Path("bin"));
        fs::remove_all(Path("root"));
        fs::remove_all(Path("config"));
        store_ = std::make_unique<platform::FileSettingsStore>(Path("config"));
        errors_.clear();
        connectError_.reset();
        info_.ProductName = "Quillmark";
        info_.FileVersion = "1.2.4.9";
        app_ = std::make_shared<FakeApplication>();
        auto personal = app_->Ns->AddStore(u"Personal Folders", u"s1");
        inbox_ = personal->AddFolder(u"Inbox");
        for (int i = 1; i <= 4; ++i) {
            auto mail = inbox_->AddMail();
            mail->SetText(outlook::dispid::Subject, u"Mail " + std::u16string(1, char16_t(u'0' + i)));
            mail->SetDate(outlook::dispid::ReceivedTime, EncodeDate(2005, 1, i));
        }
        app_->Ns->AddStore(u"Public Folders", u"s2")->AddFolder(u"Team");
        app_->Ns->AddStore(u"PUBLICATIONS", u"s3");
    }

    void theControlsAreTheDesignedOnes() {
        auto w = MakeWindow();
        QVERIFY(w->maximumWidth() > w->minimumWidth()); // resizable
        QVERIFY(w->maximumHeight() > w->minimumHeight());
        QCOMPARE(w->Bmailout()->text(), QString("5. Export ..."));
        QVERIFY(!w->Bmailout()->isEnabled());
        QCOMPARE(w->Bstop()->text(), QString("Stop !"));
        QVERIFY(!w->Bstop()->isEnabled());
        QCOMPARE(w->Bmail()->text(), QString("Browse..."));
        QCOMPARE(w->Edit(TFField::Eattdir)->text(), QString("atts"));
        QCOMPARE(w->L1990()->toolTip(), QString("Set date to 1990-01-01"));
        QCOMPARE(w->L2005()->toolTip(), QString("Set date to tomorrow"));
        QCOMPARE(w->findChild<QLabel*>("Lattdir")->toolTip(), QString("Root + dir = Attachment dir"));
        QCOMPARE(w->findChild<QLabel*>("Lmaildir")->text(),
                 QString("3. Select export root directory (html file output)"));
        QCOMPARE(w->findChild<QGroupBox*>("GBrestrict")->title(), QString("4. Restrict output with:"));
        QCOMPARE(w->Edit(TFField::Edat2)->toolTip(), QString("Output only email <= datetime"));
        QCOMPARE(w->PB()->maximum(), 100);
        w->show();
        // The subject expressions can be seen and typed into.
        QVERIFY(w->Label1()->isVisible());
        QVERIFY(w->Mre_subj()->isVisible());
        QVERIFY(w->Mre_subj()->height() > w->Edit(TFField::Esize)->height());
        // Tab order: tree, its check box, template, Browse, root, attachments, the group's
        // fields, Export, Stop.
        QStringList order;
        QWidget* at = w->TV();
        do {
            if ((at->focusPolicy() & Qt::TabFocus) && !at->objectName().isEmpty() && !at->objectName().startsWith("qt_"))
                order << at->objectName();
            at = at->nextInFocusChain();
        } while (at != w->TV());
        QCOMPARE(order, QStringList({"TV", "CBsubfolders", "Email", "Bmail", "Emaildir", "Eattdir", "Bcreate", "Edat1", "Edat2", "Esize",
                                     "Mre_subj", "Bmailout", "Bstop"}));
    }

    void startUpFillsTheSplashAndTheTree() {
        auto w = MakeWindow();
        w->Form().Start();
        QCOMPARE(w->Splash().MTinfo()->toPlainText(),
                 QString("\nInit...\nShortDateFormat=yyyy-MM-dd\nDateSeparator=-\nOutlook.Connect...\nNmSpace...\n"
                         "Logon...\nTreeScan..."));
        QVERIFY(!w->Splash().isVisible());
        QCOMPARE(w->windowTitle(), QString("Quillmark v1.2.4.9"));
        QCOMPARE(w->TV()->topLevelItemCount(), 1); // Public Folders and PUBLICATIONS left out
        QVERIFY(Item(*w, "Personal Folders/Inbox"));
        QVERIFY(errors_.empty());
    }

    void aStoreThatFailsShowsTheErrorBoxAndAnEmptyTree() {
        connectError_ = "Outlook cannot be started";
        auto w = MakeWindow();
        w->Form().Start();
        QCOMPARE(errors_, std::vector<std::string>{"Outlook cannot be started."});
        QCOMPARE(w->TV()->topLevelItemCount(), 0);
        QVERIFY(!w->Bmailout()->isEnabled());
        QVERIFY(!w->Splash().isVisible());
    }

    void typingAndSelectingValidate() {
        auto w = MakeWindow();
        w->Form().Start();
        w->show();
        MakeValidInputs(*w);
        QCOMPARE(w->Bmailout()->text(), QString("5. Export [Inbox] ..."));
        QVERIFY(w->Bmailout()->isEnabled());
        // One character more in the attachments name: the directory is gone, red and off.
        QTest::keyClicks(w->Edit(TFField::Eattdir), "x");
        QVERIFY(!w->Bmailout()->isEnabled());
        QCOMPARE(w->Edit(TFField::Eattdir)->palette().color(QPalette::Text), QColor(Qt::red));
        QTest::keyClick(w->Edit(TFField::Eattdir), Qt::Key_Backspace);
        QVERIFY(w->Bmailout()->isEnabled());
        QVERIFY(w->Edit(TFField::Eattdir)->palette().color(QPalette::Text) != QColor(Qt::red));
    }

    void theDateLinksAndBrowse() {
        auto w = MakeWindow();
        w->Form().Start();
        w->show();
        QTest::mouseClick(w->L1990(), Qt::LeftButton);
        QCOMPARE(w->Edit(TFField::Edat1)->text(), QString("1990-01-01"));
        QTest::mouseClick(w->L2005(), Qt::LeftButton);
        QCOMPARE(w->Edit(TFField::Edat2)->text(), QString("2026-12-09"));

        const std::string chosen = Path("other.htm");
        w->OpenFileHook = [&] { return std::optional<std::string>(chosen); };
        QTest::mouseClick(w->Bmail(), Qt::LeftButton);
        QCOMPARE(w->Edit(TFField::Email)->text(), QString::fromStdString(chosen));
        QCOMPARE(w->Edit(TFField::Email)->palette().color(QPalette::Text), QColor(Qt::red)); // no such file
    }

    void stopClickedDuringARunEndsItWithBreak() {
        auto w = MakeWindow();
        w->Form().Start();
        w->show();
        MakeValidInputs(*w);
        // The click is queued when item 2 begins and handled in that item's event turn.
        connect(w->PB(), &QProgressBar::valueChanged, w.get(), [&](int v) {
            if (v == 2) QMetaObject::invokeMethod(w->Bstop(), "click", Qt::QueuedConnection);
        });
        QTest::mouseClick(w->Bmailout(), Qt::LeftButton);
        QVERIFY(w->PStatus()->text().startsWith("Stopped: 1 mail exported, 0 filtered out"));
        QCOMPARE(w->PStatus()->palette().color(QPalette::Window), QColor(Qt::red));
        QCOMPARE(PageCount(), 1);
        QVERIFY(!w->Bstop()->isEnabled());
        QVERIFY(w->Bmailout()->isEnabled()); // the inputs still hold
        QVERIFY(errors_.empty());
    }

    void closingDuringARunLetsItFinishThenSaves() {
        auto w = MakeWindow();
        w->Form().Start();
        w->show();
        MakeValidInputs(*w);
        connect(w->PB(), &QProgressBar::valueChanged, w.get(), [&](int v) {
            if (v == 1) QMetaObject::invokeMethod(w.get(), "close", Qt::QueuedConnection);
        });
        QTest::mouseClick(w->Bmailout(), Qt::LeftButton);
        QCOMPARE(PageCount(), 4);
        QVERIFY(w->PStatus()->text().startsWith("Done: 4 mails exported"));
        QVERIFY(!w->isVisible()); // closed once the run had returned
        QVERIFY(app_->Disconnected);
        auto key = store_->OpenKey(w->Form().SettingsKeyPath(), false);
        QVERIFY(key != nullptr);
        QCOMPARE(QString::fromStdString(key->ReadString("FromDateTime")), QString("2005-01-04"));
    }

    void theTreeShowsMailCounts() {
        auto w = MakeWindow();
        w->Form().Start();
        QCOMPARE(Item(*w, "Personal Folders/Inbox")->text(0), QString("Inbox (4)"));
    }

    void aDisabledExportIsExplainedAndTheMissingFoldersCanBeCreated() {
        auto w = MakeWindow();
        w->Form().Start();
        w->show();
        QCOMPARE(w->PStatus()->text(), QString("Select the folder to export in the tree."));
        w->Edit(TFField::Emaildir)->clear();
        QTest::keyClicks(w->Edit(TFField::Emaildir), QString::fromStdString(Path("new")));
        w->TV()->setCurrentItem(Item(*w, "Personal Folders/Inbox"));
        QVERIFY(!w->Bmailout()->isEnabled());
        QCOMPARE(w->PStatus()->text(),
                 QString::fromStdString("The export root " + Path("new") + " does not exist: the Create button makes it."));
        QVERIFY(w->Bcreate()->isEnabled());
        QTest::mouseClick(w->Bcreate(), Qt::LeftButton);
        QVERIFY(fs::is_directory(Path("new/atts")));
        QVERIFY(w->Bmailout()->isEnabled());
        QVERIFY(!w->Bcreate()->isEnabled());
        QVERIFY(w->PStatus()->text().startsWith("Ready to export [Inbox]"));
    }

    void theMenuBarCommandsAndTheirKeys() {
        auto w = MakeWindow();
        std::string about, opened;
        w->AboutHook = [&](const std::string&, const std::string& text) { about = text; };
        w->OpenFolderHook = [&](const std::string& path) { opened = path; };
        w->Form().Start();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QList<QAction*> menus = w->MenuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), QString("&File"));
        QCOMPARE(menus[1]->text(), QString("&Help"));
        struct Key {
            const char* name;
            QKeySequence keys;
        };
        for (const Key& k : {Key{"FileOpenStore", QKeySequence::Open}, Key{"FileCloseStore", QKeySequence("Ctrl+W")},
                             Key{"FileOpenArchive", QKeySequence("Ctrl+E")}, Key{"FileExit", QKeySequence("Ctrl+Q")},
                             Key{"HelpAbout", QKeySequence("F1")}}) {
            QAction* a = w->Command(k.name);
            QVERIFY2(a, k.name);
            QCOMPARE(a->shortcut(), k.keys);
        }
        QTest::keyClick(w.get(), Qt::Key_F1);
        QVERIFY(about.find("Quillmark") != std::string::npos);
        MakeValidInputs(*w);
        QTest::keyClick(w.get(), Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(opened, Path("root"));
        w->OpenFileHook = [&] { return std::optional<std::string>("/srv/mail/ann.mbox"); };
        QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w->Form().MailStores(), std::vector<std::string>{"/srv/mail/ann.mbox"});
        QTest::keyClick(w.get(), Qt::Key_W, Qt::ControlModifier); // the only store: no question
        QVERIFY(w->Form().MailStores().empty());
        QTest::keyClick(w.get(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!w->isVisible());
    }

    void includeSubfoldersUnderTheTreeTakesTheFoldersBelow() {
        auto below = inbox_->AddFolder(u"Below");
        below->AddMail()->SetDate(outlook::dispid::ReceivedTime, EncodeDate(2004, 2, 1));
        auto w = MakeWindow();
        w->Form().Start();
        w->show();
        MakeValidInputs(*w);
        QCOMPARE(w->Subfolders()->text(), QString("Include subfolders"));
        QVERIFY(!w->Subfolders()->isChecked());
        QVERIFY(w->Subfolders()->geometry().top() > w->TV()->geometry().bottom());
        QTest::mouseClick(w->Subfolders(), Qt::LeftButton, {}, QPoint(8, w->Subfolders()->height() / 2));
        QVERIFY(w->IncludeSubfolders());
        QTest::mouseClick(w->Bmailout(), Qt::LeftButton);
        QVERIFY2(w->PStatus()->text().startsWith("Done: 5 mails exported"), qPrintable(w->PStatus()->text()));
        QCOMPARE(w->PB()->maximum(), 5);
        QCOMPARE(PageCount(), 4);
        QVERIFY(fs::exists(Path("root/Below/2004")));
        QVERIFY(errors_.empty());
    }

    void theWindowGrowsAndTheTreeFieldsAndMemoGrowWithIt() {
        auto w = MakeWindow();
        w->Form().Start();
        w->show();
        const int treeW = w->TV()->width(), treeH = w->TV()->height();
        const int editW = w->Edit(TFField::Email)->width(), memoW = w->Mre_subj()->width();
        const int memoH = w->Mre_subj()->height();
        const QSize before = w->size();
        w->resize(w->width() + 400, w->height() + 200);
        // The screen may hold the window smaller than asked; the controls follow what it got.
        const int dx = w->width() - before.width(), dy = w->height() - before.height();
        QVERIFY(dx > 100 && dy > 100);
        QCOMPARE(w->TV()->height(), treeH + dy);
        QCOMPARE(w->TV()->width(), treeW + dx / 4);
        // The check box stays right under the tree, as wide as it.
        const int gap = w->Subfolders()->geometry().top() - w->TV()->geometry().bottom();
        QVERIFY2(gap > 0 && gap < 12, qPrintable(QString::number(gap)));
        QCOMPARE(w->Subfolders()->width(), w->TV()->width());
        QCOMPARE(w->Edit(TFField::Email)->width(), editW + dx - dx / 4);
        QCOMPARE(w->Mre_subj()->width(), memoW + dx - dx / 4);
        QCOMPARE(w->Mre_subj()->height(), memoH + dy);
        // Right-hand buttons keep to the right edge, the status line to the bottom.
        QCOMPARE(w->Bstop()->geometry().right(), w->Bmail()->geometry().right());
        QVERIFY(w->width() - w->Bmail()->mapTo(w.get(), QPoint(w->Bmail()->width(), 0)).x() < 20);
        QCOMPARE(w->PStatus()->mapTo(w.get(), QPoint(0, w->PStatus()->height())).y(), w->height());
        // Smaller than designed is not allowed.
        w->resize(100, 100);
        QCOMPARE(w->width(), w->minimumWidth());
    }
};

QTEST_MAIN(MainWindowQtTest)
#include "MainWindowQtTest.moc"
