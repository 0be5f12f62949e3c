// The editor's message dialogs and input prompt.
#include "Dialogs.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QItemSelectionModel>
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

// A file dialog that takes the file its name field names. QFileDialog
// prefers rows selected in its listing over the typed name, and a name put
// into the field, or typed while the field has no focus, selects its file
// without deselecting the one selected before; so a selected file is
// dropped before the dialog reads its choice. A click on a file still
// chooses it (the click writes its name into the field); a selected folder
// is left alone, so the button that then reads "Open" goes into it.
class NameFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        auto* name = findChild<QLineEdit*>("fileNameEdit");
        auto* listing = findChild<QAbstractItemView*>("listView");
        QItemSelectionModel* selection = listing ? listing->selectionModel() : nullptr;
        if (name != nullptr && !name->text().isEmpty() && selection != nullptr) {
            bool folderSelected = false;
            for (const QModelIndex& row : selection->selectedRows()) {
                const QString path = row.data(QFileSystemModel::FilePathRole).toString();
                folderSelected = folderSelected || QFileInfo(path).isDir();
            }
            if (!folderSelected) selection->clearSelection();
        }
        QFileDialog::accept();
    }
};

std::unique_ptr<QFileDialog> NewFileDialog(QWidget* parent, const char* name, const QString& title,
                                           const QString& filter, QFileDialog::AcceptMode mode) {
    auto dialog = std::make_unique<NameFileDialog>(parent, title);
    dialog->setObjectName(name);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    if (mode == QFileDialog::AcceptSave) dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(filter);
    dialog->setDefaultSuffix("ini");
    return dialog;
}

void ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                 const QString& text) {
    Centred<QMessageBox> box(icon, caption, text, QMessageBox::Ok, parent);
    box.setObjectName("messageDialog");
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

std::unique_ptr<QFileDialog> NewOpenDialog(QWidget* parent) {
    return NewFileDialog(parent, "dlgOpen1", "Open INI File", "INI files (*.ini)",
                         QFileDialog::AcceptOpen);
}

std::unique_ptr<QFileDialog> NewSaveDialog(QWidget* parent) {
    return NewFileDialog(parent, "dlgSave1", "Save INI file", "INI Files (*.ini)",
                         QFileDialog::AcceptSave);
}

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
