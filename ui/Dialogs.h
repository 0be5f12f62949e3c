// The editor's message dialogs and input prompt.
#pragma once

#include <QString>
#include <memory>

class QFileDialog;
class QScreen;
class QWidget;

namespace keyloft::ui {

enum class Answer { Yes, No, Cancel };

// Caption "Information", information icon, one "OK".
void ShowInformation(QWidget* parent, const QString& text);
// Caption "Warning", warning icon, one "OK".
void ShowWarning(QWidget* parent, const QString& text);
// Caption "Confirm", question icon, "Yes" (default, focused) and "No".
// Enter answers the focused button, Escape answers No, and the close box or
// Alt+F4 answers Cancel.
Answer Confirm(QWidget* parent, const QString& text);
// Caption "INI Files editor", no icon, one "OK".
void ShowPlainMessage(QWidget* parent, const QString& text);
// Caption "INI Files editor", error icon, one "OK": the failure report.
void ShowError(QWidget* parent, const QString& text);
// A caption, a prompt and one line of at most 255 characters, starting empty.
// Returns the text on OK and the empty text on Cancel.
QString InputQuery(QWidget* parent, const QString& caption, const QString& prompt);

// The window's two file dialogs: the open dialog `dlgOpen1` ("Open INI
// File") and the save dialog `dlgSave1` ("Save INI file", no overwrite
// question). Each command makes a fresh one, so nothing an earlier command
// left in a dialog (a row selected in its listing, a folder browsed and
// cancelled) decides what the next one returns. On Enter or the Open/Save
// button they return the file the name field names, taken relative to the
// folder they show, with "ini" added to a name without an extension, even
// when the listing still has another file selected.
std::unique_ptr<QFileDialog> NewOpenDialog(QWidget* parent);
std::unique_ptr<QFileDialog> NewSaveDialog(QWidget* parent);

// Moves `window`, frame included, to the middle of the screen's available
// area (the desktop without its panels); nothing without a screen.
void CentreOnScreen(QWidget* window, const QScreen* screen);

inline constexpr char kApplicationTitle[] = "INI Files editor";

}  // namespace keyloft::ui
