#pragma once
// The command table: every command of a document window's menus (and of the main frame's menus)
// as one row of data, the registry through which subsystems bind the operations that rows run,
// and the dispatch that runs a row for the view that received it. The shell builds the menu bar,
// the toolbar buttons and the accelerators from the rows (MainFrameMenus.cpp); a row whose
// operation is not bound is present but disabled, with the status tip "Not available yet".
//
// ---------------------------------------------------------------------------------------------
// HOW TO BIND A ROW (every subsystem does it in its own .cpp; the rows file stays untouched)
// ---------------------------------------------------------------------------------------------
// 1. Find the row in CommandRows.cpp: its operation name (the registry key, for example
//    "CDrawSet::RoiExtractMaxCC") and its typed arguments ("view; false; true"). Every row that
//    names the operation becomes available at once: bind an operation once, read the arguments
//    of the row that fired it.
// 2. In a .cpp of your library, bind it inside a TW_COMMAND_BINDINGS block:
//
//      #include "CommandTable.h"
//      TW_COMMAND_BINDINGS(roi_operations) {
//        TW_BindOperation("CDrawSet::RoiExtractMaxCC", [](const TW_COMMAND_CALL& c) {
//          if (c.set) twk::roiops::RoiExtractMaxCC(*c.set, c.view, c.Flag(1), c.Flag(2));
//        });
//        TW_RegisterPreset("g_RoiGrowParms", &g_RoiGrowParms);   // rows that pass "@g_RoiGrowParms"
//      }
//
//    c.set is the active set of the view (CDrawView::GetActiveSet) and may be null: operations
//    run even without a set and then end without a result (as the operand pickers say).
// 3. In your folder's CMakeLists.txt, keep the block's object in every program that links your
//    library (a static library would otherwise drop it):
//
//      twk_command_bindings(twk_roi_ops roi_operations)
//
// A row is available exactly when its operation is bound and every preset record it passes
// ("@name") is registered. Commands of your own that the table lacks (tools, view toggles) are
// added as rows of your own with TW_AddCommandRows (static storage) in the same block; give them
// a group (top-level menu) and a path, or no menus for toolbar-only commands.
//
// Argument notation of a row (";" between arguments):
//   view      the view that received the command          doc    the view's document
//   frame     the main window                             none   a null argument (no name, no box)
//   true, false, 12, -1, 1e60, 0x00181314                 "text" a string
//   @g_Name   the address of a registered preset record   @new   a record the handler builds afresh
// Read them with c.Flag(i), c.Int(i), c.Real(i), c.Text(i), c.IsNull(i) and c.Record<T>(i);
// numbers and flags convert into each other (non-zero is true).
//
// Rows marked TW_INLINE_HANDLER carry the steps of their operation in the handler; their
// arguments (when any) are the handler's own constants (the noise algorithm, the split mode).
// A TW_UPDATE_HANDLER row shares the id of its command row and gives the item's check mark: bind
// its operation with a `checked` query.
// ---------------------------------------------------------------------------------------------

#include <functional>
#include <string>
#include <typeindex>
#include <vector>

#include "CString.h"

class CDrawDoc;
class CDrawSet;
class CDrawView;

// How a row's handler reaches its work.
enum TW_HANDLER_FAMILY : int {
  TW_SET_FORWARDER = 1,     // the active set's operation with constant arguments
  TW_PRESET_FORWARDER = 2,  // the same with the item's own preset parameter record
  TW_VIEW_FORWARDER = 3,    // a routine of the view or document, or a free function; no set looked up
  TW_INLINE_HANDLER = 4,    // the handler carries the operation's steps itself
  TW_UPDATE_HANDLER = 5,    // the check mark of the item with the same id
  TW_FRAME_COMMAND = 6,     // a command of the main frame (runs without a document window)
};

// Where a row's item stands.
enum : unsigned {
  TW_DOCUMENT_MENU = 1u,  // the menu bar of a document window, at group > path
  TW_FRAME_MENU = 2u,     // the main frame's menu bar (no document window), at framePath or group > path
};

struct TW_COMMAND_ROW {
  int id;                   // command id (16-bit)
  const char* group;        // top-level menu entry ("Volume")
  const char* path;         // item text below it, " > " between submenu levels
  TW_HANDLER_FAMILY family;
  const char* operation;    // registry key; empty: the command has no behaviour and stays disabled
  const char* arguments;    // typed constant arguments (notation above)
  unsigned menus;           // TW_DOCUMENT_MENU | TW_FRAME_MENU; 0: toolbar or accelerator only
  const char* accelerator;  // "Alt+2" or null
  const char* framePath;    // place in the frame's menu when it is not group > path ("Applications > CT > ...")
};

// One parsed constant argument.
struct TW_COMMAND_ARG {
  enum class Kind { View, Document, MainFrame, Null, Bool, Number, Text, Record, NewRecord };
  Kind kind = Kind::Null;
  double number = 0;  // Bool (0/1) and Number
  std::string text;   // Text, and the record name of Record
};

// Parses an argument text; false with the reason in *error (may be null) for a malformed one.
bool TW_ParseCommandArguments(const char* text, std::vector<TW_COMMAND_ARG>* args, std::string* error);
// The arguments again in the row notation (a canonical form: "view; true; 19").
std::string TW_FormatCommandArguments(const std::vector<TW_COMMAND_ARG>& args);

// What a handler gets.
struct TW_COMMAND_CALL {
  const TW_COMMAND_ROW* row = nullptr;
  CDrawView* view = nullptr;  // the view that received the command; null for frame commands without one
  CDrawDoc* doc = nullptr;    // its document
  CDrawSet* set = nullptr;    // its active set (may be null)
  const std::vector<TW_COMMAND_ARG>* args = nullptr;

  int Count() const { return args ? int(args->size()) : 0; }
  const TW_COMMAND_ARG* Arg(int i) const { return i >= 0 && i < Count() ? &(*args)[size_t(i)] : nullptr; }
  bool Flag(int i) const { return Real(i) != 0; }
  int Int(int i) const { return int(Real(i)); }
  double Real(int i) const;
  CString Text(int i) const;
  bool IsNull(int i) const;
  // The registered preset record of an "@name" argument; null when it is not one, not registered
  // or registered with another type.
  template <class T>
  T* Record(int i) const {
    return static_cast<T*>(recordAddress(i, typeid(T)));
  }

 private:
  void* recordAddress(int i, const std::type_info& type) const;
};

using TW_COMMAND_HANDLER = std::function<void(const TW_COMMAND_CALL&)>;
using TW_COMMAND_QUERY = std::function<bool(const TW_COMMAND_CALL&)>;

struct TW_OPERATION_BINDING {
  TW_COMMAND_HANDLER run;
  TW_COMMAND_QUERY enabled;  // optional: the item is greyed while it answers false
  TW_COMMAND_QUERY checked;  // optional: the item's check mark
};

// --- binding ---
void TW_BindOperation(const char* operation, TW_COMMAND_HANDLER run);
void TW_BindOperation(const char* operation, TW_OPERATION_BINDING binding);
// Drops a binding (tests that bind stand-ins restore the table with it).
void TW_UnbindOperation(const char* operation);
bool TW_OperationBound(const char* operation);
const TW_OPERATION_BINDING* TW_FindBinding(const char* operation);

void TW_RegisterPresetAddress(const char* name, void* record, const std::type_info& type);
template <class T>
void TW_RegisterPreset(const char* name, T* record) {
  TW_RegisterPresetAddress(name, record, typeid(T));
}
void* TW_FindPreset(const char* name, const std::type_info& type);

// Adds rows of a subsystem's own commands; the array must live for the whole process.
void TW_AddCommandRows(const TW_COMMAND_ROW* rows, int count);

// --- the table ---
// Every row in table order (the view table, the frame's table, then added rows).
const std::vector<const TW_COMMAND_ROW*>& TW_CommandRows();
// The command row of an id (never its update row); null when the id has none.
const TW_COMMAND_ROW* TW_FindCommandRow(int id);
// The update row of an id, or null.
const TW_COMMAND_ROW* TW_FindUpdateRow(int id);
// The parsed arguments of a row (parsed once; an unparsable row has none).
const std::vector<TW_COMMAND_ARG>& TW_RowArguments(const TW_COMMAND_ROW* row);
// Bound, and every "@name" preset it passes registered.
bool TW_RowAvailable(const TW_COMMAND_ROW* row);
// The command rows (not update rows) that are not available, in table order.
std::vector<const TW_COMMAND_ROW*> TW_UnavailableRows();
// The full menu path of a row: "group > path", or its frame path for a frame-only item.
std::string TW_RowMenuPath(const TW_COMMAND_ROW* row);

// --- running ---
TW_COMMAND_CALL TW_MakeCommandCall(const TW_COMMAND_ROW* row, CDrawView* view);
// Available, with a view for document commands, and the binding's enabled query agreeing.
bool TW_CommandEnabled(int id, CDrawView* view);
// The check mark of the id's item: its update row's query, else its own binding's query.
bool TW_CommandChecked(int id, CDrawView* view);
// Runs the row of the id for the view (null: no document window). The recorder sees the call
// first. False when the id has no row, the row is not enabled, or the recorder swallowed it.
bool TW_DispatchCommand(int id, CDrawView* view);

// The dispatch seam: a recorder sees every call before it runs; returning true swallows it (the
// operation does not run). Returns the previous recorder.
using TW_COMMAND_RECORDER = std::function<bool(const TW_COMMAND_CALL&)>;
TW_COMMAND_RECORDER TW_SetCommandRecorder(TW_COMMAND_RECORDER recorder);

// The README section that lists the commands not available yet (Markdown list, one line a row).
std::string TW_UnavailableRowsMarkdown();

// Keeps a block's object file in programs; see HOW TO BIND A ROW.
#define TW_COMMAND_BINDINGS(name)                                                              \
  static void twk_bind_commands_##name();                                                     \
  extern "C" {                                                                                \
  extern const int twk_command_bindings_##name;                                               \
  const int twk_command_bindings_##name = (twk_bind_commands_##name(), 1);                    \
  }                                                                                           \
  static void twk_bind_commands_##name()
