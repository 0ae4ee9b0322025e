// The command table as data: the rows against the view's command list (view_command_rows.tsv: group,
// item, operation and the arguments in words, as the menu's documentation lists them), the argument
// notation, and the dispatch: the active set, the recorder seam, availability.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../../document/tests/DocTestKit.h"
#include "OperationsTestKit.h"
#include "CommandTable.h"
#include "HighObj.h"
#include "ScriptedUi.h"

using namespace twk::testkit;
using twk::optest::rowId;
using twk::optest::StandIn;

namespace {

struct FIXTURE_ROW {
  std::string group, item, operation, words;
};

std::vector<FIXTURE_ROW> readFixture() {
  std::ifstream in(std::string(TWK_SOURCE_DIR) + "/app/operations/tests/view_command_rows.tsv");
  std::vector<FIXTURE_ROW> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::stringstream s(line);
    std::string cell;
    while (std::getline(s, cell, '\t')) cells.push_back(cell);
    if (cells.size() == 3) cells.emplace_back();
    if (cells.size() == 4) rows.push_back({cells[0], cells[1], cells[2], cells[3]});
  }
  return rows;
}

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

std::string canonicalNumber(double v) {
  std::ostringstream s;
  s.precision(17);
  s << v;
  return s.str();
}

// The values an argument text in words names, in order: "view", "doc", "frame", "@name" (a named
// record), "@?" (a record described in words), "\"text\"" and numbers (flags as 1 and 0). Remarks in
// parentheses are dropped except DICOM tags and bare numbers; "no ..." and "none" name nothing.
std::vector<std::string> wordTokens(std::string words) {
  // Three rows describe their record's values after naming it; the description is not an argument.
  if (size_t at = words.find(", start values set by"); at != std::string::npos) words.erase(at);
  if (size_t a = words.find("a VA_AF3D record built afresh"); a != std::string::npos) {
    const size_t b = words.find("empty file names", a);
    words.replace(a, b + std::string("empty file names").size() - a, "record");
  }
  replaceAll(words, " when the base layer has depth 1, else ", " ");
  // Parentheses.
  std::string plain;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] != '(') {
      plain += words[i];
      continue;
    }
    const size_t close = words.find(')', i);
    const std::string inner = words.substr(i + 1, close - i - 1);
    unsigned g = 0, e = 0;
    char tail = 0;
    if (inner.size() == 9 && std::sscanf(inner.c_str(), "%4x,%4x%c", &g, &e, &tail) == 2) {
      plain += " " + std::to_string((g << 16) | e) + " ";
    } else {
      char* end = nullptr;
      std::strtod(inner.c_str(), &end);
      if (!inner.empty() && end && *end == 0) plain += " " + inner + " ";
    }
    i = close;
  }
  std::vector<std::string> tokens;
  std::stringstream parts(plain);
  std::string part;
  while (std::getline(parts, part, ';')) {
    while (!part.empty() && part.front() == ' ') part.erase(part.begin());
    bool hasNumber = false;
    for (size_t i = 0; i < part.size(); ++i)
      if (std::isdigit(static_cast<unsigned char>(part[i])) && (i == 0 || !std::isalpha(static_cast<unsigned char>(part[i - 1]))))
        hasNumber = true;
    if ((part.rfind("no ", 0) == 0 && !hasNumber) || part == "none") continue;
    const bool named = part.find('`') != std::string::npos;
    if (part.find("view's document") != std::string::npos) tokens.push_back("doc");
    size_t i = 0;
    while (i < part.size()) {
      const char ch = part[i];
      if (ch == '`') {
        const size_t close = part.find('`', i + 1);
        tokens.push_back("@" + part.substr(i + 1, close - i - 1));
        i = close + 1;
      } else if (ch == '"') {
        const size_t close = part.find('"', i + 1);
        tokens.push_back(part.substr(i, close - i + 1));
        i = close + 1;
      } else if (std::isspace(static_cast<unsigned char>(ch)) || ch == ',' || ch == ':') {
        ++i;
      } else {
        size_t j = i;
        while (j < part.size() && !std::isspace(static_cast<unsigned char>(part[j])) && part[j] != ',' &&
               part[j] != ':' && part[j] != '`' && part[j] != '"')
          ++j;
        const std::string word = part.substr(i, j - i);
        char* end = nullptr;
        const double v = std::strtod(word.c_str(), &end);
        if (word == "true" || word == "false") tokens.push_back(word == "true" ? "1" : "0");
        else if (!word.empty() && end && *end == 0) tokens.push_back(canonicalNumber(v));
        else if (word == "view") tokens.push_back("view");
        else if (word == "window") tokens.push_back("frame");
        else if (word == "record" && !named) tokens.push_back("@?");
        i = j;
      }
    }
  }
  return tokens;
}

// The same values of a row's typed arguments (null arguments name nothing in words).
std::vector<std::string> argTokens(const std::vector<TW_COMMAND_ARG>& args) {
  std::vector<std::string> tokens;
  for (const TW_COMMAND_ARG& a : args) {
    switch (a.kind) {
      case TW_COMMAND_ARG::Kind::View: tokens.push_back("view"); break;
      case TW_COMMAND_ARG::Kind::Document: tokens.push_back("doc"); break;
      case TW_COMMAND_ARG::Kind::MainFrame: tokens.push_back("frame"); break;
      case TW_COMMAND_ARG::Kind::Null: break;
      case TW_COMMAND_ARG::Kind::Bool:
      case TW_COMMAND_ARG::Kind::Number: tokens.push_back(canonicalNumber(a.number)); break;
      case TW_COMMAND_ARG::Kind::Text: tokens.push_back("\"" + a.text + "\""); break;
      case TW_COMMAND_ARG::Kind::Record: tokens.push_back("@" + a.text); break;
      case TW_COMMAND_ARG::Kind::NewRecord: tokens.push_back("@?"); break;
    }
  }
  return tokens;
}

// Registration presets that the command list names otherwise than the records' own list: the
// records' names hold.
const std::map<std::string, std::string> kPresetNames = {
    {"@g_AF4DKidney3DTime", "@g_AF4DKidney3D"},     {"@g_AF4DKidney2DTime", "@g_AF4DKidney2D"},
    {"@g_AF4DBrainMRMoco", "@g_AF4DBrainMaskMR"},   {"@g_AF4DInSliceUral", "@g_AF4DInSliceURAL"},
    {"@g_AF4DRenalUral", "@g_AF4DRenalURAL"},       {"@g_AF4DRodentUral", "@g_AF4DRodentURAL"},
    {"@g_AF3DMouseAtlas", "@g_AF3DMouseHeadAtlas"}, {"@g_AF4DBrainPETFDG", "@g_AF4DPetBrainMask"},
    {"@g_AF3DBrainFDGDCENoRois", "@g_AF3DMRandPET"},
};

bool sameTokens(const std::vector<std::string>& words, const std::vector<std::string>& typed) {
  if (words.size() != typed.size()) return false;
  for (size_t i = 0; i < words.size(); ++i) {
    auto renamed = kPresetNames.find(words[i]);
    const std::string& word = renamed == kPresetNames.end() ? words[i] : renamed->second;
    if (word != typed[i] && !(word == "@?" && typed[i].front() == '@')) return false;
  }
  return true;
}

std::string join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

const TW_COMMAND_ROW* rowAt(const std::string& group, const std::string& path, const std::string& operation) {
  for (const TW_COMMAND_ROW* row : TW_CommandRows())
    if (row->group == group && row->path == path && row->operation == operation) return row;
  return nullptr;
}

}  // namespace

TEST(CommandTable, EveryRowOfTheCommandListWithItsOperationAndArguments) {
  const std::vector<FIXTURE_ROW> fixture = readFixture();
  ASSERT_EQ(fixture.size(), 376u);  // the view's 373 rows and the three dynamic accumulations
  std::set<const TW_COMMAND_ROW*> matched;
  for (const FIXTURE_ROW& f : fixture) {
    SCOPED_TRACE(f.group + " > " + f.item);
    const TW_COMMAND_ROW* row = rowAt(f.group, f.item, f.operation);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(matched.insert(row).second) << "two list rows match one table row";
    if (f.words.find("steps of the operation carried by the handler") != std::string::npos) {
      EXPECT_EQ(row->family, TW_INLINE_HANDLER);
      continue;  // an inline handler's constants are its own
    }
    const std::vector<std::string> words = wordTokens(f.words);
    const std::vector<std::string> typed = argTokens(TW_RowArguments(row));
    EXPECT_TRUE(sameTokens(words, typed)) << "words: " << join(words) << "\ntable: " << join(typed);
    const bool preset = std::any_of(typed.begin(), typed.end(), [](const std::string& t) { return t[0] == '@'; });
    if (row->family != TW_UPDATE_HANDLER) {
      EXPECT_EQ(row->family == TW_PRESET_FORWARDER, preset);
    }
  }
  // The rows of the view's menus are exactly the list's.
  int viewRows = 0;
  for (const TW_COMMAND_ROW* row : TW_CommandRows())
    if (row->family != TW_FRAME_COMMAND && row->group != std::string("Edit") && row->id != 32825 && row->id != 33478)
      ++viewRows;
  EXPECT_EQ(viewRows, int(fixture.size()));
}

TEST(CommandTable, RowsAreWellFormed) {
  std::map<int, int> commands;
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    SCOPED_TRACE(std::to_string(row->id) + " " + row->path);
    std::vector<TW_COMMAND_ARG> args;
    std::string error;
    EXPECT_TRUE(TW_ParseCommandArguments(row->arguments, &args, &error)) << error;
    EXPECT_GT(row->id, 0);
    EXPECT_LT(row->id, 65536);
    EXPECT_NE(std::string(row->path), "");
    if (row->family == TW_UPDATE_HANDLER) {
      EXPECT_NE(TW_FindCommandRow(row->id), nullptr) << "an update row without its command";
      continue;
    }
    EXPECT_EQ(++commands[row->id], 1) << "id used twice";
    EXPECT_EQ(TW_FindCommandRow(row->id), row);
    // A command is somewhere: a menu, an accelerator, or the toolbar's id.
    if (!row->menus) {
      EXPECT_TRUE(row->accelerator || row->id == 33277 || row->id == 33360 || row->id == 33304 || row->id == 32825 ||
                  row->id == 33478);
    }
  }
  // The accelerators of the traced splines.
  const struct {
    int key;
    const char* path;
    int mode;
  } keys[] = {{2, "Snap selected spline to image (Any Direction : Alt+2)", 0},
              {3, "Snap selected spline to image (Normal : Alt+3)", 1}};
  for (const auto& k : keys) {
    const TW_COMMAND_ROW* row = nullptr;
    for (const TW_COMMAND_ROW* r : TW_CommandRows())
      if (r->path == std::string(k.path)) row = r;
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->accelerator, "Alt+" + std::to_string(k.key));
    TW_COMMAND_CALL call = TW_MakeCommandCall(row, nullptr);
    EXPECT_EQ(call.Int(0), k.mode);
  }
}

TEST(CommandTable, ArgumentNotation) {
  const struct {
    const char* text;
    bool ok;
    const char* canonical;
  } cases[] = {
      {"", true, ""},
      {"view; doc; frame; none", true, "view; doc; frame; none"},
      {"true; false; 19; -1; 1e60; 2.5", true, "true; false; 19; -1; 1e+60; 2.5"},
      {"0x00181314", true, "1577748"},
      {"\"a; b\"; @g_X; @new", true, "\"a; b\"; @g_X; @new"},
      {"view;", true, "view"},
      {"view;; true", false, ""},
      {"\"open", false, ""},
      {"the view", false, ""},
      {"@", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<TW_COMMAND_ARG> args;
    EXPECT_EQ(TW_ParseCommandArguments(c.text, &args, nullptr), c.ok);
    if (c.ok) {
      EXPECT_EQ(TW_FormatCommandArguments(args), c.canonical);
    }
  }
  // The accessors convert flags and numbers and find registered records by type.
  static double preset = 4.5;
  TW_RegisterPreset("g_TestRecord", &preset);
  std::vector<TW_COMMAND_ARG> args;
  ASSERT_TRUE(TW_ParseCommandArguments("true; 3; \"x\"; none; @g_TestRecord; @g_Missing", &args, nullptr));
  TW_COMMAND_CALL call;
  call.args = &args;
  EXPECT_TRUE(call.Flag(0));
  EXPECT_EQ(call.Int(0), 1);
  EXPECT_TRUE(call.Flag(1));
  EXPECT_EQ(call.Int(1), 3);
  EXPECT_EQ(call.Text(2), L"x");
  EXPECT_TRUE(call.IsNull(3));
  EXPECT_TRUE(call.IsNull(9));  // beyond the last
  EXPECT_EQ(call.Record<double>(4), &preset);
  EXPECT_EQ(call.Record<int>(4), nullptr);  // registered with another type
  EXPECT_EQ(call.Record<double>(5), nullptr);
  TW_RegisterPresetAddress("g_TestRecord", nullptr, typeid(double));
}

// ---------------------------------------------------------------------------------------------
// Dispatch
// ---------------------------------------------------------------------------------------------


TEST(CommandDispatch, TheActiveSetIsTheSingleSelectedVolumeSetElseTheFirst) {
  const int id = rowId("Measure", "Two Layers with optional ROI : Cross Correlation (ZNCC)");
  ASSERT_NE(id, 0);
  StandIn operation("CDrawSet::SingleMeasurement");
  CDrawDoc doc;
  CountingView view;
  doc.AddView(&view);
  CDrawSet* first = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1))});
  CDrawSet* second = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1))});
  auto* vroi = new CDrawSet(&doc);
  vroi->vroi = static_cast<HIGHOBJ*>(pf_calloc(sizeof(HIGHOBJ)));
  vroi->vroi->kind = HIGHOBJ_VECTOR_ROI;
  CDrawObj* obj = vroi;
  doc.AddObject(&obj, true);

  const struct {
    const char* what;
    std::vector<CDrawObj*> selection;
    CDrawSet* expected;
  } cases[] = {
      {"nothing selected", {}, first},
      {"the second set selected", {second}, second},
      {"both selected", {first, second}, first},
      {"a vector ROI selected", {vroi}, first},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    doc.SetSelection(c.selection);
    operation.calls.clear();
    EXPECT_TRUE(TW_DispatchCommand(id, &view));
    ASSERT_EQ(operation.calls.size(), 1u);
    EXPECT_EQ(operation.calls[0].set, c.expected);
    EXPECT_EQ(operation.calls[0].view, &view);
    EXPECT_EQ(operation.calls[0].Int(1), 19);
  }
  doc.RemoveView(&view);
}

TEST(CommandDispatch, RunsWithoutASetButNeverWithoutAViewOrABinding) {
  const int id = rowId("Measure", "Two-volume RMSD");
  CDrawDoc doc;
  CountingView view;
  doc.AddView(&view);
  {
    StandIn operation("CDrawSet::SingleMeasurement");
    EXPECT_TRUE(TW_DispatchCommand(id, &view));  // an empty document: the operation runs, set null
    ASSERT_EQ(operation.calls.size(), 1u);
    EXPECT_EQ(operation.calls[0].set, nullptr);
    EXPECT_FALSE(TW_DispatchCommand(id, nullptr));  // a document command needs its view
    EXPECT_EQ(operation.calls.size(), 1u);
  }
  if (!TW_OperationBound("CDrawSet::SingleMeasurement")) {
    EXPECT_FALSE(TW_RowAvailable(TW_FindCommandRow(id)));
    EXPECT_FALSE(TW_DispatchCommand(id, &view));
  }
  EXPECT_FALSE(TW_DispatchCommand(1, &view));  // no row
  doc.RemoveView(&view);
}

TEST(CommandDispatch, TheRecorderSeesEveryCallAndMaySwallowIt) {
  const int id = rowId("ROI", "Morphology > Max Connected Component 2D");
  StandIn operation("CDrawSet::RoiExtractMaxCC");
  CDrawDoc doc;
  CountingView view;
  doc.AddView(&view);
  std::vector<std::string> seen;
  bool swallow = true;
  TW_SetCommandRecorder([&](const TW_COMMAND_CALL& c) {
    seen.push_back(std::string(c.row->operation) + " " + TW_FormatCommandArguments(*c.args));
    return swallow;
  });
  EXPECT_FALSE(TW_DispatchCommand(id, &view));
  EXPECT_TRUE(operation.calls.empty());
  swallow = false;
  EXPECT_TRUE(TW_DispatchCommand(id, &view));
  EXPECT_EQ(operation.calls.size(), 1u);
  TW_SetCommandRecorder(nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"CDrawSet::RoiExtractMaxCC view; true; false",
                                            "CDrawSet::RoiExtractMaxCC view; true; false"}));
  doc.RemoveView(&view);
}

TEST(CommandDispatch, UnavailableRowsListMenuPathsAndTheirKeysOrButtons) {
  const std::string text = TW_UnavailableRowsMarkdown();
  const std::vector<const TW_COMMAND_ROW*> rows = TW_UnavailableRows();
  EXPECT_EQ(size_t(std::count(text.begin(), text.end(), '\n')), rows.size());
  EXPECT_NE(text.find("- Volume > Noise > Median Noise\n"), std::string::npos);
  EXPECT_NE(text.find("- Snap selected spline to image (Normal : Alt+3) (accelerator)\n"), std::string::npos);
  EXPECT_NE(text.find("- Workflows > Breast-MR  FGT > RB: Measure and Report FGT\\\\\\\\FAT on Multilayer Volume"), std::string::npos);
  EXPECT_EQ(text.find("View > Close Document\n"), std::string::npos);  // bound
}
