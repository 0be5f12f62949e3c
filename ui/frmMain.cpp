// The main window: components, the command table, start-up and shut-down.
#include "frmMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "About.h"
#include "BusyCursor.h"
#include "Dialogs.h"
#include "DocumentModel.h"
#include "DocumentPrinter.h"
#include "DocumentText.h"
#include "IniTreeView.h"
#include "NodeDelegate.h"
#include "base/Failure.h"
#include "files/FileSystem.h"
#include "files/IniFile.h"

using keyloft::Node;
using namespace keyloft::ui;

namespace {

// One row of the command table.
struct Command {
    const char* name;
    const char* hint;
    const char* icon;
    const char* caption;
    int toolbarPosition;
    void (TForm1::*handler)();
};

// In the order of the action list.
const Command kCommands[] = {
    {"actOpen", "Open INI file...", "open", "Open INI...", 1, &TForm1::actOpenExecute},
    {"actNewSection", "Add a section...", "new-section", "New Section...", 6,
     &TForm1::actNewSectionExecute},
    {"actNewValue", "Add a key...", "new-key", "New Key...", 7, &TForm1::actNewValueExecute},
    {"actremove", "Remove section or key", "delete", "Delete Section or Key...", 8,
     &TForm1::actremoveExecute},
    {"actExpandAll", "Expand all", "expand-all", "Expand all", 9, &TForm1::actExpandAllExecute},
    {"actCollapseAll", "Collapse all", "collapse-all", "Collapse All", 10,
     &TForm1::actCollapseAllExecute},
    {"actfind", "Find text string...", "find", "Find...", 11, &TForm1::actfindExecute},
    {"actINI", "Start a new INI file...", "new-ini", "New INI...", 3, &TForm1::actINIExecute},
    {"actSaveINI", "Save INI as...", "save", "Save INI...", 2, &TForm1::actSaveINIExecute},
    {"actClearAll", "Close INI", "close-ini", "Close INI", 4, &TForm1::actClearAllExecute},
    {"actPrint", "Print INI", "print", "Print INI", 14, &TForm1::actPrintExecute},
    {"actAbout", "About Keyloft...", "about", "About...", 15, &TForm1::actAboutExecute},
    {"actExit", "Exit Keyloft", "exit", "Exit", 16, &TForm1::actExitExecute},
    {"actRemark", "Comment a line", "comment", "Comment Line", 12, &TForm1::actRemarkExecute},
    {"actRemoveComment", "Remove comment from line", "remove-comment", "Remove Comment", 13,
     &TForm1::actRemoveCommentExecute},
    {"actEditLine", "Edit line", "edit-line", "Edit Line", 5, &TForm1::actEditLineExecute},
};

// The menus, left to right; nullptr items are separators (named).
struct MenuItem {
    const char* action;     // nullptr for a separator
    const char* separator;  // its name
};
struct Menu {
    const char* name;
    const char* caption;
    std::vector<MenuItem> items;
};

const Menu kMenus[] = {
    {"FileMenu1",
     "File",
     {{"actOpen", nullptr},
      {"actINI", nullptr},
      {"actSaveINI", nullptr},
      {"actClearAll", nullptr},
      {nullptr, "N2"},
      {"actPrint", nullptr},
      {nullptr, "N1"},
      {"actExit", nullptr}}},
    {"Edit1",
     "Edit",
     {{"actEditLine", nullptr},
      {"actNewSection", nullptr},
      {"actNewValue", nullptr},
      {"actremove", nullptr},
      {nullptr, "N3"},
      {"actRemark", nullptr},
      {"actRemoveComment", nullptr}}},
    {"View1", "View", {{"actExpandAll", nullptr}, {"actCollapseAll", nullptr}}},
    {"Search1", "Search", {{"actfind", nullptr}}},
    {"Help1", "Help", {{"actAbout", nullptr}}},
};

// Keeps the style from painting the indentation of a selected row.
class NoSelectedDecorationStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_ItemView_ShowDecorationSelected) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The editor keeps nothing between runs. Qt's own dialogs keep settings of
// their own (the file dialog its history and last folder) under the
// "QtProject" name; user and system settings of this process go to a place
// under /dev/null, which can never be created, so they are neither read nor
// written.
void KeepNoSettings() {
    for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope}) {
        QSettings::setPath(QSettings::NativeFormat, scope, "/dev/null");
        QSettings::setPath(QSettings::IniFormat, scope, "/dev/null");
    }
}

}  // namespace

TForm1::TForm1(const QList<QByteArray>& arguments, QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle("Keyloft 1.0");
    model_ = std::make_unique<DocumentModel>(doc_);
    printer_ = std::make_unique<DocumentPrinter>();
    CreateComponents();
    CreateCommands();
    FormCreate(arguments);
    AboutBox = new TAboutBox(this);
    AboutBox->hide();
}

TForm1::~TForm1() {
    // The view goes before the model it shows.
    delete tv1;
    tv1 = nullptr;
}

void TForm1::CreateComponents() {
    QFont font;
    font.setFamilies({"Tahoma", font.defaultFamily()});
    font.setPixelSize(11);
    setFont(font);
    resize(664, 447);

    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* pnl2 = new QFrame(client);
    pnl2->setObjectName("pnl2");
    pnl2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnl2->setLineWidth(1);
    auto* treeLayout = new QVBoxLayout(pnl2);
    treeLayout->setContentsMargins(1, 1, 1, 1);

    tv1 = new IniTreeView(pnl2);
    tv1->setObjectName("tv1");
    QFont treeFont;
    treeFont.setFamilies({"Tahoma", treeFont.defaultFamily()});
    treeFont.setPixelSize(13);
    tv1->setFont(treeFont);
    tv1->setHeaderHidden(true);
    tv1->setUniformRowHeights(true);
    tv1->setIndentation(19);
    tv1->setRootIsDecorated(true);
    tv1->setSelectionMode(QAbstractItemView::SingleSelection);
    tv1->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    tv1->setContextMenuPolicy(Qt::NoContextMenu);
    // The node delegate paints a selected node's label silver; nothing else
    // of the row is highlighted.
    auto* treeStyle = new NoSelectedDecorationStyle;
    treeStyle->setParent(tv1);
    tv1->setStyle(treeStyle);
    tv1->setDocumentModel(model_.get());
    tv1->setItemDelegate(new NodeDelegate(*tv1->shownModel(), tv1));
    treeLayout->addWidget(tv1);
    layout->addWidget(pnl2, 1);
    connect(model_.get(), &DocumentModel::editAccepted, this, &TForm1::tv1Edited);

    auto* pnl1 = new QFrame(client);
    pnl1->setObjectName("pnl1");
    pnl1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnl1->setLineWidth(1);
    pnl1->setFixedHeight(62);
    auto* bottom = new QVBoxLayout(pnl1);
    bottom->setContentsMargins(1, 0, 1, 0);
    bottom->setSpacing(0);

    acttb1 = new QToolBar(pnl1);
    acttb1->setObjectName("acttb1");
    acttb1->setIconSize(QSize(32, 32));
    acttb1->setFixedHeight(42);
    acttb1->setMovable(false);
    acttb1->setFloatable(false);
    acttb1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    acttb1->setStyleSheet(
        "QToolBar { background: rgb(247, 246, 238); border: none; spacing: 0px; padding: 0px; }"
        "QToolButton { border: 1px solid transparent; margin: 0px; padding: 2px; }"
        "QToolButton:hover { background: rgb(247, 246, 238); border: 1px solid rgb(160, 160, 160); "
        "}"
        "QToolButton:pressed { background: palette(button); border: 1px solid rgb(120, 120, 120); "
        "}");
    bottom->addWidget(acttb1);

    auto* stat1 = new QStatusBar(pnl1);
    stat1->setObjectName("stat1");
    stat1->setFixedHeight(19);
    stat1->setSizeGripEnabled(false);
    statusText_ = new QLabel(stat1);
    statusText_->setObjectName("statusText");
    stat1->addWidget(statusText_, 1);
    bottom->addWidget(stat1);
    layout->addWidget(pnl1);
    setCentralWidget(client);

    mm1 = new QMenuBar(this);
    mm1->setObjectName("mm1");
    setMenuBar(mm1);

    KeepNoSettings();
    startFolder_ = QDir::currentPath();
    chosenFolder_ = startFolder_;
}

void TForm1::CreateCommands() {
    std::vector<QAction*> toolbar(std::size(kCommands), nullptr);
    for (const Command& command : kCommands) {
        auto* action =
            new QAction(QIcon(QString(":/icons/%1.svg").arg(command.icon)), command.caption, this);
        action->setObjectName(command.name);
        action->setToolTip(command.hint);
        action->setStatusTip(command.hint);
        action->setIconVisibleInMenu(false);
        const auto handler = command.handler;
        connect(action, &QAction::triggered, this,
                [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
        toolbar[static_cast<std::size_t>(command.toolbarPosition - 1)] = action;
    }
    for (QAction* action : toolbar) acttb1->addAction(action);

    for (const Menu& menu : kMenus) {
        QMenu* m = mm1->addMenu(menu.caption);
        m->setObjectName(menu.name);
        for (const MenuItem& item : menu.items) {
            if (item.action == nullptr) {
                m->addSeparator()->setObjectName(item.separator);
                continue;
            }
            // A menu item runs the same action as its toolbar button.
            auto* action = findChild<QAction*>(item.action, Qt::FindDirectChildrenOnly);
            m->addAction(action);
        }
    }
    setWindowIcon(QIcon(":/icons/keyloft.svg"));
}

void TForm1::FormCreate(const QList<QByteArray>& arguments) {
    // Anything but a regular file (a folder, a FIFO, a device) loads nothing.
    if (arguments.size() == 1 && keyloft::IsExistingFile(arguments.front().toStdString())) {
        try {
            LoadIniFromCommand(arguments.front());
        } catch (const std::exception& failure) {
            // Shown before the window; start-up goes on with an empty tree.
            ShowFailure(failure);
            return;
        }
    }
    doc_.ItemsChanged = false;
    SetStatus("Ready");
}

void TForm1::LoadIniFromCommand(const QByteArray& path) { LoadIniFile(path); }

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The outer width, frame included, never goes below 670 pixels, except
    // on a screen narrower than that (at a high scaling): there the window
    // takes the screen's available width, menu and status line in sight.
    const int frame = frameGeometry().width() - geometry().width();
    int outer = 670;
    if (const QScreen* shown = screen())
        outer = std::min(outer, shown->availableGeometry().width());
    setMinimumWidth(std::max(0, outer - frame));
    if (frameGeometry().width() > outer) resize(std::max(0, outer - frame), height());
}

QString TForm1::statusText() const { return statusText_->text(); }

void TForm1::SetStatus(const QString& text) { statusText_->setText(text); }

Node* TForm1::selectedNode() const { return model_->nodeOf(tv1->selectedIndex()); }

void TForm1::selectNode(Node* node) { tv1->selectIndex(model_->indexOf(node)); }

void TForm1::makeVisible(Node* node) {
    const QModelIndex index = model_->indexOf(node);
    tv1->expandAncestors(index);
    tv1->scrollTo(index);
}

bool TForm1::IsIniLoade() {
    if (doc_.Count() > 0) return true;
    ShowInformation(this, "No INI file is loaded");
    return false;
}

int TForm1::ChildCountOfSelection() {
    if (const Node* node = selectedNode()) return node->childCount();
    int topLevel = 0;
    for (std::size_t i = 0; i < doc_.Count(); ++i) {
        if (doc_.NodeAt(i)->level() == 0) ++topLevel;
    }
    return topLevel;
}

void TForm1::LoadIniFile(const QString& path) { LoadIniFile(QFile::encodeName(path)); }

void TForm1::LoadIniFile(const QByteArray& path) {
    const BusyCursor busy;
    const keyloft::LoadResult result = keyloft::LoadIniFile(doc_, path.toStdString());
    loadedPath_ = path;
    std::string scratch;
    loadedRoot_ = std::string(result.root->text(scratch));
    // Root selected and expanded, every section collapsed.
    const QModelIndex root = model_->indexOf(result.root);
    tv1->expand(root);
    tv1->selectIndex(root);
    SetStatus(QString::fromStdString(keyloft::LoadReport(result)));
}

void TForm1::RunCommand(const std::function<void()>& command) {
    sessionAnswered_ = false;
    try {
        if (!FinishEdit()) return;
        command();
    } catch (const std::exception& failure) {
        ShowFailure(failure);
    }
}

bool TForm1::FinishEdit() {
    editRefused_ = false;
    tv1->finishEditing();
    return !editRefused_;
}

void TForm1::usePrinter(std::unique_ptr<DocumentPrinter> printer) { printer_ = std::move(printer); }

void TForm1::ShowFailure(const std::exception& failure) {
    QString message;
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
        message = "Not enough memory";
    } else {
        message = QString::fromStdString(failure.what());
    }
    ShowError(this, QString::fromStdString(keyloft::FailureReportText(message.toStdString())));
}

void TForm1::tv1Edited(Node* node, const QString& text) {
    QString bad;
    const auto bytes = StoredText(doc_, node, text, &bad);
    if (!bytes) {
        editRefused_ = true;
        ShowWarning(this, UnstorableWarning(bad));
        return;
    }
    doc_.SetText(node, *bytes);
    doc_.ItemsChanged = true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The application's own close at the end of a session that was already
    // answered (a close box, Exit or any command since asks again).
    if (sessionAnswered_ && !event->spontaneous()) {
        event->accept();
        return;
    }
    bool canClose = false;
    RunCommand([&] { canClose = FormCloseQuery(); });
    if (canClose) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::commitDataRequest(SessionRequest& request) {
    sessionAnswered_ = false;
    // Without a change there is nothing to ask; without leave to ask the
    // user nothing is asked or saved.
    if ((doc_.ItemsChanged || tv1->isEditing()) && !request.allowsInteraction()) {
        sessionAnswered_ = true;
        return;
    }
    bool canClose = false;
    RunCommand([&] { canClose = FormCloseQuery(); });
    if (canClose) {
        sessionAnswered_ = true;
    } else {
        request.cancel();
    }
}

bool TForm1::FormCloseQuery() {
    if (!doc_.ItemsChanged) return true;
    switch (Confirm(this, "Items where changed, save before exit ?")) {
        case Answer::Yes:
            return SaveIni();  // a cancelled save keeps the window open
        case Answer::No:
            return true;
        case Answer::Cancel:
            return false;
    }
    return false;
}
