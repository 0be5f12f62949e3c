// Answers modal dialogs from a timer, as a user would.
#include "DialogScript.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLineEdit>
#include <QTest>

namespace keyloft::test {

namespace {

// Long enough for any answer to have closed its dialog.
constexpr int kStuckMs = 10000;

void Reject(QWidget* modal) {
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
    } else {
        modal->close();
    }
}

}  // namespace

QStringList DialogLines(const std::vector<SeenDialog>& seen) {
    QStringList lines;
    for (const SeenDialog& dialog : seen) {
        lines << (dialog.text.isEmpty() ? dialog.title : dialog.title + ": " + dialog.text);
    }
    return lines;
}

DialogScript& DialogScript::then(Action action) {
    steps_.push_back(std::move(action));
    return *this;
}

DialogScript& DialogScript::clickButton(const QString& text) {
    return then([this, text](QWidget* dialog) {
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
            if (button->text().remove('&') == text) {
                button->click();
                return;
            }
        }
        fail(dialog, QString("no button %1").arg(text));
    });
}

DialogScript& DialogScript::pressKey(int key) {
    return then([key](QWidget* dialog) {
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr || target->window() != dialog) target = dialog;
        QTest::keyClick(target, static_cast<Qt::Key>(key));
    });
}

DialogScript& DialogScript::closeBox() {
    return then([](QWidget* dialog) { dialog->close(); });
}

DialogScript& DialogScript::typeAndAccept(const QString& text) {
    return then([this, text](QWidget* dialog) {
        if (auto* input = qobject_cast<QInputDialog*>(dialog)) {
            auto* edit = input->findChild<QLineEdit*>();
            edit->selectAll();
            Type(edit, text);
            QTest::keyClick(edit, Qt::Key_Return);
        } else if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
            // As a user types a name into the dialog and presses Enter.
            WaitForListing(files);
            auto* name = files->findChild<QLineEdit*>("fileNameEdit");
            name->setText(text);
            // Typed with the keyboard, the name replaces any file selected in
            // the listing; the dialog does that only while the field has the
            // focus, which the window system may not have given it yet.
            for (auto* view : files->findChildren<QAbstractItemView*>()) view->clearSelection();
            QTest::keyClick(name, Qt::Key_Return);
        } else {
            fail(dialog, QString("nowhere to type %1").arg(text));
        }
    });
}

DialogScript& DialogScript::typeAndCancel(const QString& text) {
    return then([this, text](QWidget* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        if (input == nullptr) return fail(dialog, QString("nowhere to type %1").arg(text));
        auto* edit = input->findChild<QLineEdit*>();
        Type(edit, text);
        QTest::keyClick(edit, Qt::Key_Escape);
    });
}

DialogScript& DialogScript::cancel() {
    return then([](QWidget* dialog) { Reject(dialog); });
}

DialogScript& DialogScript::chooseFile(const QString& path) { return typeAndAccept(path); }

DialogScript& DialogScript::acceptOffered() {
    return then([this](QWidget* dialog) {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name == nullptr) return fail(dialog, "no file name field");
        QTest::keyClick(name, Qt::Key_Return);
    });
}

DialogScript& DialogScript::answer(const QStringList& steps, const QString& folder) {
    for (const QString& step : steps) {
        if (step == "Escape") {
            pressKey(Qt::Key_Escape);
        } else if (step == "Enter") {
            pressKey(Qt::Key_Return);
        } else if (step == "close box") {
            closeBox();
        } else if (step == "cancel") {
            cancel();
        } else if (step.startsWith("file:")) {
            chooseFile(QDir(folder).filePath(step.mid(5)));
        } else {
            clickButton(step);
        }
    }
    return *this;
}

DialogScript& DialogScript::rejectUnexpected() {
    rejectUnexpected_ = true;
    return *this;
}

void DialogScript::start() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start();
}

void DialogScript::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (QTest::currentTestFailed()) {
        // The test is lost: let the command end so that the test ends too.
        QTimer::singleShot(0, modal, [modal] { Reject(modal); });
        return;
    }
    if (modal == last_) {
        if (answeredAt_.isValid() && answeredAt_.elapsed() > kStuckMs) {
            answeredAt_.invalidate();
            fail(modal, QString("still open %1 ms after its answer").arg(kStuckMs));
        }
        return;
    }
    if (finished() && !rejectUnexpected_) return;
    last_ = modal;
    answeredAt_.invalidate();
    SeenDialog seen;
    seen.className = modal->metaObject()->className();
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.text = box->text();
        seen.icon = box->icon();
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        seen.text = input->labelText();
    }
    seen_.push_back(seen);
    if (finished()) {
        QTimer::singleShot(0, modal, [this, modal] {
            Reject(modal);
            answered(modal);
        });
        return;
    }
    const Action action = steps_[next_++];
    // Run the answer from a fresh event, outside this timer's slot.
    QTimer::singleShot(0, modal, [this, action, modal] {
        const QPointer<QWidget> alive(modal);
        action(modal);
        if (alive) answered(modal);
    });
}

// A dialog object the window keeps (its file dialogs) may come back for the
// next step: once the answer has closed it, it counts as new again. A check
// that failed inside the answer leaves the dialog to be rejected here.
void DialogScript::answered(QWidget* modal) {
    if (modal->isVisible() && QTest::currentTestFailed()) Reject(modal);
    if (!modal->isVisible()) {
        if (last_ == modal) last_ = nullptr;
    } else if (last_ == modal) {
        answeredAt_.start();
    }
}

void DialogScript::fail(QWidget* modal, const QString& why) {
    const QString message =
        QString("dialog %1 [%2]: %3; %4")
            .arg(modal->metaObject()->className(), modal->windowTitle(), why, describe());
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
    Reject(modal);
}

QString DialogScript::describe() const {
    QStringList parts;
    for (const SeenDialog& d : seen_)
        parts << QString("%1 [%2] \"%3\"").arg(d.className, d.title, d.text);
    return QString("%1 of %2 steps; seen: %3").arg(next_).arg(steps_.size()).arg(parts.join("; "));
}

void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void WaitForListing(QFileDialog* dialog) {
    if (auto* model = dialog->findChild<QFileSystemModel*>()) {
        const QString folder = dialog->directory().absolutePath();
        WaitFor([&] { return model->rowCount(model->index(folder)) > 0; }, 2000);
        QTest::qWait(50);
    }
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

}  // namespace keyloft::test
