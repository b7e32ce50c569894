// The Qt view of the main window, offscreen, over the in-memory store: that the widgets are
// the designed ones and that clicks, typing and the event turns of a run reach TF.
#include "app/gui/QuillmarkMainView.h"

#include "FakeOutlook.h"
#include "SrcLib/DateTime.h"
#include "platform/SettingsStore.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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

    QTreeWidgetItem* Item(TFMainWindow& w, const QString& path) {
        QTreeWidgetItem* found = nullptr;
        QStringList names = path.split('/');
        for (int i = 0; i < w.TV()->topLevelItemCount(); ++i)
            if (w.TV()->topLevelItem(i)->text(0) == names[0]) found = w.TV()->topLevelItem(i);
        for (int n = 1; found && n < names.size(); ++n) {
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; i < found->childCount(); ++i)
                if (found->child(i)->text(0) == names[n]) next = found->child(i);
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
        QCOMPARE(w->minimumSize(), w->maximumSize()); // fixed size
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
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
        QVERIFY(w->findChild<QLabel*>("Label1")->isHidden());
        QVERIFY(w->Mre_subj()->isHidden());
        // Tab order: tree, template, Browse, root, attachments, the group's fields, Export, Stop.
        QStringList order;
        QWidget* at = w->TV();
        do {
            if ((at->focusPolicy() & Qt::TabFocus) && !at->objectName().isEmpty() && !at->objectName().startsWith("qt_"))
                order << at->objectName();
            at = at->nextInFocusChain();
        } while (at != w->TV());
        QCOMPARE(order, QStringList({"TV", "Email", "Bmail", "Emaildir", "Eattdir", "Edat1", "Edat2", "Esize",
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
        QCOMPARE(w->PStatus()->text(), QString("Break."));
        QCOMPARE(w->PStatus()->palette().color(QPalette::Window), QColor(Qt::red));
        QCOMPARE(PageCount(), 1);
        QVERIFY(!w->Bstop()->isEnabled());
        QVERIFY(!w->Bmailout()->isEnabled()); // until validation runs again
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
        QCOMPARE(w->PStatus()->text(), QString("ok"));
        QVERIFY(!w->isVisible()); // closed once the run had returned
        QVERIFY(app_->Disconnected);
        auto key = store_->OpenKey(w->Form().SettingsKeyPath(), false);
        QVERIFY(key != nullptr);
        QCOMPARE(QString::fromStdString(key->ReadString("FromDateTime")), QString("2005-01-04"));
    }
};

QTEST_MAIN(MainWindowQtTest)
#include "MainWindowQtTest.moc"
