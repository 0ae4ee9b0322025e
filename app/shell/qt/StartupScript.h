#pragma once
// A script of user actions that the program runs after start-up when the environment variable
// TARNWICK_SCRIPT names a file; the system tests drive the real program with it. One action a line
// (blank lines and lines starting with '#' are skipped). The script starts once the main window is
// on the screen. A test waits for states, never for a time: every expect-* action waits until its
// state holds (30 s at most; then the script fails with what it last saw), and the actions on a view,
// a dialog's button, row or list item wait the same way for their view, button, row or item. Menu,
// toolbar and shortcut commands see their states brought up to date first, as the idle update leaves
// them before the user's next input.
//   files <path> [<path> ...]   the next file dialog answers with these paths
//   menu <Menu>/<Item>          triggers a menu command by its texts ('&' marks ignored); levels
//                               may also be separated by " > " (for texts that hold '/')
//   cancel-dialog <title>       the next menu command must show a modal dialog of this title, which
//                               is then cancelled
//   accept-dialog <title> [= <value> ...]
//                               the same, but the dialog is accepted after its text fields were
//                               given the values in their order
//   answer <Yes|No|Cancel|OK>   the next message box answers with this button
//   expect-answers-used         every queued file and message answer has been asked for
//   expect-message <text>       a message box with this text was shown or answered ("\n" for a
//                               line break)
//   set-modified                marks the active document modified, as an edit would (waits for an
//                               active document)
//   expect-identical <path>     the active document equals the document stored in this file
//   wait <ms>                   lets the program run this long (for watching a script by hand; a
//                               test waits for a state instead)
//   expect-documents <n>        n documents are open
//   expect-network-library      the network library beside the program is loaded and initialised
//   expect-layers <n>           the Layers panel is open and shows n rows
//   expect-view-content         the active view shows an image (not a single colour)
//   screenshot <path>           writes the main window and its open panels as one PNG
//   quit                        closes the main window (the program then exits as usual)
// The active document view (positions are the view's pixels, x,y; modifiers ctrl, shift; buttons
// left, right; cancel-dialog applies to these as to menu commands):
//   toolbar <tip>                              presses the toolbar button with this tool tip
//   click [left|right] [ctrl] [shift] x,y      a click
//   dblclick [left|right] [ctrl] [shift] x,y   a double click
//   drag <left|right> [ctrl] x0,y0 x1,y1 <n>   press, n moves in equal steps, release
//   move x,y                                   the pointer moves there (no button held)
//   wheel [ctrl] <notches> x,y                 wheel notches (positive: forward)
//   key <name> [ctrl]                          a key (Qt key names: F9, Escape, Backspace, Z, ...);
//                                              a shortcut of a command runs that command
//   expect-status <text>                       the status text contains the text
//   expect-window <level> <width>              the window of the active set's operand layer
//   expect-layer <row> <name>                  the Layers panel's row (from 0) shows the layer name
//   expect-roi-voxels <n> | ><n>               the operand ROI holds n (more than n) voxels
//   expect-label <name> <text>                 a visible window's label of this object name
//                                              contains the text
// Actions on modal dialogs (the script goes on while a dialog runs its own event loop):
//   menu-start <Menu>/<Item>    triggers a menu command and goes on at once, so that the following
//                               actions work in the dialogs it opens
//   wait-dialog <title>         waits (30 s at most) until a dialog of this title or object name shows
//   wait-idle                   waits (60 s at most) until no operation runs
//   wait-progress <percent>     waits (60 s at most) until the progress bar shows at least percent
//                               while an operation runs
//   wait-working                waits (60 s at most) until an operation that Esc stops runs
//   press <button text>         clicks the button of the top dialog ('&' marks ignored): the modal
//                               dialog, else any visible dialog holding such a button
//   select-row <text>           selects the first row of the top dialog's tree whose label starts with text
//   tick-row <text>             ticks that row's check box
//   choose <text>               selects the first item starting with text in a list box of the top
//                               dialog
//   esc-after <ms>              presses Esc in the top window after ms (while an operation runs the
//                               key stops it; otherwise it closes the dialog)
//   expect-stopped              waits for the operation Esc stopped to end; its progress must not have
//                               moved on by more than one step after the Esc
//   expect-dialog <title>       a dialog of this title or object name is shown
//   expect-no-dialog <title>    no dialog of this title or object name is shown
//   expect-rows <n>             the top dialog's tree holds n rows (all levels)
// An action that fails is reported on standard error and ends the program with exit code 3.

#include <QString>

#include <functional>

// Starts the script (its actions run from the event loop); false when the file cannot be read.
bool TW_RunStartupScript(const QString& path);

// Runs a trigger that may open a modal dialog, checking the dialog the script expects; false with
// the error when the check fails.
using TW_SCRIPT_WATCHED = std::function<bool(const std::function<void()>& trigger, QString* error)>;
// The view actions above; false with the error when the action fails or is unknown, and notYet set
// when what it needs or expects has not come yet (the line is tried again). delay is the time to let
// the program run afterwards.
bool TW_RunViewScriptAction(const QString& verb, const QString& argument, const TW_SCRIPT_WATCHED& watched,
                            QString* error, int* delay, bool* notYet);
