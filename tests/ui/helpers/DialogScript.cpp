// Answers modal dialogs from a timer, as a user would.
#include "DialogScript.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

namespace keyloft::test {

DialogScript& DialogScript::then(Action action) {
    steps_.push_back(std::move(action));
    return *this;
}

DialogScript& DialogScript::clickButton(const QString& text) {
    return then([text](QWidget* dialog) {
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
            if (button->text().remove('&') == text) {
                button->click();
                return;
            }
        }
        qWarning("no button %s", qPrintable(text));
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
    return then([text](QWidget* dialog) {
        if (auto* input = qobject_cast<QInputDialog*>(dialog)) {
            auto* edit = input->findChild<QLineEdit*>();
            edit->selectAll();
            QTest::keyClicks(edit, text);
            input->accept();
        } else if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
            // As a user types a name into the dialog and presses Enter.
            // A user types well after the dialog has listed its folder, which
            // it reads in the background; answering before that races with
            // the listing's late updates of the selection and the name field.
            if (auto* model = files->findChild<QFileSystemModel*>()) {
                const QString folder = files->directory().absolutePath();
                WaitFor([&] { return model->rowCount(model->index(folder)) > 0; }, 2000);
                QTest::qWait(50);
            }
            auto* name = files->findChild<QLineEdit*>("fileNameEdit");
            name->setText(text);
            // Typed with the keyboard, the name replaces any file selected in
            // the listing; the dialog does that only while the field has the
            // focus, which the window system may not have given it yet.
            for (auto* view : files->findChildren<QAbstractItemView*>()) view->clearSelection();
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
}

DialogScript& DialogScript::cancel() {
    return then([](QWidget* dialog) {
        if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
    });
}

DialogScript& DialogScript::chooseFile(const QString& path) { return typeAndAccept(path); }

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
    if (finished() && !rejectUnexpected_) {
        timer_.stop();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_ || !modal->isVisible()) return;
    last_ = modal;
    SeenDialog seen;
    seen.className = modal->metaObject()->className();
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.text = box->text();
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        seen.text = input->labelText();
    }
    seen_.push_back(seen);
    if (finished()) {
        QTimer::singleShot(0, modal, [this, modal] {
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
            if (!modal->isVisible() && last_ == modal) last_ = nullptr;
        });
        return;
    }
    const Action action = steps_[next_++];
    // Run the answer from a fresh event, outside this timer's slot.
    // A dialog object the window keeps (its file dialogs) may come back for
    // the next step: once the answer has closed it, it counts as new again.
    QTimer::singleShot(0, modal, [this, action, modal] {
        action(modal);
        if (!modal->isVisible() && last_ == modal) last_ = nullptr;
    });
}

QString DialogScript::describe() const {
    QStringList parts;
    for (const SeenDialog& d : seen_)
        parts << QString("%1 [%2] \"%3\"").arg(d.className, d.title, d.text);
    return QString("%1 of %2 steps; seen: %3").arg(next_).arg(steps_.size()).arg(parts.join("; "));
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
