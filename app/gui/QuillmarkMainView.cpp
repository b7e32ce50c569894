#include "app/gui/QuillmarkMainView.h"

#include "app/gui/QuillmarkArt.h"
#include "platform/CodePage.h"

#include <QApplication>

#include <algorithm>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QInputDialog>
#include <QKeySequence>
#include <QMenuBar>
#include <QResizeEvent>
#include <QUrl>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

namespace quillmark::gui {

namespace {

QString Q(const std::string& ansi) { return QString::fromStdString(ansi); }
std::string A(const QString& text) { return text.toStdString(); }

void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Dp(left), Dp(top), Dp(width), Dp(height));
    // Labels size themselves to their text, as the designed ones do: the desktop's font may
    // be wider than the one the layout was drawn with.
    if (auto* label = qobject_cast<QLabel*>(w)) label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
}

QLabel* HelpLabel(QWidget* parent, const char* name, const char* caption, const char* tip) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    if (tip) {
        l->setToolTip(tip);
        l->setCursor(Qt::WhatsThisCursor);
    }
    return l;
}

} // namespace

class TLinkLabel : public QLabel {
public:
    TLinkLabel(QWidget* parent, const char* name, const char* caption, const char* tip, std::function<void()> click)
        : QLabel(caption, parent), click_(std::move(click)) {
        setObjectName(name);
        setToolTip(tip);
        setCursor(Qt::PointingHandCursor);
        QFont f = font();
        f.setPixelSize(std::max(Dp(10), 9)); // no smaller than a screen can show legibly
        f.setUnderline(true);
        setFont(f);
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, QColor(0, 0, 128)); // navy
        setPalette(pal);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) click_();
    }

private:
    std::function<void()> click_;
};

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

TFMainWindow::TFMainWindow(TFEnvironment env)
    : QWidget(nullptr, Qt::Window) {
    setObjectName("F");
    QFont font;
    font.setFamilies({"Tahoma", "Liberation Sans", "DejaVu Sans Condensed", "DejaVu Sans"});
    font.setPixelSize(Dp(16));
    setFont(font);
    setWindowIcon(QuillmarkIcon());
    // The designed size is the smallest: the window grows, and the tree, the fields and the
    // expression memo grow with it.
    menuBar_ = new QMenuBar(this);
    menuBar_->setObjectName("MainMenu");
    body_ = new QWidget(this);
    body_->setObjectName("Body");
    BuildControls();
    BuildMenu();
    // The menu bar's height is known once it holds its menus.
    // The status line is at least as tall as its font needs: a larger desktop font would
    // cut its text off at the bottom.
    const int menuHeight = menuBar_->sizeHint().height() + StatusExtra();
    setMinimumSize(Dp(784), Dp(401) + menuHeight);
    resize(Dp(784), Dp(401) + menuHeight);
    move(695, 439);
    LayOut();
    form_ = std::make_unique<TF>(*this, std::move(env));
}

TFMainWindow::~TFMainWindow() {
    while (busyDepth_ > 0) SetBusyCursor(false);
    // TF goes before the child widgets; nothing they signal while being torn down may
    // reach it.
    for (QObject* child : findChildren<QObject*>()) child->blockSignals(true);
}

void TFMainWindow::BuildControls() {
    auto guarded = [this](std::function<void()> f) {
        return [this, f = std::move(f)] { form_->Guarded(f); };
    };

    Place(HelpLabel(body_, "Ltv", "1. Select folder to export", nullptr), 6, 6, 175, 19);
    tv_ = new QTreeWidget(body_);
    tv_->setObjectName("TV");
    // The tree gives the room of one line to the check box under it, which belongs to the
    // folder chosen there.
    Place(tv_, 6, 30, 203, 307);
    subfolders_ = new QCheckBox("Include subfolders", body_);
    subfolders_->setObjectName("CBsubfolders");
    subfolders_->setToolTip("Export the folder and every folder below it, each into a folder of its own below the root");
    Place(subfolders_, 6, 341, 203, 22);
    tv_->setHeaderHidden(true);
    tv_->setIndentation(Dp(21));
    QFont bold = font();
    bold.setBold(true);
    tv_->setFont(bold);
    tv_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tv_, &QTreeWidget::currentItemChanged, this, [this, guarded](QTreeWidgetItem* item, QTreeWidgetItem*) {
        const outlook::FolderNode* node = nullptr;
        if (item) node = static_cast<const outlook::FolderNode*>(item->data(0, Qt::UserRole).value<const void*>());
        guarded([this, node] { form_->TVChange(node); })();
    });
    connect(tv_, &QTreeWidget::customContextMenuRequested, this, &TFMainWindow::ShowTreeMenu);

    Place(HelpLabel(body_, "Lmail", "2. Select mail template file", "This is template for the email output"), 218, 6,
          187, 19);
    auto makeEdit = [this, guarded](QWidget* parent, TFField field, const char* name) {
        auto* e = new QLineEdit(parent);
        e->setObjectName(name);
        edits_[field] = e;
        // Only the user's typing comes through here; TF validates its own changes itself.
        connect(e, &QLineEdit::textEdited, this, [this, field, guarded](const QString&) {
            guarded([this, field] { form_->FieldChanged(field); })();
        });
        return e;
    };
    Place(makeEdit(body_, TFField::Email, "Email"), 218, 30, 470, 27);
    bmail_ = new QPushButton("Browse...", body_);
    bmail_->setObjectName("Bmail");
    Place(bmail_, 693, 30, 84, 29);
    connect(bmail_, &QPushButton::clicked, this, guarded([this] { form_->BmailClick(); }));
    bcreate_ = new QPushButton("Create", body_);
    bcreate_->setObjectName("Bcreate");
    bcreate_->setToolTip("Create the export root and its attachments directory");
    bcreate_->setEnabled(false);
    Place(bcreate_, 693, 88, 84, 29);
    connect(bcreate_, &QPushButton::clicked, this, guarded([this] { form_->CreateFoldersClick(); }));

    Place(HelpLabel(body_, "Lmaildir", "3. Select export root directory (html file output)",
                    "An existing directory for output of mail files"),
          218, 65, 337, 19);
    Place(makeEdit(body_, TFField::Emaildir, "Emaildir"), 218, 89, 357, 27);
    Place(HelpLabel(body_, "Lattdir", "Attachments dir", "Root + dir = Attachment dir"), 580, 65, 112, 19);
    QLineEdit* eattdir = makeEdit(body_, TFField::Eattdir, "Eattdir");
    eattdir->setText("atts");
    Place(eattdir, 580, 89, 108, 27);

    gbrestrict_ = new QGroupBox("4. Restrict output with:", body_);
    gbrestrict_->setObjectName("GBrestrict");
    Place(gbrestrict_, 218, 125, 470, 185);
    Place(HelpLabel(gbrestrict_, "Ldat1", "From datetime:", "Output only email >= datetime"), 6, 24, 109, 19);
    l1990_ = new TLinkLabel(gbrestrict_, "L1990", "1990", "Set date to 1990-01-01",
                            guarded([this] { form_->L1990Click(); }));
    Place(l1990_, 125, 36, 20, 12);
    Place(makeEdit(gbrestrict_, TFField::Edat1, "Edat1"), 6, 48, 144, 27);
    Place(HelpLabel(gbrestrict_, "Ldat2", "To datetime:", "Output only email <= datetime"), 154, 24, 91, 19);
    l2005_ = new TLinkLabel(gbrestrict_, "L2005", "200x", "Set date to tomorrow", guarded([this] { form_->L2005Click(); }));
    Place(l2005_, 273, 36, 20, 12);
    QLineEdit* edat2 = makeEdit(gbrestrict_, TFField::Edat2, "Edat2");
    edat2->setToolTip("Output only email <= datetime");
    Place(edat2, 154, 48, 144, 27);
    Place(HelpLabel(gbrestrict_, "Lsize", "Body size >bytes", "Output only email with body size larger than"), 309, 24,
          120, 19);
    Place(makeEdit(gbrestrict_, TFField::Esize, "Esize"), 309, 48, 120, 27);
    label1_ = HelpLabel(gbrestrict_, "Label1", "Subject match RegExprs (or, one per line):",
                        "Only export mail which match any of below regular expressions");
    Place(label1_, 6, 83, 300, 19);
    mreSubj_ = new QPlainTextEdit(gbrestrict_);
    mreSubj_->setObjectName("Mre_subj");
    mreSubj_->setLineWrapMode(QPlainTextEdit::NoWrap);
    mreSubj_->setTabChangesFocus(true);
    Place(mreSubj_, 6, 107, 452, 72);

    bmailout_ = new QPushButton("5. Export ...", body_);
    bmailout_->setObjectName("Bmailout");
    Place(bmailout_, 218, 327, 470, 36);
    bmailout_->setEnabled(false);
    connect(bmailout_, &QPushButton::clicked, this, guarded([this] { form_->BmailoutClick(); }));
    bstop_ = new QPushButton("Stop !", body_);
    bstop_->setObjectName("Bstop");
    Place(bstop_, 693, 327, 84, 36);
    bstop_->setEnabled(false);
    connect(bstop_, &QPushButton::clicked, this, guarded([this] { form_->BstopClick(); }));

    pb_ = new QProgressBar(body_);
    pb_->setObjectName("PB");
    pb_->setRange(0, 100);
    pb_->setValue(0);
    pb_->setTextVisible(false);
    pb_->setGeometry(0, Dp(369), Dp(784), Dp(12));
    pstatus_ = new QLabel(body_);
    pstatus_->setObjectName("PStatus");
    pstatus_->setFrameStyle(QFrame::Panel | QFrame::Sunken); // lowered bevel
    pstatus_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pstatus_->setAutoFillBackground(true);
    pstatus_->setIndent(Dp(4));
    pstatus_->setGeometry(0, Dp(381), Dp(784), Dp(401) - Dp(381));

    // Tab order as designed: the tree, template, Browse, root, attachments, the group's
    // fields, Export, Stop. The progress bar and the status line take no focus.
    QWidget* order[] = {tv_, subfolders_, edits_[TFField::Email], bmail_, edits_[TFField::Emaildir], edits_[TFField::Eattdir], bcreate_,
                        edits_[TFField::Edat1], edits_[TFField::Edat2], edits_[TFField::Esize], mreSubj_, bmailout_,
                        bstop_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void TFMainWindow::BuildMenu() {
    auto guarded = [this](std::function<void()> f) {
        return [this, f = std::move(f)] { form_->Guarded(f); };
    };
    auto add = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& keys) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        return a;
    };
    QMenu* file = menuBar_->addMenu("&File");
    connect(add(file, "FileOpenStore", QString::fromUtf8("&Open mail store\u2026"), QKeySequence::Open),
            &QAction::triggered, this, [this] { OpenStoreCommand(); });
    connect(add(file, "FileCloseStore", "&Close store", QKeySequence(Qt::CTRL | Qt::Key_W)), &QAction::triggered, this,
            [this] { CloseStoreCommand(); });
    file->addSeparator();
    connect(add(file, "FileOpenArchive", "Open &archive folder", QKeySequence(Qt::CTRL | Qt::Key_E)),
            &QAction::triggered, this, guarded([this] { form_->OpenArchiveFolderClick(); }));
    connect(add(file, "FileOpenArchiveIndex", "Open archive in the &browser", QKeySequence(Qt::CTRL | Qt::Key_B)),
            &QAction::triggered, this, guarded([this] { form_->OpenArchiveClick(); }));
    file->addSeparator();
    connect(add(file, "FileExit", "E&xit", QKeySequence(Qt::CTRL | Qt::Key_Q)), &QAction::triggered, this,
            [this] { close(); });
    QMenu* help = menuBar_->addMenu("&Help");
    connect(add(help, "HelpAbout", "&About Quillmark", QKeySequence(Qt::Key_F1)), &QAction::triggered, this,
            guarded([this] { form_->AboutClick(); }));
    // The store commands wait while a run goes on: the tree is the run's source.
    connect(file, &QMenu::aboutToShow, this, [this] {
        Command("FileOpenStore")->setEnabled(!form_->Exporting());
        Command("FileCloseStore")->setEnabled(!form_->Exporting() && !form_->MailStores().empty());
    });
}

QAction* TFMainWindow::Command(const char* name) const { return menuBar_->findChild<QAction*>(name); }

void TFMainWindow::OpenStoreCommand() {
    if (form_->Exporting()) return;
    std::optional<std::string> path;
    if (OpenFileHook) {
        path = OpenFileHook();
    } else {
        // A store is a file (mbox, .pst) or a directory (Maildir, .eml folder): the dialog
        // takes either.
        QFileDialog dialog(this, "Open mail store");
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setNameFilters({"Mail stores (*.mbox *.pst *.ost *.eml mbox Inbox *)", "All files (*)"});
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = A(dialog.selectedFiles().front());
    }
    if (path) form_->Guarded([&] { form_->OpenMailStore(*path); });
}

void TFMainWindow::CloseStoreCommand() {
    const auto& stores = form_->MailStores();
    if (form_->Exporting() || stores.empty()) return;
    std::optional<std::string> path;
    if (stores.size() == 1) {
        path = stores.front();
    } else if (ChooseStoreHook) {
        path = ChooseStoreHook(stores);
    } else {
        QStringList items;
        for (const auto& s : stores) items << Q(s);
        bool ok = false;
        QString chosen = QInputDialog::getItem(this, "Close store", "Mail store to close:", items, 0, false, &ok);
        if (ok) path = A(chosen);
    }
    if (path) form_->Guarded([&] { form_->CloseMailStore(*path); });
}

void TFMainWindow::LayOut() {
    const int menuHeight = menuBar_->sizeHint().height();
    menuBar_->setGeometry(0, 0, width(), menuHeight);
    body_->setGeometry(0, menuHeight, width(), height() - menuHeight);
    const int dx = std::max(0, body_->width() - Dp(784));
    const int dy = std::max(0, body_->height() - Dp(401) - StatusExtra());
    const int tx = dx / 4; // the tree's share of the extra width
    const int fx = dx - tx;
    auto at = [](QWidget* w, int left, int top, int width, int height) { w->setGeometry(left, top, width, height); };
    at(tv_, Dp(6), Dp(30), Dp(203) + tx, Dp(307) + dy);
    at(subfolders_, Dp(6), Dp(341) + dy, Dp(203) + tx, Dp(22));
    auto* lmail = body_->findChild<QLabel*>("Lmail");
    lmail->move(Dp(218) + tx, Dp(6));
    at(Edit(TFField::Email), Dp(218) + tx, Dp(30), Dp(470) + fx, Dp(27));
    bmail_->move(Dp(693) + dx, Dp(30));
    body_->findChild<QLabel*>("Lmaildir")->move(Dp(218) + tx, Dp(65));
    at(Edit(TFField::Emaildir), Dp(218) + tx, Dp(89), Dp(357) + fx, Dp(27));
    body_->findChild<QLabel*>("Lattdir")->move(Dp(580) + dx, Dp(65));
    Edit(TFField::Eattdir)->move(Dp(580) + dx, Dp(89));
    bcreate_->move(Dp(693) + dx, Dp(88));
    at(gbrestrict_, Dp(218) + tx, Dp(125), Dp(470) + fx, Dp(185) + dy);
    at(mreSubj_, Dp(6), Dp(107), Dp(452) + fx, Dp(72) + dy);
    at(bmailout_, Dp(218) + tx, Dp(327) + dy, Dp(470) + fx, Dp(36));
    bstop_->move(Dp(693) + dx, Dp(327) + dy);
    at(pb_, 0, Dp(369) + dy, body_->width(), Dp(12));
    at(pstatus_, 0, Dp(381) + dy, body_->width(), body_->height() - Dp(381) - dy);
}

int TFMainWindow::StatusExtra() const {
    return std::max(0, pstatus_->fontMetrics().height() + Dp(6) - (Dp(401) - Dp(381)));
}

void TFMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (body_ && pstatus_) LayOut();
}

QLineEdit* TFMainWindow::Edit(TFField field) const {
    auto it = edits_.find(field);
    return it == edits_.end() ? nullptr : it->second;
}

QLabel* TFMainWindow::L1990() const { return l1990_; }
QLabel* TFMainWindow::L2005() const { return l2005_; }

QTreeWidgetItem* TFMainWindow::ItemOf(const outlook::FolderNode* node) const {
    auto it = items_.find(node);
    return it == items_.end() ? nullptr : it->second;
}

void TFMainWindow::ShowTreeMenu(const QPoint& at) {
    // The tree's own menu offers the store commands of the File menu.
    QMenu menu(this);
    QAction* open = menu.addAction(QString::fromUtf8("Open mail store\u2026"));
    QAction* close = menu.addAction("Close store");
    open->setEnabled(!form_->Exporting());
    close->setEnabled(!form_->Exporting() && !form_->MailStores().empty());
    QAction* chosen = menu.exec(tv_->viewport()->mapToGlobal(at));
    if (chosen == open) OpenStoreCommand();
    if (chosen == close) CloseStoreCommand();
}

void TFMainWindow::ShowSplash() { splash_.ShowNow(); }

void TFMainWindow::AddSplashLine(const std::string& text) { gui::AddSplashLine(splash_, text); }

void TFMainWindow::HideSplash() { splash_.hide(); }

void TFMainWindow::SetTitle(const std::string& title) { setWindowTitle(Q(title)); }

std::string TFMainWindow::FieldText(TFField field) {
    if (field == TFField::Mre_subj) {
        // The memo's lines joined by CR LF.
        std::string text = A(mreSubj_->toPlainText());
        std::string out;
        for (char c : text) {
            if (c == '\n') out += '\r';
            out += c;
        }
        return out;
    }
    return A(Edit(field)->text());
}

void TFMainWindow::SetFieldText(TFField field, const std::string& text) {
    if (field == TFField::Mre_subj) {
        std::string lines;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                lines += '\n';
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            } else {
                lines += text[i];
            }
        }
        mreSubj_->setPlainText(Q(lines));
        return;
    }
    QLineEdit* e = Edit(field);
    e->setText(Q(text));
    e->setCursorPosition(0); // a long path shows its beginning
}

void TFMainWindow::SetFieldValid(TFField field, bool valid) {
    QLineEdit* e = Edit(field);
    QPalette pal = e->palette();
    pal.setColor(QPalette::Text, valid ? QApplication::palette().color(QPalette::Text) : QColor(Qt::red));
    e->setPalette(pal);
}

void TFMainWindow::SetExportEnabled(bool enabled) { bmailout_->setEnabled(enabled); }

void TFMainWindow::SetExportCaption(const std::string& caption) { bmailout_->setText(Q(caption)); }

void TFMainWindow::SetStopEnabled(bool enabled) { bstop_->setEnabled(enabled); }

void TFMainWindow::SetStatus(const std::string& text, int mode) {
    pstatus_->setText(Q(text));
    if (mode == 0 || mode == 1) {
        QPalette pal = pstatus_->palette();
        pal.setColor(QPalette::Window, mode == 0 ? QApplication::palette().color(QPalette::Button) : QColor(Qt::red));
        pstatus_->setPalette(pal);
    }
    pstatus_->repaint(); // shows at once, even while the run keeps the thread busy
}

void TFMainWindow::SetProgressMax(int maximum) { pb_->setMaximum(std::max(0, maximum)); }

void TFMainWindow::SetProgress(int position) { pb_->setValue(position); }

void TFMainWindow::ProcessPendingEvents() { QCoreApplication::processEvents(); }

void TFMainWindow::SetBusyCursor(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

TFBounds TFMainWindow::Bounds() {
    const QRect frame = frameGeometry();
    return {pos().x(), pos().y(), frame.width(), frame.height()};
}

void TFMainWindow::MoveTo(int left, int top) { move(left, top); } // not checked against the screen

void TFMainWindow::SetSize(int width, int height) {
    // The size remembered is the outer one (Bounds); the frame's share comes off.
    const QRect frame = frameGeometry();
    const int w = width - (frame.width() - this->width());
    const int h = height - (frame.height() - this->height());
    resize(std::max(w, minimumWidth()), std::max(h, minimumHeight()));
}

void TFMainWindow::SetCreateFoldersEnabled(bool enabled) { bcreate_->setEnabled(enabled); }

void TFMainWindow::OpenFolder(const std::string& path) {
    if (OpenFolderHook) {
        OpenFolderHook(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
}

void TFMainWindow::ShowAbout(const std::string& title, const std::string& text) {
    if (AboutHook) {
        AboutHook(title, text);
        return;
    }
    QMessageBox::about(this, Q(title), Q(text));
}

void TFMainWindow::AddChildren(QTreeWidgetItem* parent, const outlook::FolderNode& node) {
    for (const auto& child : node.Children) {
        auto* item = new QTreeWidgetItem(parent, QStringList{Q(form_->NodeCaption(*child))});
        item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<const void*>(child.get())));
        items_[child.get()] = item;
        AddChildren(item, *child);
    }
}

void TFMainWindow::ShowTree(const outlook::FolderTreeModel& tree) {
    QSignalBlocker block(tv_); // rebuilding is no selection by the user
    tv_->clear();
    items_.clear();
    for (const auto& top : tree.TopLevel()) {
        auto* item = new QTreeWidgetItem(tv_, QStringList{Q(form_->NodeCaption(*top))});
        item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<const void*>(top.get())));
        items_[top.get()] = item;
        AddChildren(item, *top);
    }
    tv_->setCurrentItem(nullptr);
}

bool TFMainWindow::IncludeSubfolders() { return subfolders_->isChecked(); }

void TFMainWindow::SetIncludeSubfolders(bool include) { subfolders_->setChecked(include); }

const outlook::FolderNode* TFMainWindow::SelectedNode() {
    QTreeWidgetItem* item = tv_->currentItem();
    if (!item || !item->isSelected()) return nullptr;
    return static_cast<const outlook::FolderNode*>(item->data(0, Qt::UserRole).value<const void*>());
}

std::optional<std::string> TFMainWindow::AskOpenFile(const std::string& initialDir, const std::string& fileName,
                                                     const std::string& filter, const std::string& defaultExt) {
    if (OpenFileHook) return OpenFileHook();
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDirectory(Q(initialDir));
    dialog.selectFile(QFileInfo(Q(fileName)).fileName());
    // "Description (*.ext)|*.ext|..." -> the descriptions, which carry their patterns.
    QStringList filters;
    const QStringList parts = Q(filter).split('|');
    for (int i = 0; i < parts.size(); i += 2) filters << parts[i];
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(Q(defaultExt));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return A(dialog.selectedFiles().front());
}

std::optional<std::string> TFMainWindow::AskFolder(const std::string& initialDir) {
    if (FolderHook) return FolderHook();
    const QString dir = QFileDialog::getExistingDirectory(this, "Select directory", Q(initialDir));
    if (dir.isEmpty()) return std::nullopt;
    return A(dir);
}

void TFMainWindow::ShowError(const std::string& message) {
    const std::string text = ErrorBoxText(message);
    if (ErrorHook) {
        ErrorHook(text);
        return;
    }
    // The busy cursor must not hide the pointer over the box.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox::critical(isVisible() ? this : nullptr, "Quillmark", Q(text));
    QApplication::restoreOverrideCursor();
}

void TFMainWindow::CloseWindow() { close(); }

void TFMainWindow::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    if (!form_->FormCloseQuery()) {
        event->ignore();
        return;
    }
    closed_ = true;
    form_->Close();
    splash_.close();
    event->accept();
}

} // namespace quillmark::gui
