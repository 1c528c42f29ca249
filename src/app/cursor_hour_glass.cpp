#include "app/cursor_hour_glass.h"

#include <QGuiApplication>

namespace qm {

// Qt keeps override cursors on a stack, which is exactly "remember the current one, put it back
// afterwards", nested holders included.
TCursorHourGlass::TCursorHourGlass(const QCursor& cursor) {
    QGuiApplication::setOverrideCursor(cursor);
}

TCursorHourGlass::~TCursorHourGlass() {
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace qm
