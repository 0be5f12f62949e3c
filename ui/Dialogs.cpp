// The editor's message dialogs and input prompt.
#include "Dialogs.h"

#include <QCloseEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace keyloft::ui {

void CentreOnScreen(QWidget* window, const QScreen* screen) {
    if (screen == nullptr) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

namespace {

// The editor's dialogs stand in the middle of the screen.
template <class Dialog>
class Centred : public Dialog {
public:
    using Dialog::Dialog;

protected:
    void showEvent(QShowEvent* event) override {
        Dialog::showEvent(event);
        CentreOnScreen(this, this->screen());
    }
};

// A message box that tells its close box (Cancel) from Escape (No).
class ConfirmBox : public Centred<QMessageBox> {
public:
    using Centred<QMessageBox>::Centred;
    bool closedByBox() const { return closedByBox_; }

protected:
    void closeEvent(QCloseEvent* event) override {
        closedByBox_ = true;
        event->accept();
        QDialog::done(QDialog::Rejected);
    }

private:
    bool closedByBox_ = false;
};

void ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                 const QString& text) {
    Centred<QMessageBox> box(icon, caption, text, QMessageBox::Ok, parent);
    box.setObjectName("messageDialog");
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

void ShowInformation(QWidget* parent, const QString& text) {
    ShowMessage(parent, QMessageBox::Information, "Information", text);
}

void ShowWarning(QWidget* parent, const QString& text) {
    ShowMessage(parent, QMessageBox::Warning, "Warning", text);
}

void ShowPlainMessage(QWidget* parent, const QString& text) {
    ShowMessage(parent, QMessageBox::NoIcon, kApplicationTitle, text);
}

void ShowError(QWidget* parent, const QString& text) {
    ShowMessage(parent, QMessageBox::Critical, kApplicationTitle, text);
}

Answer Confirm(QWidget* parent, const QString& text) {
    ConfirmBox box(QMessageBox::Question, "Confirm", text, QMessageBox::NoButton, parent);
    box.setObjectName("confirmDialog");
    box.setTextFormat(Qt::PlainText);
    QPushButton* yes = box.addButton(QMessageBox::Yes);
    QPushButton* no = box.addButton(QMessageBox::No);
    yes->setText("&Yes");
    no->setText("&No");
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    yes->setFocus();
    box.exec();
    if (box.closedByBox()) return Answer::Cancel;
    if (box.clickedButton() == yes) return Answer::Yes;
    if (box.clickedButton() == no) return Answer::No;
    return Answer::Cancel;
}

QString InputQuery(QWidget* parent, const QString& caption, const QString& prompt) {
    Centred<QInputDialog> dialog(parent);
    dialog.setObjectName("inputQuery");
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(QString());
    dialog.setOkButtonText("OK");
    dialog.setCancelButtonText("Cancel");
    if (auto* edit = dialog.findChild<QLineEdit*>()) edit->setMaxLength(255);
    if (auto* label = dialog.findChild<QLabel*>()) label->setWordWrap(true);
    if (dialog.exec() != QDialog::Accepted) return QString();
    return dialog.textValue();
}

}  // namespace keyloft::ui
