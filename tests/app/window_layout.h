#pragma once
// Checks that no text of a window is cut: labels, buttons, check and option
// boxes, list entries, spin boxes and tabs all get the room their text needs
// in the window's own fonts.

#include <QStringList>

class QWidget;

namespace quarvel::testing {

// One line per control whose text does not fit ("name 'text': needs W x H,
// has w x h"), for every control shown on any page of any tab widget.
QStringList CutTexts(QWidget* window);

}  // namespace quarvel::testing
