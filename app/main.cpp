// Keyloft: start-up of the INI files editor.
#include <QApplication>
#include <QScreen>

#include "Dialogs.h"
#include "frmMain.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The title names the application in dialogs; the window caption stays
    // "Keyloft 1.0", so no display name is set.
    QApplication::setApplicationName(keyloft::ui::kApplicationTitle);
    QApplication::setWindowIcon(QIcon(":/icons/keyloft.svg"));
    // The name of the installed menu entry, without ".desktop": the desktop
    // shell matches the window to the entry and shows the entry's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.keyloft"));

    // Qt has taken its own options (such as -platform) out of the list.
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    TForm1 window(arguments);
    // Restored, the window stands in the middle of the desktop.
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.showMaximized();
    return QApplication::exec();
}
