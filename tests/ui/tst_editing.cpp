// The editing commands of the main window: New INI, New Section, New Key,
// Edit Line, Delete, Comment and Remove Comment. Each runs through its
// action on a shown window, with its dialogs answered as a user would; any
// dialog a command shows beyond the expected ones is recorded and rejected,
// so an extra question fails the test instead of hanging it.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "DialogScript.h"
#include "DocumentModel.h"
#include "IniTreeView.h"
#include "WindowProbe.h"
#include "document/Document.h"
#include "frmMain.h"

using keyloft::Node;
using keyloft::test::ClearSelection;
using keyloft::test::DialogScript;
using keyloft::test::IsShown;
using keyloft::test::NodeNamed;
using keyloft::test::OpenWindow;
using keyloft::test::Outcome;
using keyloft::test::Run;
using keyloft::test::Select;
using keyloft::test::SelectedText;
using keyloft::test::Shown;
using keyloft::test::ShowWindow;
using keyloft::test::Tree;
using keyloft::test::Type;
using keyloft::test::WriteFile;
using keyloft::ui::DocumentModel;

namespace {

// How a confirmation dialog is answered.
enum class Reply { Yes, No, Escape, CloseBox };

// How the in-place editor is opened: by the Edit Line command, by the view's
// edit slot (as a click on the selected node's text does), or by F2.
enum class Begin { Command, View, F2 };

// What follows a Yes to the save question: nothing, a cancelled save dialog,
// or a save that fails.
enum class SaveStep { None, Cancel, Fail };

// What the user does in the in-place editor.
enum class EditKeys { TypeAndEnter, Enter, ClearAndEnter, Escape };

void AnswerWith(DialogScript& script, Reply reply) {
    // In the order of Reply.
    static const QString kSteps[] = {"Yes", "No", "Escape", "close box"};
    script.answer({kSteps[static_cast<int>(reply)]});
}

// A node's text as the document holds it.
QByteArray Bytes(const Node* node) {
    return QByteArray(node->storedText().data(), static_cast<qsizetype>(node->storedText().size()));
}

// Input prompt: cancelled, or `typed` typed over its field and accepted.
void Prompt(DialogScript& script, bool cancel, const QString& typed) {
    cancel ? script.cancel() : script.typeAndAccept(typed);
}

// The in-place editor while it is open.
QLineEdit* OpenEditor(TForm1& window) {
    for (auto* editor : window.treeView()->findChildren<QLineEdit*>("nodeEditor")) {
        if (editor->isVisible()) return editor;
    }
    return nullptr;
}

// Sections [s1] (a=1, b=2), [s2] (c=3) and [s3] with no keys.
const QByteArray kThreeSections = "[s1]\r\na=1\r\nb=2\r\n[s2]\r\nc=3\r\n[s3]\r\n";

}  // namespace

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(SaveStep)
Q_DECLARE_METATYPE(Begin)
Q_DECLARE_METATYPE(EditKeys)

class EditingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void newIniNames_data();
    void newIniNames();
    void newIniReplacesAnUnchangedDocumentWithoutAsking();
    void newIniOnAChangedDocument_data();
    void newIniOnAChangedDocument();
    void newIniAfterASaveKeepsTheSaveReport();

    void newSectionTexts_data();
    void newSectionTexts();
    void newSectionGoesLastAndSelectsTheRoot_data();
    void newSectionGoesLastAndSelectsTheRoot();
    void newSectionIsMadeVisible();

    void newKeyTexts_data();
    void newKeyTexts();
    void newKeyNeedsASection_data();
    void newKeyNeedsASection();

    void editLineNeedsASelection();
    void editLine_data();
    void editLine();
    void pastedLinesKeepTheFirst_data();
    void pastedLinesKeepTheFirst();
    void editorTakesLongLines_data();
    void editorTakesLongLines();

    void deleteRefusals_data();
    void deleteRefusals();
    void deleteAnswers_data();
    void deleteAnswers();

    void commentRefusals_data();
    void commentRefusals();
    void commentKey_data();
    void commentKey();
    void commentSection_data();
    void commentSection();
    void commentVisitsOnlyLaidOutRows_data();
    void commentVisitsOnlyLaidOutRows();

    void charactersTheFileCannotHold();
    void utf16FileTakesEveryCharacterAndSavesInItsUnits();
    void emptyDocument_data();
    void emptyDocument();

private:
    QTemporaryDir dir_;
};

void EditingTest::initTestCase() { QVERIFY(dir_.isValid()); }

// --- New INI ---------------------------------------------------------------

void EditingTest::newIniNames_data() {
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("status");

    const QString kept = "Ready";
    const QString created = "Newe INI root created";
    QTest::newRow("mixed case .INI") << false << "Settings.INI"
                                     << "Settings.INI" << kept;
    QTest::newRow("mixed case .Ini") << false << "a.Ini"
                                     << "a.Ini" << kept;
    QTest::newRow(".ini alone") << false << ".ini"
                                << ".ini" << kept;
    QTest::newRow("no extension") << false << "settings"
                                  << "settings.ini" << created;
    QTest::newRow("two letters") << false << "ab"
                                 << "ab.ini" << created;
    QTest::newRow("ini without dot") << false << "ini"
                                     << "ini.ini" << created;
    QTest::newRow("other extension") << false << "a.cfg"
                                     << "a.cfg.ini" << created;
    QTest::newRow("trailing blank") << false << "x.ini "
                                    << "x.ini .ini" << created;
    QTest::newRow("accented i is no i") << false << "x.\u00edni"
                                        << "x.\u00edni.ini" << created;
    QTest::newRow("accepted empty") << false << ""
                                    << ".ini" << created;
    QTest::newRow("cancelled") << true << ""
                               << ".ini" << created;
    QTest::newRow("300 typed") << false << QString(300, 'n') << QString(255, 'n') + ".ini"
                               << created;
}

void EditingTest::newIniNames() {
    QFETCH(bool, cancel);
    QFETCH(QString, typed);
    QFETCH(QString, root);
    QFETCH(QString, status);

    TForm1 window;
    QVERIFY(ShowWindow(window));
    const Outcome out = Run(window, "actINI", [&](DialogScript& s) { Prompt(s, cancel, typed); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].className, QString("QInputDialog"));
    QCOMPARE(out.seen[0].title, QString("New INI File"));
    QCOMPARE(out.seen[0].text, QString("INI File name, Name.ini:"));

    QCOMPARE(Tree(window), QStringList{root});
    QCOMPARE(window.selectedNode(), window.document().First());
    QVERIFY(window.document().ItemsChanged);
    QCOMPARE(window.statusText(), status);
}

void EditingTest::newIniReplacesAnUnchangedDocumentWithoutAsking() {
    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    QVERIFY(!window->document().ItemsChanged);

    const Outcome out = Run(*window, "actINI", [](DialogScript& s) { s.typeAndAccept("new.ini"); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("New INI File"));
    QCOMPARE(Tree(*window), QStringList{"new.ini"});
    QCOMPARE(window->selectedNode(), window->document().First());
    QVERIFY(window->document().ItemsChanged);
}

void EditingTest::newIniOnAChangedDocument_data() {
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<SaveStep>("save");

    QTest::newRow("No") << Reply::No << SaveStep::None;
    QTest::newRow("Escape") << Reply::Escape << SaveStep::None;
    QTest::newRow("close box") << Reply::CloseBox << SaveStep::None;
    // The save did not happen, so the document stays.
    QTest::newRow("Yes, save dialog cancelled") << Reply::Yes << SaveStep::Cancel;
    QTest::newRow("Yes, save fails") << Reply::Yes << SaveStep::Fail;
}

void EditingTest::newIniOnAChangedDocument() {
    QFETCH(Reply, reply);
    QFETCH(SaveStep, save);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    window->document().ItemsChanged = true;
    window->selectNode(NodeNamed(*window, "c=3"));
    const QStringList before = Tree(*window);
    const QString status = window->statusText();
    // A regular file cannot hold a file of its own.
    QFile blocker(dir_.filePath("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const Outcome out = Run(*window, "actINI", [&](DialogScript& s) {
        AnswerWith(s, reply);
        if (save == SaveStep::Cancel) s.cancel();
        if (save == SaveStep::Fail) {
            s.chooseFile(dir_.filePath("not-a-folder/new.ini")).clickButton("OK");
        }
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    const int dialogs = save == SaveStep::None ? 1 : save == SaveStep::Cancel ? 2 : 3;
    QCOMPARE(out.count(), dialogs);
    QCOMPARE(out.seen[0].title, QString("Confirm"));
    QCOMPARE(out.seen[0].text, QString("Items where changed, save before clear ?"));
    if (dialogs > 1) QCOMPARE(out.seen[1].className, QString("QFileDialog"));
    if (dialogs > 2) {
        QCOMPARE(out.seen[2].className, QString("QMessageBox"));
        QCOMPARE(out.seen[2].title, QString("INI Files editor"));
    }

    QCOMPARE(Tree(*window), before);
    QCOMPARE(SelectedText(*window), QString("c=3"));
    QVERIFY(window->document().ItemsChanged);
    QCOMPARE(window->statusText(), status);
}

void EditingTest::newIniAfterASaveKeepsTheSaveReport() {
    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    window->document().ItemsChanged = true;
    const QString target = dir_.filePath("saved-before-new.ini");

    const Outcome out = Run(*window, "actINI", [&](DialogScript& s) {
        s.clickButton("Yes").chooseFile(target).typeAndAccept("next.ini");
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 3);
    QCOMPARE(out.seen[2].title, QString("New INI File"));

    QVERIFY(QFile::exists(target));
    QCOMPARE(Tree(*window), QStringList{"next.ini"});
    QVERIFY(window->document().ItemsChanged);
    // A name ending in ".ini" leaves the status line to the save's report.
    QCOMPARE(window->statusText(), QString("INI File saved as saved-before-new.ini"));
}

// --- New Section -----------------------------------------------------------

void EditingTest::newSectionTexts_data() {
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("section");

    QTest::newRow("cancelled") << true << ""
                               << "[]";
    QTest::newRow("accepted empty") << false << ""
                                    << "[]";
    QTest::newRow("plain name") << false << "abc"
                                << "[abc]";
    QTest::newRow("opening bracket first") << false << "[abc"
                                           << "[abc";
    QTest::newRow("bracket inside") << false << "a[b"
                                    << "a[b";
    QTest::newRow("closing bracket only") << false << "abc]"
                                          << "[abc]]";
    QTest::newRow("comment mark is no comment") << false << ";abc"
                                                << "[;abc]";
    QTest::newRow("blanks kept") << false << " a b "
                                 << "[ a b ]";
    QTest::newRow("equals sign") << false << "a=b"
                                 << "[a=b]";
    // The field holds 255 characters; the rest of the typing is lost.
    QTest::newRow("300 typed") << false << QString(300, 'x') << "[" + QString(255, 'x') + "]";
}

void EditingTest::newSectionTexts() {
    QFETCH(bool, cancel);
    QFETCH(QString, typed);
    QFETCH(QString, section);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    const QString status = window->statusText();
    const Outcome out =
        Run(*window, "actNewSection", [&](DialogScript& s) { Prompt(s, cancel, typed); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("New Section"));
    QCOMPARE(out.seen[0].text, QString("Section Name:"));

    const Node* root = window->document().First();
    QCOMPARE(root->childCount(), 4);
    const Node* added = root->child(3);
    QCOMPARE(Shown(*window, added), section);
    QVERIFY(!added->hasChildren());
    QVERIFY(window->document().ItemsChanged);
    QCOMPARE(window->statusText(), status);
}

void EditingTest::newSectionGoesLastAndSelectsTheRoot_data() {
    QTest::addColumn<QString>("selected");  // empty: nothing selected

    QTest::newRow("first section") << "[s1]";
    QTest::newRow("key of the first section") << "b=2";
    QTest::newRow("last section") << "[s3]";
    QTest::newRow("root") << "app.ini";
    QTest::newRow("nothing") << "";
}

void EditingTest::newSectionGoesLastAndSelectsTheRoot() {
    QFETCH(QString, selected);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    Select(*window, selected);
    QCOMPARE(SelectedText(*window), selected.isEmpty() ? QString("(none)") : selected);

    const Outcome out =
        Run(*window, "actNewSection", [](DialogScript& s) { s.typeAndAccept("new"); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(Tree(*window), (QStringList{"app.ini", "  [s1]", "    a=1", "    b=2", "  [s2]",
                                         "    c=3", "  [s3]", "  [new]"}));
    QCOMPARE(SelectedText(*window), QString("app.ini"));
}

void EditingTest::newSectionIsMadeVisible() {
    QByteArray content;
    for (int i = 0; i < 80; ++i)
        content += QByteArray("[section") + QByteArray::number(i) + "]\r\nk=v\r\n";
    auto window = OpenWindow(content);
    QVERIFY(window);
    auto* view = window->treeView();
    const QModelIndex root = window->model()->indexOf(window->document().First());
    view->collapse(root);
    QVERIFY(!view->isExpanded(root));

    const Outcome out =
        Run(*window, "actNewSection", [](DialogScript& s) { s.typeAndAccept("last"); });
    QVERIFY2(out.finished, qPrintable(out.description));
    const Node* added = NodeNamed(*window, "[last]");
    QVERIFY(added != nullptr);
    QVERIFY(view->isExpanded(root));
    // Eighty sections do not fit: the view has to scroll to the new one.
    QTRY_VERIFY(IsShown(*window, added));
    QCOMPARE(SelectedText(*window), QString("app.ini"));
}

// --- New Key -----------------------------------------------------------------

void EditingTest::newKeyTexts_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<bool>("cancelName");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("cancelValue");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("key");

    QTest::newRow("both cancelled") << "[s1]" << true << "" << true << ""
                                    << "=";
    QTest::newRow("name and value") << "[s1]" << false << "width" << false << "640"
                                    << "width=640";
    QTest::newRow("equals sign in the name") << "[s1]" << false << "a=b" << false << "c"
                                             << "a=b=c";
    QTest::newRow("commented key") << "[s1]" << false << ";x" << false << "1"
                                   << ";x=1";
    QTest::newRow("value cancelled") << "[s1]" << false << "name" << true << ""
                                     << "name=";
    QTest::newRow("name cancelled") << "[s1]" << true << "" << false << "v"
                                    << "=v";
    QTest::newRow("blanks kept") << "[s1]" << false << " a " << false << " b "
                                 << " a = b ";
    QTest::newRow("under a commented section") << ";[old]" << false << "a" << false << "1"
                                               << "a=1";
    QTest::newRow("under a section without keys") << "[s3]" << false << "k" << false << "v"
                                                  << "k=v";
}

void EditingTest::newKeyTexts() {
    QFETCH(QString, section);
    QFETCH(bool, cancelName);
    QFETCH(QString, name);
    QFETCH(bool, cancelValue);
    QFETCH(QString, value);
    QFETCH(QString, key);

    auto window = OpenWindow(kThreeSections + ";[old]\r\n;m=1\r\n");
    QVERIFY(window);
    Node* target = NodeNamed(*window, section);
    QVERIFY(target != nullptr);
    window->selectNode(target);
    const int keysBefore = target->childCount();
    // Collapsed, so that making the new key visible has something to do.
    window->treeView()->collapse(window->model()->indexOf(target));

    const Outcome out = Run(*window, "actNewValue", [&](DialogScript& s) {
        Prompt(s, cancelName, name);
        Prompt(s, cancelValue, value);
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 2);
    QCOMPARE(out.seen[0].title, QString("New key name"));
    QCOMPARE(out.seen[0].text, QString("key name:"));
    QCOMPARE(out.seen[1].title, QString("New key value"));
    QCOMPARE(out.seen[1].text, QString("key value:"));

    QCOMPARE(target->childCount(), keysBefore + 1);
    const Node* added = target->child(keysBefore);
    QCOMPARE(Shown(*window, added), key);
    QCOMPARE(Shown(*window, target), section);
    QCOMPARE(window->selectedNode(), target);
    QTRY_VERIFY(IsShown(*window, added));
    QVERIFY(window->document().ItemsChanged);
    QCOMPARE(window->statusText(), "New key: " + key + " added");
}

void EditingTest::newKeyNeedsASection_data() {
    QTest::addColumn<QString>("selected");  // empty: nothing selected

    QTest::newRow("root") << "app.ini";
    QTest::newRow("key") << "a=1";
    QTest::newRow("nothing") << "";
}

void EditingTest::newKeyNeedsASection() {
    QFETCH(QString, selected);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    Select(*window, selected);
    const QStringList before = Tree(*window);
    const QString status = window->statusText();

    const Outcome out = Run(*window, "actNewValue", {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Information"));
    QCOMPARE(out.seen[0].text, QString("Select a section for the new key"));
    QCOMPARE(Tree(*window), before);
    QCOMPARE(SelectedText(*window), selected.isEmpty() ? QString("(none)") : selected);
    QVERIFY(!window->document().ItemsChanged);
    QCOMPARE(window->statusText(), status);
}

// --- Edit Line ---------------------------------------------------------------

void EditingTest::editLineNeedsASelection() {
    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    ClearSelection(*window);
    const QString status = window->statusText();

    const Outcome out = Run(*window, "actEditLine", {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Information"));
    QCOMPARE(out.seen[0].text, QString("Select a line to edit"));
    QVERIFY(OpenEditor(*window) == nullptr);
    QVERIFY(!window->document().ItemsChanged);
    QCOMPARE(window->statusText(), status);
}

void EditingTest::editLine_data() {
    QTest::addColumn<Begin>("begin");
    QTest::addColumn<QString>("node");
    QTest::addColumn<EditKeys>("keys");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("changed");

    // The command marks the document as soon as the editor opens.
    QTest::newRow("command, typed")
        << Begin::Command << "a=1" << EditKeys::TypeAndEnter << "typed" << true;
    QTest::newRow("command, cancelled")
        << Begin::Command << "a=1" << EditKeys::Escape << "a=1" << true;
    QTest::newRow("command, emptied")
        << Begin::Command << "[s2]" << EditKeys::ClearAndEnter << "" << true;
    QTest::newRow("command, root")
        << Begin::Command << "app.ini" << EditKeys::TypeAndEnter << "typed" << true;
    // Begun in the view, only an accepted edit marks it, even when the text
    // stays as it was.
    QTest::newRow("view, cancelled") << Begin::View << "a=1" << EditKeys::Escape << "a=1" << false;
    QTest::newRow("view, unchanged") << Begin::View << "a=1" << EditKeys::Enter << "a=1" << true;
    QTest::newRow("view, emptied")
        << Begin::View << "[s1]" << EditKeys::ClearAndEnter << "" << true;
    QTest::newRow("view, root") << Begin::View << "app.ini" << EditKeys::TypeAndEnter << "typed"
                                << true;
    QTest::newRow("F2, cancelled") << Begin::F2 << "c=3" << EditKeys::Escape << "c=3" << false;
    QTest::newRow("F2, typed") << Begin::F2 << "c=3" << EditKeys::TypeAndEnter << "typed" << true;
}

void EditingTest::editLine() {
    QFETCH(Begin, begin);
    QFETCH(QString, node);
    QFETCH(EditKeys, keys);
    QFETCH(QString, text);
    QFETCH(bool, changed);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    Node* target = NodeNamed(*window, node);
    QVERIFY(target != nullptr);
    window->selectNode(target);
    auto* view = window->treeView();
    const QString status = window->statusText();

    switch (begin) {
        case Begin::Command: {
            const Outcome out = Run(*window, "actEditLine");
            QVERIFY2(out.finished && out.count() == 0, qPrintable(out.description));
            QVERIFY(window->document().ItemsChanged);
            break;
        }
        case Begin::View:
            view->edit(window->model()->indexOf(target));
            break;
        case Begin::F2:
            QTest::keyClick(view, Qt::Key_F2);
            break;
    }
    QLineEdit* editor = OpenEditor(*window);
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), node);
    QCOMPARE(Shown(*window, target), node);

    switch (keys) {
        case EditKeys::TypeAndEnter:
            editor->selectAll();
            QTest::keyClicks(editor, text);
            QTest::keyClick(editor, Qt::Key_Return);
            break;
        case EditKeys::Enter:
            QTest::keyClick(editor, Qt::Key_Return);
            break;
        case EditKeys::ClearAndEnter:
            editor->selectAll();
            QTest::keyClick(editor, Qt::Key_Delete);
            QTest::keyClick(editor, Qt::Key_Return);
            break;
        case EditKeys::Escape:
            QTest::keyClick(editor, Qt::Key_Escape);
            break;
    }
    QTRY_VERIFY(OpenEditor(*window) == nullptr);
    QCOMPARE(Shown(*window, target), text);
    QCOMPARE(window->document().ItemsChanged, changed);
    QCOMPARE(window->selectedNode(), target);
    QCOMPARE(window->statusText(), status);
    QCOMPARE(window->document().Count(), std::size_t{7});
}

// The in-place editor holds a line of any length: accepted as it is or with
// a character added, a 100 000-character line keeps every character.
void EditingTest::editorTakesLongLines_data() {
    QTest::addColumn<Begin>("begin");
    QTest::addColumn<QString>("typed");  // at the end of the line
    QTest::newRow("Edit Line, Enter") << Begin::Command << QString();
    QTest::newRow("Edit Line, one more character") << Begin::Command << "z";
    QTest::newRow("F2, one more character") << Begin::F2 << "z";
}

void EditingTest::editorTakesLongLines() {
    QFETCH(Begin, begin);
    QFETCH(QString, typed);
    const QByteArray line = "k=" + QByteArray(100000 - 2, 'v');
    auto window = OpenWindow("[s]\r\n" + line + "\r\n");
    QVERIFY(window);
    Node* target = window->document().First()->child(0)->child(0);
    window->selectNode(target);
    if (begin == Begin::Command) {
        const Outcome out = Run(*window, "actEditLine");
        QVERIFY2(out.finished && out.count() == 0, qPrintable(out.description));
    } else {
        QTest::keyClick(window->treeView(), Qt::Key_F2);
    }
    QLineEdit* editor = OpenEditor(*window);
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text().size(), line.size());
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, typed);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(OpenEditor(*window) == nullptr);
    QCOMPARE(Bytes(target), line + typed.toUtf8());
}

void EditingTest::pastedLinesKeepTheFirst_data() {
    QTest::addColumn<bool>("inPrompt");  // else in the in-place editor
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("node");

    QTest::newRow("editor, LF") << false << "first\nsecond"
                                << "first";
    QTest::newRow("editor, CR LF") << false << "first\r\nsecond\r\n"
                                   << "first";
    QTest::newRow("editor, CR") << false << "first\rsecond"
                                << "first";
    QTest::newRow("editor, line break first") << false << "\nsecond"
                                              << "";
    QTest::newRow("prompt, LF") << true << "abc\ndef"
                                << "[abc]";
    QTest::newRow("prompt, CR LF") << true << "abc\r\ndef"
                                   << "[abc]";
}

void EditingTest::pastedLinesKeepTheFirst() {
    QFETCH(bool, inPrompt);
    QFETCH(QString, pasted);
    QFETCH(QString, node);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    QApplication::clipboard()->setText(pasted);
    if (QApplication::clipboard()->text() != pasted)
        QSKIP("the platform's clipboard does not keep the text");

    if (inPrompt) {
        const Outcome out = Run(*window, "actNewSection", [](DialogScript& s) {
            s.then([](QWidget* dialog) {
                auto* edit = dialog->findChild<QLineEdit*>();
                QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
                QTest::keyClick(edit, Qt::Key_Return);
            });
        });
        QVERIFY2(out.finished && out.count() == 1, qPrintable(out.description));
        QCOMPARE(Shown(*window, window->document().First()->child(3)), node);
        return;
    }
    Node* target = NodeNamed(*window, "a=1");
    window->selectNode(target);
    const Outcome out = Run(*window, "actEditLine");
    QVERIFY2(out.finished && out.count() == 0, qPrintable(out.description));
    QLineEdit* editor = OpenEditor(*window);
    QVERIFY(editor != nullptr);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(editor->text().startsWith(node));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(OpenEditor(*window) == nullptr);
    QCOMPARE(Shown(*window, target), node);
}

// --- Delete ------------------------------------------------------------------

void EditingTest::deleteRefusals_data() {
    QTest::addColumn<QString>("selected");  // empty: nothing selected
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing selected") << ""
                                      << "Information"
                                      << "Select a section or key to delete";
    QTest::newRow("root") << "app.ini"
                          << "Warning"
                          << "Can't delete the root, select a section or key to delete";
}

void EditingTest::deleteRefusals() {
    QFETCH(QString, selected);
    QFETCH(QString, title);
    QFETCH(QString, text);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    Select(*window, selected);
    const QStringList before = Tree(*window);
    const QString status = window->statusText();

    const Outcome out = Run(*window, "actremove", {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, title);
    QCOMPARE(out.seen[0].text, text);
    QCOMPARE(Tree(*window), before);
    QVERIFY(!window->document().ItemsChanged);
    QCOMPARE(window->statusText(), status);
}

void EditingTest::deleteAnswers_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QStringList>("tree");  // empty: unchanged
    QTest::addColumn<QString>("selected");  // afterwards

    // A deleted node's next sibling is selected, else the one before it,
    // else its parent.
    QTest::newRow("section, Yes") << "[s1]" << Reply::Yes
                                  << QStringList{"app.ini", "  [s2]", "    c=3", "  [s3]"}
                                  << "[s2]";
    QTest::newRow("key, Yes") << "b=2" << Reply::Yes << QStringList{"app.ini", "  [s1]",  "    a=1",
                                                                    "  [s2]",  "    c=3", "  [s3]"}
                              << "a=1";
    QTest::newRow("only key, Yes")
        << "c=3" << Reply::Yes
        << QStringList{"app.ini", "  [s1]", "    a=1", "    b=2", "  [s2]", "  [s3]"} << "[s2]";
    QTest::newRow("section, No") << "[s1]" << Reply::No << QStringList() << "[s1]";
    QTest::newRow("section, Escape") << "[s1]" << Reply::Escape << QStringList() << "[s1]";
    QTest::newRow("section, close box") << "[s1]" << Reply::CloseBox << QStringList() << "[s1]";
}

void EditingTest::deleteAnswers() {
    QFETCH(QString, target);
    QFETCH(Reply, reply);
    QFETCH(QStringList, tree);
    QFETCH(QString, selected);

    auto window = OpenWindow(kThreeSections);
    QVERIFY(window);
    window->selectNode(NodeNamed(*window, target));
    const QStringList before = Tree(*window);
    const QString status = window->statusText();

    const Outcome out = Run(*window, "actremove", [&](DialogScript& s) { AnswerWith(s, reply); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Confirm"));
    QCOMPARE(out.seen[0].text, "Are you sure you want to delete " + target);

    const bool removed = !tree.isEmpty();
    QCOMPARE(Tree(*window), removed ? tree : before);
    QCOMPARE(window->document().ItemsChanged, removed);
    QCOMPARE(window->statusText(), removed ? QString("Item removed") : status);
    if (removed) QCOMPARE(static_cast<int>(window->document().Count()), tree.size());
    QCOMPARE(SelectedText(*window), selected);
    QVERIFY(IsShown(*window, window->selectedNode()));
}

// --- Comment and Remove Comment ----------------------------------------------

void EditingTest::commentRefusals_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("selected");  // empty: nothing selected
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString noSelection = "Select a section or key to comment";
    const QString root = "Can't comment the root, select a section or key to comment";
    QTest::newRow("comment, nothing") << "actRemark"
                                      << ""
                                      << "Information" << noSelection;
    QTest::newRow("comment, root") << "actRemark"
                                   << "app.ini"
                                   << "Warning" << root;
    QTest::newRow("comment, commented key") << "actRemark"
                                            << ";b=2"
                                            << "Information"
                                            << "This line is already commented";
    QTest::newRow("comment, commented section") << "actRemark"
                                                << ";[old]"
                                                << "Information"
                                                << "This line is already commented";
    QTest::newRow("uncomment, nothing") << "actRemoveComment"
                                        << ""
                                        << "Information" << noSelection;
    QTest::newRow("uncomment, root") << "actRemoveComment"
                                     << "app.ini"
                                     << "Warning" << root;
    QTest::newRow("uncomment, plain key") << "actRemoveComment"
                                          << "a=1"
                                          << "Information"
                                          << "No comment on selected line";
    QTest::newRow("uncomment, blank before the mark") << "actRemoveComment"
                                                      << " ;x"
                                                      << "Information"
                                                      << "No comment on selected line";
    QTest::newRow("uncomment, plain section") << "actRemoveComment"
                                              << "[s]"
                                              << "Information"
                                              << "No comment on selected line";
}

void EditingTest::commentRefusals() {
    QFETCH(QString, action);
    QFETCH(QString, selected);
    QFETCH(QString, title);
    QFETCH(QString, text);

    auto window = OpenWindow("[s]\r\na=1\r\n;b=2\r\n;[old]\r\nm=1\r\n");
    QVERIFY(window);
    keyloft::Document& doc = window->document();
    // A leading blank is trimmed on reading: give the key its text directly.
    doc.AddChild(NodeNamed(*window, "[s]"), " ;x");
    Select(*window, selected);
    const QStringList before = Tree(*window);
    const QString status = window->statusText();

    const Outcome out = Run(*window, action.toLatin1().constData(), {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, title);
    QCOMPARE(out.seen[0].text, text);
    QCOMPARE(Tree(*window), before);
    QCOMPARE(SelectedText(*window), selected.isEmpty() ? QString("(none)") : selected);
    QVERIFY(!doc.ItemsChanged);
    QCOMPARE(window->statusText(), status);
}

void EditingTest::commentKey_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("key");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("result");  // empty: unchanged
    QTest::addColumn<QString>("status");

    QTest::newRow("comment, Yes") << "actRemark"
                                  << "a=1" << Reply::Yes << "Comment a=1 ?"
                                  << ";a=1"
                                  << "Item commented";
    QTest::newRow("comment, close box") << "actRemark"
                                        << "a=1" << Reply::CloseBox << "Comment a=1 ?"
                                        << ";a=1"
                                        << "Item commented";
    QTest::newRow("comment, No") << "actRemark"
                                 << "a=1" << Reply::No << "Comment a=1 ?"
                                 << ""
                                 << "";
    QTest::newRow("comment, Escape") << "actRemark"
                                     << "a=1" << Reply::Escape << "Comment a=1 ?"
                                     << ""
                                     << "";
    QTest::newRow("comment, blank before a mark") << "actRemark"
                                                  << " ;x" << Reply::Yes << "Comment  ;x ?"
                                                  << "; ;x"
                                                  << "Item commented";
    QTest::newRow("uncomment, Yes") << "actRemoveComment"
                                    << ";b=2" << Reply::Yes << "Remove comment from ;b=2 ?"
                                    << "b=2"
                                    << "Comment removed";
    QTest::newRow("uncomment, close box")
        << "actRemoveComment"
        << ";b=2" << Reply::CloseBox << "Remove comment from ;b=2 ?"
        << "b=2"
        << "Comment removed";
    QTest::newRow("uncomment, No") << "actRemoveComment"
                                   << ";b=2" << Reply::No << "Remove comment from ;b=2 ?"
                                   << ""
                                   << "";
    QTest::newRow("uncomment, Escape") << "actRemoveComment"
                                       << ";b=2" << Reply::Escape << "Remove comment from ;b=2 ?"
                                       << ""
                                       << "";
    QTest::newRow("uncomment, double mark") << "actRemoveComment"
                                            << ";;c" << Reply::Yes << "Remove comment from ;;c ?"
                                            << ";c"
                                            << "Comment removed";
}

void EditingTest::commentKey() {
    QFETCH(QString, action);
    QFETCH(QString, key);
    QFETCH(Reply, reply);
    QFETCH(QString, question);
    QFETCH(QString, result);
    QFETCH(QString, status);

    auto window = OpenWindow("[s]\r\na=1\r\n;b=2\r\n");
    QVERIFY(window);
    Node* section = NodeNamed(*window, "[s]");
    // Texts the reading would not keep as they are.
    window->document().AddChild(section, " ;x");
    window->document().AddChild(section, ";;c");
    Node* target = NodeNamed(*window, key);
    QVERIFY(target != nullptr);
    window->selectNode(target);
    const QString statusBefore = window->statusText();

    const Outcome out =
        Run(*window, action.toLatin1().constData(), [&](DialogScript& s) { AnswerWith(s, reply); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Confirm"));
    QCOMPARE(out.seen[0].text, question);

    const bool changed = !result.isEmpty();
    QCOMPARE(Shown(*window, target), changed ? result : key);
    QCOMPARE(window->document().ItemsChanged, changed);
    QCOMPARE(window->statusText(), changed ? status : statusBefore);
    QCOMPARE(window->selectedNode(), target);
    QCOMPARE(window->document().Count(), std::size_t{6});
}

void EditingTest::commentSection_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QStringList>("before");  // section, then its keys
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QString>("selected");

    QTest::newRow("comment with keys")
        << "actRemark" << Reply::Yes << QStringList{"[s]", "a=1", ";b=2", "c"}
        << QStringList{";[s]", ";a=1", ";b=2", ";c"} << ";c";
    QTest::newRow("comment by close box")
        << "actRemark" << Reply::CloseBox << QStringList{"[s]", "a=1"}
        << QStringList{";[s]", ";a=1"} << ";a=1";
    QTest::newRow("comment, last key commented already")
        << "actRemark" << Reply::Yes << QStringList{"[s]", "a=1", ";b=2"}
        << QStringList{";[s]", ";a=1", ";b=2"} << ";b=2";
    QTest::newRow("comment without keys")
        << "actRemark" << Reply::Yes << QStringList{"[s]"} << QStringList{";[s]"} << ";[s]";
    QTest::newRow("comment a section without brackets")
        << "actRemark" << Reply::Yes << QStringList{"abc", "k=v"} << QStringList{";abc", ";k=v"}
        << ";k=v";
    QTest::newRow("comment, Escape") << "actRemark" << Reply::Escape << QStringList{"[s]", "a=1"}
                                     << QStringList{"[s]", "a=1"} << "[s]";
    QTest::newRow("uncomment with keys")
        << "actRemoveComment" << Reply::Yes << QStringList{";[s]", ";a=1", "b=2", ";;c=3"}
        << QStringList{"[s]", "a=1", "b=2", ";c=3"} << ";c=3";
    QTest::newRow("uncomment without keys")
        << "actRemoveComment" << Reply::Yes << QStringList{";[s]"} << QStringList{"[s]"} << "[s]";
    QTest::newRow("uncomment, No") << "actRemoveComment" << Reply::No << QStringList{";[s]", ";a=1"}
                                   << QStringList{";[s]", ";a=1"} << ";[s]";
}

void EditingTest::commentSection() {
    QFETCH(QString, action);
    QFETCH(Reply, reply);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, selected);

    // The section under test sits between two others whose keys must not
    // be touched.
    auto window = OpenWindow("[first]\r\nf=1\r\n");
    QVERIFY(window);
    keyloft::Document& doc = window->document();
    Node* root = doc.First();
    Node* section = doc.AddChild(root, before.front().toStdString());
    for (qsizetype i = 1; i < before.size(); ++i) doc.AddChild(section, before[i].toStdString());
    Node* last = doc.AddChild(root, "[last]");
    doc.AddChild(last, "l=1");
    window->selectNode(section);
    // Collapsed: the walk over the keys makes them visible.
    window->treeView()->collapse(window->model()->indexOf(section));
    const QString status = window->statusText();

    const Outcome out =
        Run(*window, action.toLatin1().constData(), [&](DialogScript& s) { AnswerWith(s, reply); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Confirm"));
    const QString question = action == "actRemark" ? "Comment " + before.front() + " ?"
                                                   : "Remove comment from " + before.front() + " ?";
    QCOMPARE(out.seen[0].text, question);

    QStringList expected{"app.ini", "  [first]", "    f=1", "  " + after.front()};
    for (qsizetype i = 1; i < after.size(); ++i) expected << "    " + after[i];
    expected << "  [last]"
             << "    l=1";
    QCOMPARE(Tree(*window), expected);
    QCOMPARE(SelectedText(*window), selected);
    QVERIFY(IsShown(*window, window->selectedNode()));
    QCOMPARE(doc.ItemsChanged, after != before);
    // Only a key's own change is reported.
    QCOMPARE(window->statusText(), status);
}

namespace {

// The two kinds of file a large section is commented in.
enum class Shape { ManySections, FewSections };

// A file of many small sections then one of `keys` keys named [big], or the
// same large section between two small ones; commented throughout when
// `commented`.
QByteArray LargeSectionFile(Shape shape, int keys, bool commented) {
    const QByteArray mark = commented ? ";" : "";
    QByteArray bytes;
    const int before = shape == Shape::ManySections ? 2000 : 1;
    for (int i = 0; i < before; ++i) bytes += "[s" + QByteArray::number(i) + "]\nk=1\n";
    bytes += mark + "[big]\n";
    for (int i = 0; i < keys; ++i) bytes += mark + "k" + QByteArray::number(i) + "=v\n";
    bytes += "[z]\ny=1\n";
    return bytes;
}

}  // namespace

Q_DECLARE_METATYPE(Shape)

void EditingTest::commentVisitsOnlyLaidOutRows_data() {
    QTest::addColumn<Shape>("shape");
    QTest::addColumn<bool>("folded");    // Expand all and Collapse all ran first
    QTest::addColumn<bool>("expanded");  // the section is expanded when commented
    QTest::addColumn<QString>("action");

    for (const Shape shape : {Shape::ManySections, Shape::FewSections}) {
        for (const bool folded : {false, true}) {
            for (const bool expanded : {false, true}) {
                for (const char* action : {"actRemark", "actRemoveComment"}) {
                    QTest::addRow("%s, %s, %s, %s",
                                  shape == Shape::ManySections ? "many sections" : "few sections",
                                  folded ? "after folding" : "after the load",
                                  expanded ? "expanded" : "collapsed", action)
                        << shape << folded << expanded << QString(action);
                }
            }
        }
    }
}

// Commenting a large section makes the view look at no row it does not lay
// out: a collapsed section's keys once cost a scan of every shown row each.
// The rows the view visits while it takes in the change of the keys' texts
// are counted, not timed.
void EditingTest::commentVisitsOnlyLaidOutRows() {
    QFETCH(Shape, shape);
    QFETCH(bool, folded);
    QFETCH(bool, expanded);
    QFETCH(QString, action);
    constexpr int kKeys = 3000;
    const bool comment = action == "actRemark";

    auto window = OpenWindow(LargeSectionFile(shape, kKeys, !comment));
    QVERIFY(window);
    if (folded) {
        QVERIFY(Run(*window, "actExpandAll").finished);
        QVERIFY(Run(*window, "actCollapseAll").finished);
    }
    const QString name = comment ? "[big]" : ";[big]";
    Node* section = NodeNamed(*window, name);
    QVERIFY(section);
    Select(*window, name);
    DocumentModel* model = window->model();
    const QModelIndex sectionIndex = model->indexOf(section);
    window->treeView()->setExpanded(sectionIndex, expanded);
    QCOMPARE(window->treeView()->isExpanded(sectionIndex), expanded);

    // The section's own row is announced first, then the range of its keys;
    // this slot runs after the view's. The wait cursor shows while the texts
    // change and while the walk expands the section.
    quint64 mark = 0;
    qint64 visited = -1;
    int busyMoments = 0;
    int moments = 0;
    const auto busy = [&] {
        ++moments;
        const QCursor* cursor = QGuiApplication::overrideCursor();
        if (cursor != nullptr && cursor->shape() == Qt::WaitCursor) ++busyMoments;
    };
    const auto counting =
        QObject::connect(model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& topLeft) {
            if (topLeft == sectionIndex) mark = model->indexLookups();
            if (topLeft.parent() == sectionIndex) {
                visited = static_cast<qint64>(model->indexLookups() - mark);
                busy();
            }
        });
    const auto expanding = QObject::connect(window->treeView(), &QTreeView::expanded, busy);
    const Outcome out = Run(*window, action.toLatin1().constData(), {"Yes"});
    QObject::disconnect(counting);
    QObject::disconnect(expanding);
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(moments, expanded ? 1 : 2);
    QCOMPARE(busyMoments, moments);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);

    // A few lookups for each laid-out row; the model makes the range's two
    // ends itself.
    QVERIFY2(visited >= 0, "no change of the keys was announced");
    QVERIFY2(visited <= (expanded ? 4 * kKeys : 0) + 2,
             qPrintable(QString("the view visited %1 rows").arg(visited)));
    const QString prefix = comment ? ";" : "";
    QCOMPARE(Shown(*window, section), prefix + "[big]");
    QCOMPARE(Shown(*window, section->child(0)), prefix + "k0=v");
    QCOMPARE(SelectedText(*window), prefix + "k" + QString::number(kKeys - 1) + "=v");
    QVERIFY(IsShown(*window, window->selectedNode()));
    QCOMPARE(Shown(*window, NodeNamed(*window, "y=1")->parent()), QString("[z]"));
}

// --- Encoding and the empty document ------------------------------------------

// A session on a UTF-16 file: a new section and key with characters no
// 8-bit code page holds together, a new value, then the save: the bytes are
// those of the fixture, every untouched line as it was.
void EditingTest::utf16FileTakesEveryCharacterAndSavesInItsUnits() {
    QFile fixture(KEYLOFT_TEST_DATA "/utf16le_crlf.ini");
    QFile expected(KEYLOFT_TEST_DATA "/utf16le_crlf.ini.after-window-edits");
    QVERIFY(fixture.open(QIODevice::ReadOnly) && expected.open(QIODevice::ReadOnly));
    const QByteArray original = fixture.readAll();
    const QString path = dir_.filePath("windows.ini");
    QVERIFY(WriteFile(path, original));
    TForm1 window(QList<QByteArray>{QFile::encodeName(path)});
    QVERIFY(ShowWindow(window));
    QVERIFY(NodeNamed(window, QString::fromUtf8("\u0418\u043c\u044f=\u041a\u043b\u044e\u0447")));

    const QString section = QString::fromUtf8("\u00d1and\u00fa");
    Outcome out = Run(window, "actNewSection", [&](DialogScript& s) { s.typeAndAccept(section); });
    QVERIFY2(out.finished && out.count() == 1, qPrintable(out.description));
    window.selectNode(NodeNamed(window, "[" + section + "]"));
    out = Run(window, "actNewValue", [](DialogScript& s) {
        s.typeAndAccept(QString::fromUtf8("\u043a\u043b\u044e\u0447"));
        s.typeAndAccept(QString::fromUtf8("\u503c \u0142"));
    });
    // No "cannot be stored" warning comes between or after the prompts.
    QVERIFY2(out.finished && out.count() == 2, qPrintable(out.description));

    Node* size = NodeNamed(window, QString::fromUtf8("Gr\u00f6\u00dfe=4"));
    QVERIFY(size != nullptr);
    window.selectNode(size);
    window.treeView()->edit(window.model()->indexOf(size));
    QLineEdit* editor = OpenEditor(window);
    QVERIFY(editor != nullptr);
    editor->selectAll();
    Type(editor, QString::fromUtf8("Gr\u00f6\u00dfe=5"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(OpenEditor(window) == nullptr);

    out = Run(window, "actSaveINI", [](DialogScript& s) { s.acceptOffered(); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), expected.readAll());
}

void EditingTest::charactersTheFileCannotHold() {
    // Not valid UTF-8, so the texts are Windows-1252.
    auto window = OpenWindow("[s]\r\nname=caf\xe9\r\n", "latin.ini");
    QVERIFY(window);
    Node* key = NodeNamed(*window, "name=caf\u00e9");
    QVERIFY(key != nullptr);

    {
        // A Windows-1252 letter is stored as its one byte.
        window->selectNode(key);
        window->treeView()->edit(window->model()->indexOf(key));
        QLineEdit* editor = OpenEditor(*window);
        QVERIFY(editor != nullptr);
        editor->selectAll();
        Type(editor, "\u00e9t\u00e9=\u20ac");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(OpenEditor(*window) == nullptr);
        QCOMPARE(Bytes(key), QByteArray("\xe9t\xe9=\x80"));
    }
    window->document().ItemsChanged = false;
    {
        // One that it cannot hold is refused, once, and the line keeps its
        // text. The editor has the focus, as when the user types, so the
        // warning takes the focus from it while the edit is being accepted.
        window->selectNode(key);
        const QByteArray before = Bytes(key);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        DialogScript script;
        script.clickButton("OK").rejectUnexpected().start();
        window->treeView()->edit(window->model()->indexOf(key));
        QLineEdit* editor = OpenEditor(*window);
        QVERIFY(editor != nullptr);
        editor->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor));
        editor->selectAll();
        Type(editor, "\u0142=1");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(OpenEditor(*window) == nullptr);
        QTRY_VERIFY(script.finished());
        QTest::qWait(100);
        QCOMPARE(script.seen().size(), std::size_t{1});
        QCOMPARE(script.seen()[0].title, QString("Warning"));
        QVERIFY2(script.seen()[0].text.contains("\"\u0142\""), qPrintable(script.describe()));
        QCOMPARE(Bytes(key), before);
    }
    {
        // The same for a new section's name.
        const QStringList before = Tree(*window);
        const Outcome out = Run(*window, "actNewSection", [](DialogScript& s) {
            s.typeAndAccept("\u0142");
            s.clickButton("OK");
        });
        QVERIFY2(out.finished, qPrintable(out.description));
        QCOMPARE(out.count(), 2);
        QCOMPARE(out.seen[1].title, QString("Warning"));
        QVERIFY2(out.seen[1].text.contains("\"\u0142\""), qPrintable(out.description));
        QCOMPARE(Tree(*window), before);
        QVERIFY(!window->document().ItemsChanged);
    }
}

void EditingTest::emptyDocument_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");

    QTest::newRow("New Section") << "actNewSection"
                                 << "No INI file is loaded";
    QTest::newRow("New Key") << "actNewValue"
                             << "No INI file is loaded";
    QTest::newRow("Edit Line") << "actEditLine"
                               << "Select a line to edit";
    QTest::newRow("Delete") << "actremove"
                            << "Select a section or key to delete";
    QTest::newRow("Comment") << "actRemark"
                             << "Select a section or key to comment";
    QTest::newRow("Remove Comment") << "actRemoveComment"
                                    << "Select a section or key to comment";
}

void EditingTest::emptyDocument() {
    QFETCH(QString, action);
    QFETCH(QString, text);

    TForm1 window;
    QVERIFY(ShowWindow(window));
    const Outcome out = Run(window, action.toLatin1().constData(), {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Information"));
    QCOMPARE(out.seen[0].text, text);
    QCOMPARE(window.document().Count(), std::size_t{0});
    QVERIFY(!window.document().ItemsChanged);
    QCOMPARE(window.statusText(), QString("Ready"));
    QVERIFY(OpenEditor(window) == nullptr);
}

QTEST_MAIN(EditingTest)
#include "tst_editing.moc"
