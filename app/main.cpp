// Keyloft: start-up of the INI files editor.
#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QSessionManager>

#include "Dialogs.h"
#include "EditorHeap.h"
#include "frmMain.h"

namespace {

// The session manager's request as the window sees it.
class QtSessionRequest : public SessionRequest {
public:
    explicit QtSessionRequest(QSessionManager& manager) : manager_(manager) {}
    bool allowsInteraction() override { return manager_.allowsInteraction(); }
    void cancel() override { manager_.cancel(); }

private:
    QSessionManager& manager_;
};

}  // namespace

int main(int argc, char* argv[]) {
    keyloft::app::KeepLargeBlocksOnTheHeap();
    // Qt sees the program's name only, so that no argument is taken for one
    // of its own options (-style, -reverse, ...): the arguments are counted
    // and used as typed, as raw bytes, since a file name need not be valid
    // text. Platform choices come from the environment (QT_QPA_PLATFORM).
    char programName[] = "keyloft";
    char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : programName, nullptr};
    int qtArgc = 1;
    QApplication app(qtArgc, qtArgv);
    // The title names the application in dialogs; the window caption stays
    // "Keyloft 1.0", so no display name is set.
    QApplication::setApplicationName(keyloft::ui::kApplicationTitle);
    QApplication::setWindowIcon(QIcon(":/icons/keyloft.svg"));
    // The name of the installed menu entry, without ".desktop": the desktop
    // shell matches the window to the entry and shows the entry's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.keyloft"));

    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i) arguments.append(QByteArray(argv[i]));
    TForm1 window(arguments);
    // Logging off or shutting down asks the close question before the
    // session ends, while the answer can still stop it.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager& manager) {
                         QtSessionRequest request(manager);
                         window.commitDataRequest(request);
                     });
    // Restored, the window stands in the middle of the desktop.
    keyloft::ui::CentreOnScreen(&window, window.screen());
    window.showMaximized();
    return QApplication::exec();
}
