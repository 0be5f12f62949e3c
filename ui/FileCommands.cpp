// The commands that open, save, close, print and end: Open, Save INI as,
// New INI, Close INI, Print INI, About and Exit.
#include <QApplication>
#include <QFileDialog>
#include <QScopeGuard>

#include "About.h"
#include "Dialogs.h"
#include "DocumentModel.h"
#include "DocumentPrinter.h"
#include "IniFile.h"
#include "IniTreeView.h"
#include "Rules.h"
#include "TextRules.h"
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
            case Answer::No: break;
            case Answer::Cancel: return;
        }
    }
    if (dlgOpen1->exec() != QDialog::Accepted || dlgOpen1->selectedFiles().isEmpty()) {
        // The document was not replaced: it stays changed if it was.
        return;
    }
    LoadIniFile(dlgOpen1->selectedFiles().constFirst());
    doc_.ItemsChanged = false;
}

void TForm1::actSaveINIExecute() { SaveIni(); }

bool TForm1::SaveIni() {
    if (!IsIniLoade()) return false;
    dlgSave1->selectFile(model_->displayText(doc_.NodeAt(0)));
    if (dlgSave1->exec() != QDialog::Accepted || dlgSave1->selectedFiles().isEmpty()) return false;
    const QString target = dlgSave1->selectedFiles().constFirst();

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    const keyloft::SaveResult result = keyloft::SaveIniFile(doc_, target.toStdString());
    const std::string name(keyloft::FileNameOfPath(target.toStdString()));
    SetStatus(QString::fromStdString(keyloft::SaveReport(name, result)));
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
        doc_.ItemsChanged = false;
    }
    // An empty document is a new one, whose texts are UTF-8.
    const std::string name =
        FirstLine(InputQuery(this, "New INI File", "INI File name, Name.ini:")).toStdString();
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
            case Answer::No: break;
            case Answer::Cancel: return;
        }
    }
    doc_.Clear();
    SetStatus("Ready");
    doc_.ItemsChanged = false;
}

void TForm1::actPrintExecute() {
    if (!IsIniLoade()) return;
    printer_->Print(doc_);
}

void TForm1::actAboutExecute() { AboutBox->exec(); }

void TForm1::actExitExecute() { close(); }
