// The main window: the document's tree view, the commands, menu, toolbar and
// status line.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "document/Document.h"

class QAction;
class QFileDialog;
class QLabel;
class QMenuBar;
class QToolBar;
class TAboutBox;

namespace keyloft::ui {
class DocumentModel;
class DocumentPrinter;
class IniTreeView;
}  // namespace keyloft::ui

// Owns the one document for the whole run. Every command is a method named
// after its action; the actions call them through RunCommand, the one place
// where failures of files and the printer become the error dialog.
// What the window needs of the session manager's request to commit data at
// the end of a session (tests give a fake one).
class SessionRequest {
public:
    virtual ~SessionRequest() = default;
    // Asks the session manager whether the user may be asked; may wait for
    // its answer.
    virtual bool allowsInteraction() = 0;
    // Stops the end of the session.
    virtual void cancel() = 0;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `arguments` is the command line as typed, without the program's own
    // name, each argument as its raw bytes; exactly one argument naming an
    // existing regular file is loaded.
    explicit TForm1(const QList<QByteArray>& arguments = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    keyloft::Document& document() { return doc_; }
    keyloft::ui::IniTreeView* treeView() const { return tv1; }
    keyloft::ui::DocumentModel* model() const { return model_.get(); }
    QString statusText() const;
    keyloft::Node* selectedNode() const;
    // Gives the node the selection and makes it visible.
    void selectNode(keyloft::Node* node);
    void makeVisible(keyloft::Node* node);

    // Shared methods of the commands.
    bool IsIniLoade();
    int ChildCountOfSelection();
    // Replaces the document by the file's reading; throws keyloft::FileError
    // before anything changed when the file cannot be read. `path` is the
    // file's name as the system has it (bytes), or as Qt shows it.
    void LoadIniFile(const QByteArray& path);
    void LoadIniFile(const QString& path);
    // Examines the nodes from the view's selected node to the end in tree
    // order; makes each match visible when asked; reports the count in the
    // status line; returns the last match.
    keyloft::Node* GetNodeByText(keyloft::ui::IniTreeView* tv, const QString& text,
                                 bool makeVisible);

    // Runs a command, showing any failure of files or the printer. An open
    // in-place edit is finished first (FinishEdit); when its text is refused
    // the command does not run.
    void RunCommand(const std::function<void()>& command);
    // Finishes an open in-place edit as Enter does, or as Escape does when
    // its text is unchanged; false when the typed text was refused (its
    // warning was shown).
    bool FinishEdit();
    // The session manager's request at the end of a session: a changed
    // document gets the close question, when the user may be asked; the
    // answers that keep the window open cancel the end of the session.
    // Once answered, the close that ends the session asks nothing.
    void commitDataRequest(SessionRequest& request);
    // Replaces the printer Print INI uses (tests give one whose printing
    // system fails).
    void usePrinter(std::unique_ptr<keyloft::ui::DocumentPrinter> printer);

public slots:
    void actOpenExecute();
    void actNewSectionExecute();
    void actNewValueExecute();
    void actremoveExecute();
    void actExpandAllExecute();
    void actCollapseAllExecute();
    void actfindExecute();
    void actINIExecute();
    void actSaveINIExecute();
    void actClearAllExecute();
    void actPrintExecute();
    void actAboutExecute();
    void actExitExecute();
    void actRemarkExecute();
    void actRemoveCommentExecute();
    void actEditLineExecute();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateComponents();
    void CreateCommands();
    void FormCreate(const QList<QByteArray>& arguments);
    void LoadIniFromCommand(const QByteArray& path);
    // Shows `dialog` in `folder` with `name` proposed and selected, so that
    // typing replaces it; returns the chosen path, or nothing when
    // cancelled. The chosen file's folder is remembered for the run.
    std::optional<QString> AskFile(QFileDialog& dialog, const QString& folder, const QString& name);
    bool FormCloseQuery();
    void tv1Edited(keyloft::Node* node, const QString& text);
    // Save INI as: returns true when a file was written, false when there was
    // no document or the dialog was cancelled; throws on a file failure.
    bool SaveIni();
    void ChangeComment(bool comment);
    void SetStatus(const QString& text);
    void ShowFailure(const std::exception& failure);

    keyloft::Document doc_;
    std::unique_ptr<keyloft::ui::DocumentModel> model_;

    QMenuBar* mm1 = nullptr;
    keyloft::ui::IniTreeView* tv1 = nullptr;
    QToolBar* acttb1 = nullptr;
    QLabel* statusText_ = nullptr;
    TAboutBox* AboutBox = nullptr;
    std::unique_ptr<keyloft::ui::DocumentPrinter> printer_;

    // The file behind the document, as the path it was loaded by (bytes);
    // empty for a new document.
    QByteArray loadedPath_;
    // The root's text as the load gave it: while the root keeps it, Save
    // writes to loadedPath_ itself.
    std::string loadedRoot_;
    // The folder the editor was started from.
    QString startFolder_;
    // The path last chosen in the open dialog, offered by the next one;
    // empty until a file was chosen in it.
    QString openChosen_;
    // The folder of the file last chosen in either file dialog; at first the
    // start folder. A new document is saved there.
    QString chosenFolder_;
    // Set by an edit whose text could not be stored.
    bool editRefused_ = false;
    // The session manager's commit request was answered: the close that
    // follows it asks nothing. Any command clears it.
    bool sessionAnswered_ = false;
};
