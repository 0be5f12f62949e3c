// What a session must leave behind: a small model of the editor's file
// commands, the files of the test folder and the tree, stepped along with
// the real window. Steps are written as the user plays them:
//
//   "actOpen | Enter | =other.ini Enter"   a command, then one answer per dialog
//   "actremove k=1 | Enter"                the node shown as "k=1" selected first
//   "F2 Depth=8 | =Depth=99"               F2 on a node, keys into its editor
//                                          ("-": none, the editor stays open)
//   "write other.ini [o]\nq=1\n"           a file changed on disk (\n escapes)
//   "rm sample.ini.in1"                    a file removed
//
// An answer is keys for the focused widget, blank-separated: "Enter",
// "Escape", "Tab", "^A" (Ctrl+A: select all), "=TEXT" (TEXT typed, over
// the selected text), or "close" (the close box). In a file dialog, Enter
// on ".." or on a folder's name goes to that folder.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <random>

namespace keyloft::test {

// Files of a folder by path relative to it ("sub/inner.ini"), with bytes.
using FileMap = QMap<QString, QByteArray>;

enum class DialogKind { Question, Message, SaveFile, OpenFile, Input };

class SessionModel {
public:
    // The folder holds `files`; the editor starts in it, on `startFile`
    // (a path of `files`) or on nothing.
    SessionModel(FileMap files, const QString& startFile);

    // The answer to the next dialog of a step: its kind, and for a file
    // dialog the name it offers and the folder it shows. An empty answer
    // means "no answer left".
    using Answerer =
        std::function<QString(DialogKind kind, const QString& offered, const QString& folder)>;

    // Steps the model by one step; `answer` gives the answers to the
    // dialogs in turn (and in a generated session, chooses them).
    // Returns the step as played, answers included.
    QString Play(const QString& step, const Answerer& answer);
    // Answers taken in turn from the step's own text.
    QString Play(const QString& step);

    // The dialogs the last step showed, by title; the status line after it
    // when it is known (after a save), else null.
    QStringList dialogs;
    QString status;
    // What a step left out of the script (the step asked more or fewer
    // answers than it had), empty when it fitted.
    QString scriptError;

    FileMap disk;
    bool closed = false;  // the window was closed
    bool changed = false;
    bool editorOpen() const { return pending_.has_value(); }
    // The tree as WindowProbe's Tree() prints it.
    QStringList Tree() const;
    bool HasDocument() const { return present_; }
    // Shown texts of the nodes in tree order (root first).
    QStringList Nodes() const;

    // A random session step for this state; `rng` decides.
    QString RandomStep(std::mt19937& rng);

private:
    struct Line {
        QByteArray text;
        QByteArray eol;
    };
    struct Failed {};  // a file failure: the command ends

    QString Resolve(const QString& folder, const QString& typed) const;
    // The path a file dialog's answer chooses, or nothing when cancelled.
    std::optional<QString> FileAnswer(const QString& answer, QString folder, QString name) const;
    void ApplyPending();
    bool Save();  // throws Failed
    QString Ask(DialogKind kind, const QString& title, const QString& offered = QString(),
                const QString& folder = QString());
    int Answer(const QString& answer) const;  // 0 Yes, 1 No, 2 Cancel
    void Load(const QString& path);
    void Clear();
    int FindNode(const QString& text) const;  // -1 root, index of a line, -2 none

    const Answerer* answerer_ = nullptr;
    QStringList played_;  // the step's answers as given

    bool present_ = false;
    QString root_;
    QList<Line> lines_;
    QString loaded_;      // relative path of the loaded file; empty for a new one
    QString openChosen_;  // last path chosen in the open dialog
    QString chosenFolder_;
    std::optional<std::pair<int, QString>> pending_;  // an open edit: node, its text
};

// The step's head and its answers: "actOpen | Enter" gives "actOpen", {"Enter"}.
QStringList SplitStep(const QString& step);

}  // namespace keyloft::test
