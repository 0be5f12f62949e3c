// The wait cursor over the whole application for as long as the guard lives.
#pragma once

#include <QCursor>
#include <QGuiApplication>

namespace keyloft::ui {

// Sets the wait cursor on construction and takes it back on destruction, so
// a command that throws cannot leave the cursor busy. Guards nest: each
// takes back only its own cursor.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace keyloft::ui
