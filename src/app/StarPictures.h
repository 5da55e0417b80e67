#pragma once

#include <QPixmap>

// The favourite star of the detail pane, 16 x 16: a grey outline for a status that is
// not a favourite, a gold filled star for one that is.
QPixmap StarPixmap(bool gold);
