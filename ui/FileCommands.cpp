// The commands that open, save, close, print and end: Open, Save INI as,
// New INI, Close INI, Print INI, About and Exit.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

#include "About.h"
#include "BusyCursor.h"
#include "Dialogs.h"
#include "DocumentPrinter.h"
#include "DocumentText.h"
#include "IniTreeView.h"
#include "TextRules.h"
#include "document/Rules.h"
#include "files/IniFile.h"
#include "frmMain.h"

using keyloft::Node;
using namespace keyloft::ui;

void TForm1::actOpenExecute() {
    if (doc_.ItemsChanged) {
        switch (Confirm(this, "Items where changed, save before opening ?")) {
            case Answer::Yes:
                // A save that did not happen keeps the document: the command ends.
                if (!SaveIni()) return;
                doc_.ItemsChanged = false;
                break;
            case Answer::No:
                break;
            case Answer::Cancel:
                return;
        }
    }
    // The path chosen in the open dialog last time is offered again; before
    // any, the loaded file's folder, or the one the editor started in.
    QString folder = startFolder_;
    QString name;
    if (!openChosen_.isEmpty()) {
        folder = QFileInfo(openChosen_).absolutePath();
        name = QFileInfo(openChosen_).fileName();
    } else if (!loadedPath_.isEmpty()) {
        folder = QFileInfo(QFile::decodeName(loadedPath_)).absolutePath();
    }
    const std::unique_ptr<QFileDialog> dialog = NewOpenDialog(this);
    const std::optional<QString> chosen = AskFile(*dialog, folder, name);
    // Not chosen: the document was not replaced, and stays changed if it was.
    if (!chosen) return;
    openChosen_ = *chosen;
    LoadIniFile(*chosen);
    doc_.ItemsChanged = false;
}

std::optional<QString> TForm1::AskFile(QFileDialog& dialog, const QString& folder,
                                       const QString& name) {
    dialog.setDirectory(folder);
    // The offered name goes straight into the name field, all of it
    // selected so that typing replaces it.
    if (auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit")) {
        edit->setText(name);
        edit->selectAll();
    } else {
        dialog.selectFile(name);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    chosenFolder_ = QFileInfo(path).absolutePath();
    return path;
}

void TForm1::actSaveINIExecute() { SaveIni(); }

bool TForm1::SaveIni() {
    if (!IsIniLoade()) return false;
    const Node* root = doc_.NodeAt(0);
    // A loaded document is saved in the folder it came from, under the root's
    // name; a new one where the last file was chosen.
    const QString loaded =
        QDir::cleanPath(QFileInfo(QFile::decodeName(loadedPath_)).absoluteFilePath());
    const QString folder = loadedPath_.isEmpty() ? chosenFolder_ : QFileInfo(loaded).absolutePath();
    const std::unique_ptr<QFileDialog> dialog = NewSaveDialog(this);
    const std::optional<QString> chosen = AskFile(*dialog, folder, ShownText(doc_, root));
    if (!chosen) return false;
    // A file name need not be valid UTF-8, while the dialog's names are
    // text: the loaded file, chosen as offered while the root keeps its
    // name, is written under the very bytes it was read from.
    std::string scratch;
    const bool asLoaded = !loadedPath_.isEmpty() && root->text(scratch) == loadedRoot_ &&
                          QDir::cleanPath(QFileInfo(*chosen).absoluteFilePath()) == loaded;
    const std::string target = (asLoaded ? loadedPath_ : QFile::encodeName(*chosen)).toStdString();

    const BusyCursor busy;
    const keyloft::SaveResult result = keyloft::SaveIniFile(doc_, target);
    SetStatus(FileNameText(keyloft::SaveReport(keyloft::FileNameOfPath(target), result)));
    doc_.ItemsChanged = false;
    return true;
}

void TForm1::actINIExecute() {
    if (doc_.Count() > 0) {
        if (doc_.ItemsChanged) {
            if (Confirm(this, "Items where changed, save before clear ?") != Answer::Yes) return;
            // A save that did not happen keeps the document: the command ends.
            if (!SaveIni()) return;
        }
        doc_.Clear();
        loadedPath_.clear();
        doc_.ItemsChanged = false;
    }
    // The root's text is a file name.
    const std::string name =
        FileNameBytes(FirstLine(InputQuery(this, "New INI File", "INI File name, Name.ini:")));
    Node* root = doc_.AddRoot(keyloft::NewIniRootText(name));
    selectNode(root);
    doc_.ItemsChanged = true;
    if (!keyloft::EndsWithIni(name)) SetStatus("Newe INI root created");
}

void TForm1::actClearAllExecute() {
    if (doc_.ItemsChanged) {
        switch (Confirm(this, "Items where changed, save before clear ?")) {
            case Answer::Yes:
                if (!SaveIni()) return;
                break;
            case Answer::No:
                break;
            case Answer::Cancel:
                return;
        }
    }
    doc_.Clear();
    loadedPath_.clear();
    SetStatus("Ready");
    doc_.ItemsChanged = false;
}

void TForm1::actPrintExecute() {
    if (!IsIniLoade()) return;
    printer_->Print(doc_);
}

void TForm1::actAboutExecute() { AboutBox->exec(); }

void TForm1::actExitExecute() { close(); }
