// Sessions played with key presses on the real window, checked against the
// session model after every step.
#include "SessionPlayer.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTest>

#include "DialogScript.h"
#include "IniTreeView.h"
#include "WindowProbe.h"
#include "document/Document.h"
#include "frmMain.h"

namespace keyloft::test {

namespace {

// The widget a key press goes to: the one with the keyboard focus once the
// dialog has it (the window system may take a moment to give it).
QWidget* Focused(QWidget* dialog) {
    WaitFor(
        [dialog] {
            QWidget* focus = QApplication::focusWidget();
            return focus != nullptr && focus->window() == dialog;
        },
        1000);
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && focus->window() == dialog) return focus;
    return dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
}

// Presses `keys` (see SessionModel.h) into `dialog`.
void PressKeys(QWidget* dialog, const QString& keys) {
    if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
        // A user answers once the dialog has listed its folder.
        if (auto* model = files->findChild<QFileSystemModel*>()) {
            const QString folder = files->directory().absolutePath();
            WaitFor([&] { return model->rowCount(model->index(folder)) > 0; }, 2000);
            QTest::qWait(50);
        }
    }
    for (const QString& key : keys.split(' ', Qt::SkipEmptyParts)) {
        if (key == "close") {
            dialog->close();
            return;
        }
        QWidget* target = Focused(dialog);
        if (key.startsWith('=')) {
            Type(target, key.mid(1));
        } else if (key == "Enter") {
            QTest::keyClick(target, Qt::Key_Return);
        } else if (key == "Escape") {
            QTest::keyClick(target, Qt::Key_Escape);
        } else if (key == "Tab") {
            QTest::keyClick(target, Qt::Key_Tab);
        } else if (key == "^A") {
            QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
        }
    }
}

// A user starts working once the window has the keyboard; the window
// system gives it a moment after the window shows.
void WaitUntilActive(TForm1& window) {
    window.activateWindow();
    // Without a window system that activates windows the keys still reach
    // the widgets they are sent to.
    static_cast<void>(QTest::qWaitForWindowActive(&window, 2000));
}

QLineEdit* OpenEditor(TForm1& window) {
    for (auto* editor : window.treeView()->findChildren<QLineEdit*>()) {
        if (editor->isVisible()) return editor;
    }
    return nullptr;
}

// Random sessions start on sample.ini, and again on it after an Exit; no
// step removes it.
const QString kRestartFile = "sample.ini";

const FileMap kStartFiles = {
    {"sample.ini", "[main]\nDepth=8\nName=x\n[extra]\nk=1\n"},
    {"other.ini", "[o]\nq=1\nr=2\n"},
    {"sub/inner.ini", "[in]\ni=1\n"},
};

}  // namespace

FileMap FilesBelow(const QString& folder) {
    FileMap files;
    const QDir top(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        files.insert(top.relativeFilePath(path),
                     file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>");
    }
    return files;
}

SessionPlayer::SessionPlayer(const FileMap& files, const QString& startFile)
    : previousFolder_(QDir::currentPath()), model_(files, startFile) {
    if (!dir_.isValid()) return;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = dir_.filePath(it.key());
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!WriteFile(path, it.value())) return;
    }
    QDir().mkpath(dir_.filePath("sub"));
    QDir::setCurrent(dir_.path());
    QList<QByteArray> arguments;
    if (!startFile.isEmpty()) arguments << QFile::encodeName(dir_.filePath(startFile));
    auto window = std::make_unique<TForm1>(arguments);
    if (ShowWindow(*window)) window_ = std::move(window);
    if (window_) WaitUntilActive(*window_);
}

SessionPlayer::~SessionPlayer() {
    QDir::setCurrent(previousFolder_);
    if (window_) window_->document().ItemsChanged = false;
}

QString SessionPlayer::Restart() {
    model_ = SessionModel(model_.disk, kRestartFile);
    auto window =
        std::make_unique<TForm1>(QList<QByteArray>{QFile::encodeName(dir_.filePath(kRestartFile))});
    window_.reset();
    if (!ShowWindow(*window)) return "the editor did not start again";
    window_ = std::move(window);
    WaitUntilActive(*window_);
    return Compare("restart");
}

QString SessionPlayer::Play(const QString& step) {
    const QString played = model_.Play(step);
    if (!model_.scriptError.isEmpty()) return "the script: " + model_.scriptError;
    return PlayOnWindow(played);
}

QString SessionPlayer::PlayRandom(std::mt19937& rng, QString* played) {
    *played = model_.RandomStep(rng);
    return PlayOnWindow(*played);
}

QString SessionPlayer::PlayOnWindow(const QString& step) {
    const QStringList parts = SplitStep(step);
    const QString head = parts.constFirst();
    const QString command = head.section(' ', 0, 0);
    const QString target = head.section(' ', 1);
    TForm1& window = *window_;

    if (command == "write") {
        const int blank = target.indexOf(' ');
        const QByteArray bytes =
            target.mid(blank + 1).replace("\\n", "\n").replace("\\r", "\r").toUtf8();
        if (!WriteFile(dir_.filePath(target.left(blank)), bytes)) return "cannot write";
        return Compare(step);
    }
    if (command == "rm") {
        QFile::remove(dir_.filePath(target));
        return Compare(step);
    }

    if (command == "F2") {
        Node* node = NodeNamed(window, target);
        if (node == nullptr) return "no node " + target;
        window.selectNode(node);
        QTest::keyClick(window.treeView(), Qt::Key_F2);
        QLineEdit* editor = OpenEditor(window);
        if (editor == nullptr) return "F2 opened no editor";
        for (const QString& key : parts.value(1).split(' ', Qt::SkipEmptyParts)) {
            if (key.startsWith('=')) {
                Type(editor, key.mid(1));
            } else if (key == "Enter") {
                QTest::keyClick(editor, Qt::Key_Return);
            } else if (key == "Escape") {
                QTest::keyClick(editor, Qt::Key_Escape);
            }
        }
        QTest::qWait(0);
        return Compare(step);
    }
    if (!target.isEmpty()) {
        Node* node = NodeNamed(window, target);
        if (node == nullptr) return "no node " + target;
        window.selectNode(node);
    }
    DialogScript script;
    for (const QString& answer : parts.mid(1))
        script.then([answer](QWidget* dialog) { PressKeys(dialog, answer); });
    script.rejectUnexpected().start();
    if (!Trigger(window, command.toLatin1().constData())) return "no action " + command;
    QTest::qWait(0);
    QStringList seen;
    for (const SeenDialog& dialog : script.seen()) seen << dialog.title;
    if (seen != model_.dialogs) {
        return QString("dialogs: shown [%1], expected [%2]; %3; changed mark %4, editor %5")
            .arg(seen.join(", "), model_.dialogs.join(", "), script.describe())
            .arg(window.document().ItemsChanged)
            .arg(OpenEditor(window) != nullptr ? "open" : "closed");
    }
    if (!script.finished()) return "answers left: " + script.describe();
    return Compare(step);
}

QString SessionPlayer::Compare(const QString& step) {
    Q_UNUSED(step);
    QStringList differences;
    const FileMap files = FilesBelow(dir_.path());
    if (files != model_.disk) {
        QStringList names = files.keys() + model_.disk.keys();
        names.removeDuplicates();
        for (const QString& name : names) {
            if (files.value(name, "<none>") != model_.disk.value(name, "<none>")) {
                differences << QString("file %1 holds \"%2\", expected \"%3\"")
                                   .arg(name, QString::fromUtf8(files.value(name, "<none>")),
                                        QString::fromUtf8(model_.disk.value(name, "<none>")));
            }
        }
    }
    TForm1& window = *window_;
    if (window.isVisible() == model_.closed)
        differences << (model_.closed ? "the window stayed open" : "the window closed");
    if (!model_.closed) {
        if (Tree(window) != model_.Tree()) {
            differences << QString("tree [%1], expected [%2]")
                               .arg(Tree(window).join(", "), model_.Tree().join(", "));
        }
        if (window.document().ItemsChanged != model_.changed)
            differences << QString("changed mark %1").arg(window.document().ItemsChanged);
        if (!model_.status.isNull() && window.statusText() != model_.status) {
            differences << QString("status \"%1\", expected \"%2\"")
                               .arg(window.statusText(), model_.status);
        }
    }
    return differences.join("; ");
}

QString RunRandomSession(unsigned seed, int* steps) {
    std::mt19937 rng(seed);
    const int length = 20 + static_cast<int>(rng() % 21);
    SessionPlayer session(kStartFiles, "sample.ini");
    if (!session.valid()) return QString("seed %1: no window").arg(seed);
    QStringList played;
    for (int i = 0; i < length; ++i) {
        QString step;
        QString failure;
        if (session.closed()) {
            // The user starts the editor again.
            step = "restart";
            failure = session.Restart();
        } else {
            failure = session.PlayRandom(rng, &step);
        }
        played << step;
        if (steps != nullptr) ++*steps;
        if (!failure.isEmpty() || QTest::currentTestFailed()) {
            return QString("seed %1, step %2: %3\n  steps:\n    \"%4\"")
                .arg(seed)
                .arg(i + 1)
                .arg(failure, played.join("\",\n    \""));
        }
    }
    if (qEnvironmentVariableIsSet("KEYLOFT_SESSION_TRACE"))
        qInfo("seed %u:\n    %s", seed, qPrintable(played.join("\n    ")));
    return QString();
}

}  // namespace keyloft::test
