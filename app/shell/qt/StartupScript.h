#pragma once
// A script of user actions that the program runs after start-up when the environment variable
// TARNWICK_SCRIPT names a file; the system tests drive the real program with it. One action a line
// (blank lines and lines starting with '#' are skipped):
//   files <path> [<path> ...]   the next file dialog answers with these paths
//   menu <Menu>/<Item>          triggers a menu command by its texts ('&' marks ignored)
//   cancel-dialog <title>       the next menu command must show a modal dialog of this title, which
//                               is then cancelled
//   answer <Yes|No|Cancel|OK>   the next message box answers with this button
//   expect-answers-used         every queued file and message answer has been asked for
//   expect-message <text>       a message box with this text was shown or answered ("\n" for a
//                               line break)
//   set-modified                marks the active document modified, as an edit would
//   expect-identical <path>     the active document equals the document stored in this file
//   wait <ms>                   lets the program run this long
//   expect-documents <n>        n documents are open
//   expect-layers <n>           the Layers panel is open and shows n rows
//   expect-view-content         the active view shows an image (not a single colour)
//   screenshot <path>           writes the main window and its open panels as one PNG
//   quit                        closes the main window (the program then exits as usual)
// An action that fails is reported on standard error and ends the program with exit code 3.

#include <QString>

// Starts the script (its actions run from the event loop); false when the file cannot be read.
bool TW_RunStartupScript(const QString& path);
