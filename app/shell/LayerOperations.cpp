#include "LayerOperations.h"

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "LayerOperationsView.h"
#include "Vol.h"
#include "volops/VolumeOperations.h"

namespace {

TW_LAYEROPERS_VIEW& installedView() {
  static TW_LAYEROPERS_VIEW view;
  return view;
}

// The prompt that stands in for the dialog: one choice among the enabled operations.
int promptForOperation(const TW_LAYEROPERS& record) {
  std::vector<CString> names;
  std::vector<int> codes;
  for (int code = 1; code <= 7; ++code)
    if (record.enabled[code]) {
      names.push_back(VA_LayerOperationName(code));
      codes.push_back(code);
    }
  if (codes.empty()) return 0;
  std::vector<twk::PromptField> fields{twk::PromptField::choice(L"Operation", names, 0)};
  if (!twk::ui().askValues(L"Layer Operations", fields)) return 0;
  const int index = int(fields[0].number);
  return index >= 0 && index < int(codes.size()) ? codes[size_t(index)] : 0;
}

}  // namespace

void TW_SetLayerOperationsView(TW_LAYEROPERS_VIEW view) { installedView() = std::move(view); }

bool TW_PrepareLayerOperations(CDrawSet* set, TW_LAYEROPERS* record) {
  const wchar_t* fn = L"CDlgLayerOpers::OnInitDialog";
  *record = TW_LAYEROPERS{};
  record->set = set;
  if (!set || !set->IsVolumeSet()) {
    twk::doc::message(fn, L"Volumetric Entity is required");
    return false;
  }
  bool anyValue = false;
  for (int i = 0; i < set->NumLayers(); ++i) {
    CVol* vol = set->GetLayerVol(i);
    if (!vol || !set->IsLayerMarked(vol)) continue;
    record->operands.push_back(vol);
    anyValue = anyValue || !vol->IsROI();
  }
  if (record->operands.empty()) return false;
  for (int code = 1; code <= 7; ++code) record->enabled[code] = true;
  if (anyValue)
    for (int code = VA_LAYEROP_UNION; code <= VA_LAYEROP_NOT; ++code) record->enabled[code] = false;
  if (record->operands.size() == 1) {
    if (anyValue) {
      twk::doc::message(fn, L"Invalid layer operand");
      return false;
    }
    for (int code = 1; code <= 7; ++code) record->enabled[code] = code == VA_LAYEROP_NOT;
  }
  return true;
}

bool TW_RunLayerOperation(const TW_LAYEROPERS& record, int code) {
  if (!record.set || code < 1 || code > 7 || !record.enabled[code] || record.operands.empty()) return false;
  CVol* result = VA_OperationOnVolumes(code, record.operands.data(), int(record.operands.size()), true);
  if (!result) return false;
  result->name = CString(VA_LayerOperationName(code)) + L" result";
  const CDrawVol* first = record.set->GetLayerOfVol(record.operands.front());
  CVol* taken = result;
  const bool added = record.set->AddLayer(&taken, 100, first ? first->filter.scheme : 0, 0);
  delete taken;
  if (added) record.set->SetActive(record.set->NumLayers() - 1);
  if (CDrawDoc* doc = record.set->GetDocument()) doc->RedrawAllViews(false);
  return added;
}

bool TW_DlgLayerOpers(CDrawSet* set) {
  if (!set) return false;
  TW_LAYEROPERS record;
  if (!TW_PrepareLayerOperations(set, &record)) return true;
  const int code = installedView() ? installedView()(record) : promptForOperation(record);
  if (code) TW_RunLayerOperation(record, code);
  return true;
}
