// Keyloft: start-up of the INI files editor.
#include <QApplication>

#include "Dialogs.h"
#include "frmMain.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The title names the application in dialogs; the window caption stays
    // "Keyloft 1.0", so no display name is set.
    QApplication::setApplicationName(keyloft::ui::kApplicationTitle);
    QApplication::setWindowIcon(QIcon(":/icons/keyloft.svg"));

    // Qt has taken its own options (such as -platform) out of the list.
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    TForm1 window(arguments);
    window.showMaximized();
    return QApplication::exec();
}
