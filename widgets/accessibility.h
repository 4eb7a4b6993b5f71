#pragma once

#include <QString>

#include <initializer_list>
#include <utility>

class QWidget;

// What keyboard and screen-reader users need of every window.
namespace accessibility {

// Gives the controls of window named (by objectName) in the table their accessible names:
// for controls whose purpose no visible label states.
void nameControls(QWidget *window,
                  std::initializer_list<std::pair<const char *, const char *>> names);

// Escape closes window, as it does a dialog.
void closeOnEscape(QWidget *window);

} // namespace accessibility
