#include "CommandTable.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "DrawDoc.h"
#include "DrawView.h"

// The rows of the view's menus and of the main frame's menus (CommandRows.cpp).
extern const TW_COMMAND_ROW kViewCommandRows[];
extern const int kViewCommandRowCount;
extern const TW_COMMAND_ROW kFrameCommandRows[];
extern const int kFrameCommandRowCount;

namespace {

struct PRESET {
  void* address = nullptr;
  std::type_index type = typeid(void);
};

// The registry. Bindings run from static initialisers of other libraries, so every piece is a
// function-local static built on first use.
struct REGISTRY {
  std::recursive_mutex mutex;
  std::map<std::string, TW_OPERATION_BINDING> bindings;
  std::map<std::string, PRESET> presets;
  std::vector<std::pair<const TW_COMMAND_ROW*, int>> added;
  // Derived from the rows; rebuilt when rows are added.
  bool indexed = false;
  std::vector<const TW_COMMAND_ROW*> rows;
  std::unordered_map<int, const TW_COMMAND_ROW*> commandById;
  std::unordered_map<int, const TW_COMMAND_ROW*> updateById;
  std::unordered_map<const TW_COMMAND_ROW*, std::vector<TW_COMMAND_ARG>> args;
  TW_COMMAND_RECORDER recorder;
};

REGISTRY& registry() {
  static REGISTRY r;
  return r;
}

void index(REGISTRY& r) {
  if (r.indexed) return;
  r.rows.clear();
  r.commandById.clear();
  r.updateById.clear();
  auto take = [&r](const TW_COMMAND_ROW* rows, int count) {
    for (int i = 0; i < count; ++i) {
      const TW_COMMAND_ROW* row = &rows[i];
      r.rows.push_back(row);
      auto& slot = row->family == TW_UPDATE_HANDLER ? r.updateById[row->id] : r.commandById[row->id];
      if (!slot) slot = row;  // the first row of an id wins; the table test checks that ids are unique
      if (!r.args.count(row)) {
        std::vector<TW_COMMAND_ARG> parsed;
        if (TW_ParseCommandArguments(row->arguments, &parsed, nullptr)) r.args[row] = std::move(parsed);
        else r.args[row] = {};
      }
    }
  };
  take(kViewCommandRows, kViewCommandRowCount);
  take(kFrameCommandRows, kFrameCommandRowCount);
  for (const auto& [rows, count] : r.added) take(rows, count);
  r.indexed = true;
}

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-' || c == '+'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool parseNumber(const std::string& s, double* value) {
  if (s.empty()) return false;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str() + 2, &end, 16);
    if (!end || *end) return false;
    *value = double(v);
    return true;
  }
  const char* first = s.c_str();
  const char* last = first + s.size();
  const auto [ptr, ec] = std::from_chars(first, last, *value);
  return ec == std::errc() && ptr == last;
}

}  // namespace

bool TW_ParseCommandArguments(const char* text, std::vector<TW_COMMAND_ARG>* args, std::string* error) {
  std::vector<TW_COMMAND_ARG> out;
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  const std::string all = text ? text : "";
  size_t pos = 0;
  while (pos <= all.size()) {
    // A string may hold ';': read up to the separator outside quotes.
    size_t end = pos;
    bool quoted = false;
    while (end < all.size() && (quoted || all[end] != ';')) {
      if (all[end] == '"') quoted = !quoted;
      ++end;
    }
    if (quoted) return fail("unterminated string in \"" + all + "\"");
    const std::string part = trim(all.substr(pos, end - pos));
    pos = end + 1;
    if (part.empty()) {
      if (end >= all.size()) break;
      return fail("empty argument in \"" + all + "\"");
    }
    TW_COMMAND_ARG a;
    double number = 0;
    if (part == "view") a.kind = TW_COMMAND_ARG::Kind::View;
    else if (part == "doc") a.kind = TW_COMMAND_ARG::Kind::Document;
    else if (part == "frame") a.kind = TW_COMMAND_ARG::Kind::MainFrame;
    else if (part == "none") a.kind = TW_COMMAND_ARG::Kind::Null;
    else if (part == "true" || part == "false") {
      a.kind = TW_COMMAND_ARG::Kind::Bool;
      a.number = part == "true" ? 1 : 0;
    } else if (part == "@new") {
      a.kind = TW_COMMAND_ARG::Kind::NewRecord;
    } else if (part.size() > 1 && part[0] == '@') {
      for (size_t i = 1; i < part.size(); ++i)
        if (!isWordChar(part[i])) return fail("bad record name " + part);
      a.kind = TW_COMMAND_ARG::Kind::Record;
      a.text = part.substr(1);
    } else if (part.size() >= 2 && part.front() == '"' && part.back() == '"') {
      a.kind = TW_COMMAND_ARG::Kind::Text;
      a.text = part.substr(1, part.size() - 2);
    } else if (parseNumber(part, &number)) {
      a.kind = TW_COMMAND_ARG::Kind::Number;
      a.number = number;
    } else {
      return fail("unknown argument " + part);
    }
    out.push_back(std::move(a));
    if (end >= all.size()) break;
  }
  if (args) *args = std::move(out);
  return true;
}

std::string TW_FormatCommandArguments(const std::vector<TW_COMMAND_ARG>& args) {
  std::string s;
  for (const TW_COMMAND_ARG& a : args) {
    if (!s.empty()) s += "; ";
    switch (a.kind) {
      case TW_COMMAND_ARG::Kind::View: s += "view"; break;
      case TW_COMMAND_ARG::Kind::Document: s += "doc"; break;
      case TW_COMMAND_ARG::Kind::MainFrame: s += "frame"; break;
      case TW_COMMAND_ARG::Kind::Null: s += "none"; break;
      case TW_COMMAND_ARG::Kind::Bool: s += a.number != 0 ? "true" : "false"; break;
      case TW_COMMAND_ARG::Kind::Number: {
        char buffer[64];
        const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof(buffer), a.number);
        s.append(buffer, ec == std::errc() ? ptr : buffer);
        break;
      }
      case TW_COMMAND_ARG::Kind::Text: s += "\"" + a.text + "\""; break;
      case TW_COMMAND_ARG::Kind::Record: s += "@" + a.text; break;
      case TW_COMMAND_ARG::Kind::NewRecord: s += "@new"; break;
    }
  }
  return s;
}

double TW_COMMAND_CALL::Real(int i) const {
  const TW_COMMAND_ARG* a = Arg(i);
  return a && (a->kind == TW_COMMAND_ARG::Kind::Bool || a->kind == TW_COMMAND_ARG::Kind::Number) ? a->number : 0.0;
}

CString TW_COMMAND_CALL::Text(int i) const {
  const TW_COMMAND_ARG* a = Arg(i);
  return a && a->kind == TW_COMMAND_ARG::Kind::Text ? CString::fromUtf8(a->text) : CString();
}

bool TW_COMMAND_CALL::IsNull(int i) const {
  const TW_COMMAND_ARG* a = Arg(i);
  return !a || a->kind == TW_COMMAND_ARG::Kind::Null;
}

void* TW_COMMAND_CALL::recordAddress(int i, const std::type_info& type) const {
  const TW_COMMAND_ARG* a = Arg(i);
  if (!a || a->kind != TW_COMMAND_ARG::Kind::Record) return nullptr;
  return TW_FindPreset(a->text.c_str(), type);
}

void TW_BindOperation(const char* operation, TW_COMMAND_HANDLER run) {
  TW_OPERATION_BINDING binding;
  binding.run = std::move(run);
  TW_BindOperation(operation, std::move(binding));
}

void TW_BindOperation(const char* operation, TW_OPERATION_BINDING binding) {
  if (!operation || !*operation) return;
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  r.bindings[operation] = std::move(binding);
}

void TW_UnbindOperation(const char* operation) {
  if (!operation) return;
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  r.bindings.erase(operation);
}

bool TW_OperationBound(const char* operation) { return TW_FindBinding(operation) != nullptr; }

const TW_OPERATION_BINDING* TW_FindBinding(const char* operation) {
  if (!operation || !*operation) return nullptr;
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  auto it = r.bindings.find(operation);
  // A binding counts when it runs something or gives a check mark (update rows).
  return it != r.bindings.end() && (it->second.run || it->second.checked) ? &it->second : nullptr;
}

void TW_RegisterPresetAddress(const char* name, void* record, const std::type_info& type) {
  if (!name || !*name) return;
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  if (record) r.presets[name] = PRESET{record, std::type_index(type)};
  else r.presets.erase(name);
}

void* TW_FindPreset(const char* name, const std::type_info& type) {
  if (!name) return nullptr;
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  auto it = r.presets.find(name);
  return it != r.presets.end() && it->second.type == std::type_index(type) ? it->second.address : nullptr;
}

void TW_AddCommandRows(const TW_COMMAND_ROW* rows, int count) {
  if (!rows || count <= 0) return;
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  r.added.emplace_back(rows, count);
  r.indexed = false;
}

const std::vector<const TW_COMMAND_ROW*>& TW_CommandRows() {
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  index(r);
  return r.rows;
}

const TW_COMMAND_ROW* TW_FindCommandRow(int id) {
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  index(r);
  auto it = r.commandById.find(id);
  return it == r.commandById.end() ? nullptr : it->second;
}

const TW_COMMAND_ROW* TW_FindUpdateRow(int id) {
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  index(r);
  auto it = r.updateById.find(id);
  return it == r.updateById.end() ? nullptr : it->second;
}

const std::vector<TW_COMMAND_ARG>& TW_RowArguments(const TW_COMMAND_ROW* row) {
  static const std::vector<TW_COMMAND_ARG> none;
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  index(r);
  auto it = r.args.find(row);
  return it == r.args.end() ? none : it->second;
}

bool TW_RowAvailable(const TW_COMMAND_ROW* row) {
  if (!row || !TW_FindBinding(row->operation)) return false;
  for (const TW_COMMAND_ARG& a : TW_RowArguments(row)) {
    if (a.kind != TW_COMMAND_ARG::Kind::Record) continue;
    REGISTRY& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (!r.presets.count(a.text)) return false;
  }
  return true;
}

std::vector<const TW_COMMAND_ROW*> TW_UnavailableRows() {
  std::vector<const TW_COMMAND_ROW*> out;
  for (const TW_COMMAND_ROW* row : TW_CommandRows())
    if (row->family != TW_UPDATE_HANDLER && !TW_RowAvailable(row)) out.push_back(row);
  return out;
}

std::string TW_RowMenuPath(const TW_COMMAND_ROW* row) {
  if (!row) return {};
  if (!(row->menus & TW_DOCUMENT_MENU) && row->framePath) return row->framePath;
  return std::string(row->group) + " > " + row->path;
}

TW_COMMAND_CALL TW_MakeCommandCall(const TW_COMMAND_ROW* row, CDrawView* view) {
  TW_COMMAND_CALL call;
  call.row = row;
  call.view = view;
  call.doc = view ? view->GetDocument() : nullptr;
  call.set = view && call.doc ? view->GetActiveSet() : nullptr;
  call.args = &TW_RowArguments(row);
  return call;
}

bool TW_CommandEnabled(int id, CDrawView* view) {
  const TW_COMMAND_ROW* row = TW_FindCommandRow(id);
  if (!row || !TW_RowAvailable(row)) return false;
  const bool frameCommand = row->family == TW_FRAME_COMMAND || (row->menus & TW_FRAME_MENU);
  if (!frameCommand && !view) return false;
  const TW_OPERATION_BINDING* binding = TW_FindBinding(row->operation);
  if (!binding || !binding->run) return false;
  return !binding->enabled || binding->enabled(TW_MakeCommandCall(row, view));
}

bool TW_CommandChecked(int id, CDrawView* view) {
  const TW_COMMAND_ROW* update = TW_FindUpdateRow(id);
  const TW_COMMAND_ROW* row = update ? update : TW_FindCommandRow(id);
  const TW_OPERATION_BINDING* binding = row ? TW_FindBinding(row->operation) : nullptr;
  return binding && binding->checked && binding->checked(TW_MakeCommandCall(row, view));
}

bool TW_DispatchCommand(int id, CDrawView* view) {
  if (!TW_CommandEnabled(id, view)) return false;
  const TW_COMMAND_ROW* row = TW_FindCommandRow(id);
  const TW_COMMAND_CALL call = TW_MakeCommandCall(row, view);
  TW_COMMAND_RECORDER recorder;
  TW_COMMAND_HANDLER run;
  {
    REGISTRY& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    recorder = r.recorder;
    run = r.bindings[row->operation].run;  // a copy: the handler may rebind while it runs
  }
  if (recorder && recorder(call)) return false;
  if (run) run(call);
  return true;
}

TW_COMMAND_RECORDER TW_SetCommandRecorder(TW_COMMAND_RECORDER recorder) {
  REGISTRY& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  TW_COMMAND_RECORDER previous = std::move(r.recorder);
  r.recorder = std::move(recorder);
  return previous;
}

std::string TW_UnavailableRowsMarkdown() {
  std::string text;
  for (const TW_COMMAND_ROW* row : TW_UnavailableRows()) {
    std::string where = row->menus ? TW_RowMenuPath(row) : std::string(row->path);
    if (!row->menus) where += row->accelerator ? " (accelerator)" : " (toolbar)";
    // Markdown would read backslashes and asterisks; the list shows the texts as the menus do.
    std::string escaped;
    for (char ch : where) {
      if (ch == '\\' || ch == '*' || ch == '_' || ch == '`' || ch == '[' || ch == ']') escaped += '\\';
      escaped += ch;
    }
    text += "- " + escaped + "\n";
  }
  return text;
}
