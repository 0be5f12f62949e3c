// Answers the modal dialogs a command opens, in order, as a user would.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

class QMessageBox;

namespace keyloft::test {

// What was seen of one dialog.
struct SeenDialog {
    QString className;
    QString title;
    QString text;  // message text or prompt label
};

// Each step waits for the next modal dialog (a new active modal widget),
// records it and runs its action on it. Start the script, run the command
// (which blocks in the dialogs' event loops), then check seen() and
// finished().
class DialogScript : public QObject {
public:
    using Action = std::function<void(QWidget*)>;

    DialogScript& then(Action action);
    // Convenience steps.
    DialogScript& clickButton(const QString& text);    // by button text, "&" ignored
    DialogScript& pressKey(int key);                   // a key sent to the focused widget
    DialogScript& closeBox();                          // the title bar's close button
    DialogScript& typeAndAccept(const QString& text);  // input prompt: type, OK
    DialogScript& cancel();                            // input prompt or file dialog: Cancel
    DialogScript& chooseFile(const QString& path);     // file dialog: type the name, accept
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

    std::vector<Action> steps_;
    std::size_t next_ = 0;
    std::vector<SeenDialog> seen_;
    QPointer<QWidget> last_;
    QTimer timer_;
    bool rejectUnexpected_ = false;
};

// Processes events until `condition` holds or `ms` pass.
bool WaitFor(const std::function<bool()>& condition, int ms = 5000);

}  // namespace keyloft::test
