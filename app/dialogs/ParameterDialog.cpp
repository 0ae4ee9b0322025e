#include "ParameterDialog.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "TwkUi.h"

namespace {

TW_DIALOG_VIEW g_view;

std::string narrow(const CString& s) { return s.toUtf8(); }

// The whole text as a number (surrounding blanks allowed); false for anything else.
bool readNumber(const CString& text, bool integer, double* value) {
  std::string s = narrow(text);
  const size_t b = s.find_first_not_of(" \t");
  const size_t e = s.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  s = s.substr(b, e - b + 1);
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  const char* first = s.c_str();
  const char* last = first + s.size();
  if (integer) {
    long long v = 0;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last) return false;
    *value = double(v);
    return true;
  }
  double v = 0;
  const auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || ptr != last || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

CString boundText(double v) { return TW_RoundTripText(v); }

TW_DIALOG_FIELD& add(TW_DIALOG& d, TW_DIALOG_FIELD field) {
  d.fields.push_back(std::move(field));
  return d.fields.back();
}

// The headless window: the fields as a value prompt, asked again until the values pass.
bool promptView(const TW_DIALOG& dialog, TW_DIALOG_VALUES& values, bool silent) {
  if (silent) return TW_CheckDialogValues(dialog, values, nullptr);
  for (;;) {
    std::vector<twk::PromptField> prompt;
    for (size_t i = 0; i < dialog.fields.size(); ++i) {
      const TW_DIALOG_FIELD& f = dialog.fields[i];
      twk::PromptField p;
      p.label = f.label;
      switch (f.kind) {
        case TW_DIALOG_FIELD::Kind::Integer:
          p.kind = twk::PromptField::Kind::Int;
          p.number = values.Number(f.label);
          break;
        case TW_DIALOG_FIELD::Kind::Real:
          p.kind = twk::PromptField::Kind::Double;
          p.number = values.Number(f.label);
          break;
        case TW_DIALOG_FIELD::Kind::Check:
          p.kind = twk::PromptField::Kind::Bool;
          p.number = values.states[i];
          break;
        case TW_DIALOG_FIELD::Kind::Choice:
          p.kind = twk::PromptField::Kind::Choice;
          p.choices = f.choices;
          p.number = values.states[i];
          break;
        case TW_DIALOG_FIELD::Kind::Text:
          p.kind = twk::PromptField::Kind::Text;
          p.text = values.texts[i];
          break;
      }
      // The ranges are the runner's check (one message whatever window shows the dialog).
      prompt.push_back(std::move(p));
    }
    if (!twk::ui().askValues(dialog.title, prompt)) return false;
    TW_DIALOG_VALUES edited = values;
    for (size_t i = 0; i < dialog.fields.size() && i < prompt.size(); ++i) {
      if (!edited.Enabled(i)) continue;  // a greyed field keeps its value
      const TW_DIALOG_FIELD& f = dialog.fields[i];
      switch (f.kind) {
        case TW_DIALOG_FIELD::Kind::Integer: edited.texts[i] = boundText(std::trunc(prompt[i].number)); break;
        case TW_DIALOG_FIELD::Kind::Real: edited.texts[i] = TW_RoundTripText(prompt[i].number); break;
        case TW_DIALOG_FIELD::Kind::Check: edited.states[i] = prompt[i].number != 0 ? 1 : 0; break;
        case TW_DIALOG_FIELD::Kind::Choice: edited.states[i] = int(prompt[i].number); break;
        case TW_DIALOG_FIELD::Kind::Text: edited.texts[i] = prompt[i].text; break;
      }
    }
    if (TW_CheckDialogValues(dialog, edited, nullptr)) {
      values = edited;
      return true;
    }
  }
}

}  // namespace

CString TW_RoundTripText(double value) {
  char buffer[64];
  // Whole numbers are written in plain digits: the shortest form of 200000 is "2e+05", which an
  // integer field would not read back.
  if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15) {
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof(buffer), static_cast<long long>(value));
    return CString::fromUtf8(std::string(buffer, ec == std::errc() ? ptr : buffer));
  }
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return CString::fromUtf8(std::string(buffer, ec == std::errc() ? ptr : buffer));
}

int TW_DIALOG_VALUES::IndexOf(const wchar_t* label) const {
  if (!fields || !label) return -1;
  for (size_t i = 0; i < fields->size(); ++i)
    if ((*fields)[i].label == label) return int(i);
  return -1;
}

double TW_DIALOG_VALUES::Number(const wchar_t* label) const {
  const int i = IndexOf(label);
  double v = 0;
  if (i < 0) return 0;
  return readNumber(texts[size_t(i)], (*fields)[size_t(i)].kind == TW_DIALOG_FIELD::Kind::Integer, &v) ? v : 0;
}

bool TW_DIALOG_VALUES::Checked(const wchar_t* label) const {
  const int i = IndexOf(label);
  return i >= 0 && states[size_t(i)] != 0;
}

int TW_DIALOG_VALUES::Choice(const wchar_t* label) const {
  const int i = IndexOf(label);
  return i >= 0 ? states[size_t(i)] : -1;
}

CString TW_DIALOG_VALUES::Text(const wchar_t* label) const {
  const int i = IndexOf(label);
  return i >= 0 ? texts[size_t(i)] : CString();
}

void TW_DIALOG_VALUES::SetText(const wchar_t* label, const CString& text) {
  const int i = IndexOf(label);
  if (i >= 0) texts[size_t(i)] = text;
}

void TW_DIALOG_VALUES::SetState(const wchar_t* label, int state) {
  const int i = IndexOf(label);
  if (i >= 0) states[size_t(i)] = state;
}

bool TW_DIALOG_VALUES::Enabled(size_t field) const {
  return !fields || field >= fields->size() || !(*fields)[field].enabled || (*fields)[field].enabled(*this);
}

namespace {

// Appends a field of the kind, bound to one of the record's members by the caller's setter.
template <typename Bind>
TW_DIALOG_FIELD& addField(TW_DIALOG& dialog, TW_DIALOG_FIELD::Kind kind, const CString& label, Bind bind) {
  TW_DIALOG_FIELD f;
  f.kind = kind;
  f.label = label;
  bind(f);
  return add(dialog, std::move(f));
}

TW_DIALOG_FIELD& withRange(TW_DIALOG_FIELD& f, double minimum, double maximum) {
  f.ranged = true;
  f.minimum = minimum;
  f.maximum = maximum;
  return f;
}

}  // namespace

TW_DIALOG_FIELD& TW_DIALOG::Integer(const CString& label, int32_t* field) {
  return addField(*this, TW_DIALOG_FIELD::Kind::Integer, label, [&](TW_DIALOG_FIELD& f) { f.integer = field; });
}

TW_DIALOG_FIELD& TW_DIALOG::Integer(const CString& label, int32_t* field, double minimum, double maximum) {
  return withRange(Integer(label, field), minimum, maximum);
}

TW_DIALOG_FIELD& TW_DIALOG::Real(const CString& label, double* field) {
  return addField(*this, TW_DIALOG_FIELD::Kind::Real, label, [&](TW_DIALOG_FIELD& f) { f.real = field; });
}

TW_DIALOG_FIELD& TW_DIALOG::Real(const CString& label, double* field, double minimum, double maximum) {
  return withRange(Real(label, field), minimum, maximum);
}

TW_DIALOG_FIELD& TW_DIALOG::Flag(const CString& label, uint8_t* field) {
  return addField(*this, TW_DIALOG_FIELD::Kind::Check, label, [&](TW_DIALOG_FIELD& f) { f.byteFlag = field; });
}

TW_DIALOG_FIELD& TW_DIALOG::Flag(const CString& label, int32_t* field) {
  return addField(*this, TW_DIALOG_FIELD::Kind::Check, label, [&](TW_DIALOG_FIELD& f) { f.integer = field; });
}

TW_DIALOG_FIELD& TW_DIALOG::Choice(const CString& label, int32_t* field, std::initializer_list<const wchar_t*> items) {
  TW_DIALOG_FIELD& f = addField(*this, TW_DIALOG_FIELD::Kind::Choice, label, [&](TW_DIALOG_FIELD& g) {
    g.integer = field;
    for (const wchar_t* item : items) g.choices.emplace_back(item);
  });
  return withRange(f, 0, double(f.choices.size()) - 1);
}

TW_DIALOG_FIELD& TW_DIALOG::Text(const CString& label, CString* field) {
  return addField(*this, TW_DIALOG_FIELD::Kind::Text, label, [&](TW_DIALOG_FIELD& f) { f.text = field; });
}

void TW_DIALOG::Button(const CString& label, std::function<void(TW_DIALOG_VALUES&)> press) {
  buttons.push_back(TW_DIALOG_BUTTON{label, std::move(press)});
}

TW_DIALOG_VALUES TW_LoadDialogValues(const TW_DIALOG& dialog) {
  TW_DIALOG_VALUES v;
  v.fields = &dialog.fields;
  for (const TW_DIALOG_FIELD& f : dialog.fields) {
    CString text;
    int state = 0;
    switch (f.kind) {
      case TW_DIALOG_FIELD::Kind::Integer: text = boundText(f.integer ? double(*f.integer) : 0); break;
      case TW_DIALOG_FIELD::Kind::Real: text = TW_RoundTripText(f.real ? *f.real : 0); break;
      case TW_DIALOG_FIELD::Kind::Check: state = (f.byteFlag ? *f.byteFlag : f.integer ? *f.integer : 0) != 0; break;
      case TW_DIALOG_FIELD::Kind::Choice: state = f.integer ? *f.integer : 0; break;
      case TW_DIALOG_FIELD::Kind::Text: text = f.text ? *f.text : CString(); break;
    }
    v.texts.push_back(text);
    v.states.push_back(state);
  }
  return v;
}

bool TW_CheckDialogValues(const TW_DIALOG& dialog, const TW_DIALOG_VALUES& values, int* badField) {
  for (size_t i = 0; i < dialog.fields.size(); ++i) {
    const TW_DIALOG_FIELD& f = dialog.fields[i];
    if (!values.Enabled(i)) continue;
    CString why;
    const bool integer = f.kind == TW_DIALOG_FIELD::Kind::Integer;
    if (integer || f.kind == TW_DIALOG_FIELD::Kind::Real) {
      double v = 0;
      if (!readNumber(values.texts[i], integer, &v)) {
        why = integer ? L"Please enter an integer." : L"Please enter a number.";
      } else if (f.ranged && (v < f.minimum || v > f.maximum)) {
        why = CString(integer ? L"Please enter an integer between " : L"Please enter a number between ") +
              boundText(f.minimum) + L" and " + boundText(f.maximum) + L".";
      }
    } else if (f.kind == TW_DIALOG_FIELD::Kind::Choice) {
      if (values.states[i] < 0 || values.states[i] >= int(f.choices.size())) why = L"Please select an item of the list.";
    }
    if (!why.IsEmpty()) {
      twk::ui().messageBox(f.label + L" : " + why, dialog.title, MB_OK | MB_ICONEXCLAMATION);
      if (badField) *badField = int(i);
      return false;
    }
  }
  if (dialog.onCheck && !dialog.onCheck(values)) {
    if (badField) *badField = -1;
    return false;
  }
  return true;
}

void TW_StoreDialogValues(const TW_DIALOG& dialog, const TW_DIALOG_VALUES& values) {
  for (size_t i = 0; i < dialog.fields.size(); ++i) {
    const TW_DIALOG_FIELD& f = dialog.fields[i];
    double v = 0;
    switch (f.kind) {
      case TW_DIALOG_FIELD::Kind::Integer:
        if (f.integer && readNumber(values.texts[i], true, &v)) *f.integer = int32_t(v);
        break;
      case TW_DIALOG_FIELD::Kind::Real:
        if (f.real && readNumber(values.texts[i], false, &v)) *f.real = v;
        break;
      case TW_DIALOG_FIELD::Kind::Check:
        if (f.byteFlag) *f.byteFlag = values.states[i] != 0 ? 1 : 0;
        if (f.integer) *f.integer = values.states[i] != 0 ? 1 : 0;
        break;
      case TW_DIALOG_FIELD::Kind::Choice:
        if (f.integer) *f.integer = values.states[i];
        break;
      case TW_DIALOG_FIELD::Kind::Text:
        if (f.text) *f.text = values.texts[i];
        break;
    }
  }
}

void TW_SetDialogView(TW_DIALOG_VIEW view) { g_view = std::move(view); }

bool TW_RunDialog(const TW_DIALOG& dialog) { return TW_RunDialog(false, dialog); }

bool TW_RunDialog(bool silent, const TW_DIALOG& dialog) {
  TW_DIALOG_VALUES values = TW_LoadDialogValues(dialog);
  // A dialog that refuses its context has said why; nothing is written, in either mode.
  if (dialog.onInit && !dialog.onInit(values)) return false;
  const bool ok = g_view ? g_view(dialog, values, silent) : promptView(dialog, values, silent);
  if (!ok) return false;
  TW_StoreDialogValues(dialog, values);
  return true;
}

bool TW_RunMethodDialog(const wchar_t* runner, bool knownMethod, const wchar_t* message,
                        const std::function<bool()>& run) {
  if (!knownMethod) {
    twk::showNamedError(runner, message);
    return false;
  }
  return run ? run() : false;
}

bool TW_RunPresetDialog(const wchar_t* function, bool knownType, const wchar_t* message,
                        const std::function<bool()>& fillAndRun) {
  return TW_RunMethodDialog(function, knownType, message, fillAndRun);
}
