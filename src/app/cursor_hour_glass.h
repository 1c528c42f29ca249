// TCursorHourGlass: a scoped cursor. Constructing one puts the given cursor (the wait cursor by
// default) over the whole application; destroying it gives back the cursor that was there, so
// a command that holds one restores the cursor on every way out, errors included.
#pragma once

#include <QCursor>

namespace qm {

class TCursorHourGlass {
  public:
    explicit TCursorHourGlass(const QCursor& cursor = QCursor(Qt::WaitCursor));
    ~TCursorHourGlass();
    TCursorHourGlass(const TCursorHourGlass&) = delete;
    TCursorHourGlass& operator=(const TCursorHourGlass&) = delete;
};

}  // namespace qm
