// Answers the modal dialogs a command opens, in order, as a user would.
#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

class QFileDialog;

namespace keyloft::test {

// What was seen of one dialog.
struct SeenDialog {
    QString className;
    QString title;
    QString text;                                  // message text or prompt label
    QMessageBox::Icon icon = QMessageBox::NoIcon;  // of a message box
};

// "title: text" a dialog, or the title alone when it shows no text.
QStringList DialogLines(const std::vector<SeenDialog>& seen);

// Each step waits for the next modal dialog (a new active modal widget),
// records it and runs its action on it. Start the script, run the command
// (which blocks in the dialogs' event loops), then check seen() and
// finished().
//
// A dialog never hangs the test: once the test has failed (a failed check
// inside a step, say) every modal dialog is rejected at once, and a dialog
// still open long after its step ran fails the test and is rejected.
class DialogScript : public QObject {
public:
    using Action = std::function<void(QWidget*)>;

    DialogScript& then(Action action);
    // Convenience steps. A step meeting a dialog it cannot answer (no such
    // button, no field to type into) fails the test and rejects the dialog.
    DialogScript& clickButton(const QString& text);    // by button text, "&" ignored
    DialogScript& pressKey(int key);                   // a key sent to the focused widget
    DialogScript& closeBox();                          // the title bar's close button
    DialogScript& typeAndAccept(const QString& text);  // prompt: type over, Enter; file dialog too
    DialogScript& typeAndCancel(const QString& text);  // prompt: type, Escape
    DialogScript& cancel();                            // input prompt or file dialog: Cancel
    DialogScript& chooseFile(const QString& path);     // file dialog: type the name, accept
    DialogScript& acceptOffered();                     // file dialog: Enter on the offered name
    // Steps written as text: "Escape" and "Enter" press that key; "close
    // box" closes the dialog; "cancel" cancels it; "file:NAME" chooses NAME
    // inside `folder` in a file dialog; any other text clicks that button.
    DialogScript& answer(const QStringList& steps, const QString& folder = QString());
    // After the last step, records every further modal dialog in seen() and
    // rejects it, so that a command asking more than the script expects ends
    // (and the test can count seen()) instead of waiting for ever.
    DialogScript& rejectUnexpected();

    void start();
    bool finished() const { return next_ == steps_.size(); }
    const std::vector<SeenDialog>& seen() const { return seen_; }
    // Titles and texts of what was seen, for messages of failed checks.
    QString describe() const;

private:
    void poll();
    void answered(QWidget* modal);
    void fail(QWidget* modal, const QString& why);

    std::vector<Action> steps_;
    std::size_t next_ = 0;
    std::vector<SeenDialog> seen_;
    QPointer<QWidget> last_;
    QElapsedTimer answeredAt_;  // when the step on last_ ran; invalid until then
    QTimer timer_;
    bool rejectUnexpected_ = false;
};

// Types `text` key by key; unlike QTest::keyClicks it takes any character,
// as a keyboard layout or an input method delivers it.
void Type(QWidget* widget, const QString& text);

// Processes events until `condition` holds or `ms` pass.
bool WaitFor(const std::function<bool()>& condition, int ms = 5000);
// Waits until a file dialog has listed its folder, which it reads in the
// background: a user types well after that, and answering before it races
// with the listing's late updates of the selection and the name field.
void WaitForListing(QFileDialog* dialog);

}  // namespace keyloft::test
