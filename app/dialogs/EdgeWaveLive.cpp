#include "EdgeWaveLive.h"

#include <utility>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CropOperations.h"
#include "DocHooks.h"
#include "DocumentCommands.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "TextureEdgeDialog.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "VectRois.h"
#include "VectorRois.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "roi/RoiComponents.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace {

VA_EWL kidneyRecord() {
  VA_EWL r;
  r.siLow = 0.55;
  r.siHigh = 1.5;
  r.peel = 5.0;
  r.peelRange = 8.0;
  r.peelSteps = 40;
  r.useEdges = 0;
  r.edgeSteps = 50;
  r.edge.distanceMetric = 1;
  r.growFactor = 1.2;
  return r;
}

TW_EWLVIEW g_view;
std::function<bool(VA_N3PARM*)> g_n3Dialog;

// floor(value / 0.01 + 0.5) x 0.01
double hundredth(double value) { return std::floor(value / 0.01 + 0.5) * 0.01; }

void named(const wchar_t* where, const CString& text) { twk::doc::message(where, text); }

}  // namespace

// The N3 blocks are the basic settings with subsampling 2, which are the record's own start values.
VA_EWL g_EWLParms;
VA_EWL g_EWLParmsKidney = kidneyRecord();

void TW_SetEdgeWaveLiveView(TW_EWLVIEW view) { g_view = std::move(view); }

void TW_SetEdgeWaveLiveN3Dialog(std::function<bool(VA_N3PARM*)> dialog) { g_n3Dialog = std::move(dialog); }

bool TW_AnyFloatingDialogOpen() { return g_view.anyFloatingOpen && g_view.anyFloatingOpen(); }

CEdgeWaveLiveSession::~CEdgeWaveLiveSession() { release(); }

void CEdgeWaveLiveSession::release() {
  clearRange();
  cropVolume_.reset();
  cropBlanket_.reset();
  pf_free(&edgeMap_);
  VA_EWLCacheFree(&plain_);
  VA_EWLCacheFree(&corrected_);
  if (optionsSaved_) {
    TW_EditOptions() = savedOptions_;
    optionsSaved_ = false;
  }
}

bool CEdgeWaveLiveSession::Open(CDrawSet* tempSet, CVol* blanket, CDrawSet* seed, VA_EWL* record, const CString& name,
                                CDrawSet* sourceSet, CVol* sourceBlanket, const RECT3D& cropBox, int t) {
  const wchar_t* where = L"CDlgEWL::OnInitDialog";
  if (!tempSet || !record || !seed || !seed->vroi) return false;
  CVol* volume = CDrawSet::WorkVolSI(tempSet);
  if (!volume || !volume->frame) {
    named(where, L"Signal Intensity volume is required");
    return false;
  }
  if (!blanket || !blanket->frame || !blanket->IsROI()) {
    named(where, L"Blanket ROI is required for this operation");
    return false;
  }
  if (!volume->IsIsotropic()) {
    named(where, L"Isotropic volume is expected");
    return false;
  }
  const FRAME* vf = volume->frame;
  if (blanket->frame->dim.w != vf->dim.w || blanket->frame->dim.h != vf->dim.h || blanket->frame->dim.d != vf->dim.d) {
    named(where, L"Blanket ROI should have the same dimensions as the volume");
    return false;
  }
  tempSet_ = tempSet;
  tempDoc_ = tempSet->GetDocument();
  blanket_ = blanket;
  seed_ = seed;
  record_ = record;
  values_ = *record;
  name_ = name;
  sourceSet_ = sourceSet;
  sourceBlanket_ = sourceBlanket;
  cropBox_ = cropBox;
  t_ = t;
  spc_ = volume->spc;

  // The working crop: the blanket's box (at the seed's time point when the blanket has several)
  // widened by up to 3 voxels within the volume.
  const int bt = blanket->T() > 1 ? std::clamp(seed->vroi->t0, 0, blanket->T() - 1) : 0;
  const int vt = volume->T() > 1 ? std::clamp(seed->vroi->t0, 0, volume->T() - 1) : 0;
  RECT3D* boxes = VA_RoiBoundRect(blanket->frame);
  const bool haveBox = boxes && boxes[bt].x0 >= 0;
  if (haveBox) {
    const RECT3D& b = boxes[bt];
    workBox_ = RECT3D{std::max(0, b.x0 - 3), std::max(0, b.y0 - 3), std::max(0, b.z0 - 3),
                      std::min(vf->dim.w - 1, b.x1 + 3), std::min(vf->dim.h - 1, b.y1 + 3),
                      std::min(vf->dim.d - 1, b.z1 + 3)};
  }
  pf_free(&boxes);
  if (!haveBox) {
    named(where, L"Blanket ROI is empty");
    return false;
  }
  const RECT4D vbox{workBox_.x0, workBox_.y0, workBox_.z0, workBox_.x1, workBox_.y1, workBox_.z1, vt, vt};
  const RECT4D bbox{workBox_.x0, workBox_.y0, workBox_.z0, workBox_.x1, workBox_.y1, workBox_.z1, bt, bt};
  cropVolume_.reset(VA_VolCrop(vf, &vbox, true));
  cropBlanket_.reset(VA_VolCrop(blanket->frame, &bbox, true));
  if (!cropVolume_ || !cropBlanket_) {
    release();
    return false;
  }
  // The seed box, normalised and met with the slice rectangle, in crop coordinates.
  const HIGHOBJ* r = seed->vroi;
  DRECT3D s{std::min(r->x0, r->x1), std::min(r->y0, r->y1), std::min(r->z0, r->z1),
            std::max(r->x0, r->x1), std::max(r->y0, r->y1), std::max(r->z0, r->z1)};
  s.x0 = std::max(s.x0, 0.0);
  s.y0 = std::max(s.y0, 0.0);
  s.x1 = std::min(s.x1, double(vf->dim.w));
  s.y1 = std::min(s.y1, double(vf->dim.h));
  seedBox_ = DRECT3D{s.x0 - workBox_.x0, s.y0 - workBox_.y0, s.z0 - workBox_.z0,
                     s.x1 - workBox_.x0, s.y1 - workBox_.y0, s.z1 - workBox_.z0};

  edgeMap_ = VA_EdgeStrengthMap(&values_.edge, cropVolume_.get(), 0, cropBlanket_.get(), &edgeMax_, true);
  if (!edgeMap_) {
    release();
    return false;
  }
  values_.edge.edgeThreshold = hundredth(edgeMax_);

  // The blanket and the seed are hidden; the live layer takes the blanket layer's look.
  if (CDrawVol* layer = tempSet->GetLayerOfVol(blanket)) {
    liveOpacity_ = layer->opacity;
    liveColour_ = int(layer->filter.roiColor);
    layer->SetMarked(false);
  }
  seed->SetMarked(false);
  savedOptions_ = TW_Options();
  optionsSaved_ = true;
  TW_EditOptions().interpVols = 0;
  TW_EditOptions().interpRois = 0;
  CDrawDoc::RedrawAllViews(tempDoc_, true);
  return true;
}

void CEdgeWaveLiveSession::setValue(Field f, double v) {
  switch (f) {
    case Field::EdgeThreshold: values_.edge.edgeThreshold = v; break;
    case Field::Peel: values_.peel = v; break;
    case Field::GrowFactor: values_.growFactor = v; break;
    case Field::SiLow: values_.siLow = v; break;
    case Field::SiHigh: values_.siHigh = v; break;
  }
}

double CEdgeWaveLiveSession::FieldValue(Field f) const {
  switch (f) {
    case Field::EdgeThreshold: return values_.edge.edgeThreshold;
    case Field::Peel: return values_.peel;
    case Field::GrowFactor: return values_.growFactor;
    case Field::SiLow: return values_.siLow;
    case Field::SiHigh: break;
  }
  return values_.siHigh;
}

CVol* CEdgeWaveLiveSession::LiveRoi() const { return live_ ? live_->vol : nullptr; }

FramePtr CEdgeWaveLiveSession::runOnce(const VA_EWL& record, bool show) {
  VA_EWLCACHE* cache = record.correctNonuniformity ? &corrected_ : &plain_;
  const DIM3D dims = cropVolume_->dim;
  return FramePtr(
      VA_EdgeWaveLive(&record, 0, &seedBox_, cropVolume_.get(), &dims, &spc_, cropBlanket_.get(), cache, edgeMap_, show));
}

void CEdgeWaveLiveSession::removeLiveLayer() {
  if (!live_ || !tempSet_) return;
  live_->FreeViewCaches();
  liveOpacity_ = live_->opacity;
  liveColour_ = int(live_->filter.roiColor);
  const int i = tempSet_->IndexOfLayer(live_);
  if (i >= 0) tempSet_->RemoveLayer(i, true);
  live_ = nullptr;
  volumeText_.Empty();
}

void CEdgeWaveLiveSession::show(const FRAME* roi) {
  if (!roi || !tempSet_) return;
  // The result at the working crop's place in the temporary volume.
  CVol* volume = CDrawSet::WorkVolSI(tempSet_);
  if (!volume) return;
  const DIM3D dims{volume->frame->dim.w, volume->frame->dim.h, volume->frame->dim.d, 1};
  FramePtr full(VA_VolCreateUniform(FRM_ROI, dims, 0.0));
  if (!full || !VA_VolSetBox(full.get(), 0, &workBox_, roi, 0, nullptr)) return;
  int64_t count = 0;
  VA_RoiNumVox(roi, 0, -1, &count);
  FRAME* lent = full.release();
  const bool added = tempSet_->AddResultLayer(false, false, name_, volume, &lent, liveOpacity_, 0, liveColour_);
  full.reset(lent);
  if (!added) return;
  tempSet_->SetActiveLayerLast();
  live_ = tempSet_->GetLayer(tempSet_->NumLayers() - 1);
  processEnabled_ = false;
  acceptEnabled_ = true;
  volumeText_ = FmtStr(L"%8.2lf cm3", double(count) * spc_.x * spc_.y * spc_.z * 0.001);
}

bool CEdgeWaveLiveSession::Process() {
  if (busy_ || !cropVolume_ || finished_) return false;
  busy_ = true;
  clearRange();
  removeLiveLayer();
  const FramePtr roi = runOnce(values_, true);
  if (roi) show(roi.get());
  CDrawDoc::RedrawAllViews(tempDoc_, true);
  busy_ = false;
  return live_ != nullptr;
}

void CEdgeWaveLiveSession::clearRange() {
  entries_.clear();
  rangeCount_ = 0;
  sliderPosition_ = 0;
  edgeRangeText_.Empty();
  peelRangeText_.Empty();
}

void CEdgeWaveLiveSession::rangeTexts() {
  edgeRangeText_.Empty();
  peelRangeText_.Empty();
  if (entries_.empty()) return;
  auto text = [&](auto get, double current) {
    double lo = get(entries_[0]), hi = lo;
    for (const Entry& e : entries_) {
      lo = std::min(lo, get(e));
      hi = std::max(hi, get(e));
    }
    return current == lo && lo == hi ? CString() : FmtStr(L"%8.2lf,%8.2lf", lo, hi);
  };
  edgeRangeText_ = text([](const Entry& e) { return e.edgeThreshold; }, values_.edge.edgeThreshold);
  peelRangeText_ = text([](const Entry& e) { return e.peel; }, values_.peel);
}

bool CEdgeWaveLiveSession::Range() {
  if (busy_ || !cropVolume_ || finished_) return false;
  const int n1 = values_.peelSteps, n2 = values_.edgeSteps;
  // The steps divide the ranges by N - 1: a range needs two values of each.
  if (n1 < 2 || n2 < 2) {
    named(L"CDlgEWL::OnRange", L"The live range needs at least 2 peel steps and 2 edge steps");
    return false;
  }
  busy_ = true;
  clearRange();
  removeLiveLayer();
  const double peelStep = values_.peelRange / (n1 - 1);
  const double edgeStep = (edgeMax_ + 1e-100) / (n2 - 1);
  VA_EWL record = values_;
  bool stopped = false;
  {
    twk::ProgressGuard progress(L"Calculating Live Interval...", true);
    for (int i = 1; i < n1 && !stopped; ++i) {
      record.peel = hundredth(i * peelStep);
      for (int j = 0; j < n2; ++j) {
        record.edge.edgeThreshold = hundredth(j * edgeStep);
        FramePtr roi = runOnce(record, false);
        if (!roi) continue;
        Entry e{std::move(roi), 0, record.edge.edgeThreshold, record.peel};
        VA_RoiNumVox(e.roi.get(), 0, -1, &e.count);
        entries_.push_back(std::move(e));
      }
      if (!progress.Step(i, n1 - 1)) stopped = true;
    }
  }
  if (stopped) {
    // Kept unsorted until the next clear; no range is offered.
    edgeRangeText_.Empty();
    peelRangeText_.Empty();
    busy_ = false;
    return false;
  }
  std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.count < b.count; });
  // Pruning: the smallest entry stays; empty ones and repeats of a kept ROI go.
  {
    twk::ProgressGuard progress(L"Prunning Range...", true);
    std::vector<Entry> kept;
    size_t k = 0;
    for (; k < entries_.size(); ++k) {
      Entry& e = entries_[k];
      if (k > 0 && !progress.Step(int64_t(k), int64_t(entries_.size()))) break;
      bool drop = false;
      if (k > 0) {
        drop = e.count == 0;
        for (size_t q = kept.size(); !drop && q-- > 0 && kept[q].count == e.count;)
          drop = PR_FramesHaveIdenticalData(kept[q].roi.get(), e.roi.get());
      }
      if (!drop) kept.push_back(std::move(e));
    }
    // Stopped: the entries not yet looked at stay as they are.
    for (; k < entries_.size(); ++k) kept.push_back(std::move(entries_[k]));
    entries_.swap(kept);
  }
  busy_ = false;
  if (!entries_.empty()) {
    const Entry& middle = entries_[entries_.size() / 2];
    values_.edge.edgeThreshold = middle.edgeThreshold;
    values_.peel = middle.peel;
    show(middle.roi.get());
  }
  rangeCount_ = int(entries_.size());
  if (rangeCount_ < 2) {
    rangeCount_ = 0;
    sliderPosition_ = 0;
    entries_.clear();
  } else {
    sliderPosition_ = rangeCount_ / 2;
  }
  rangeTexts();
  CDrawDoc::RedrawAllViews(tempDoc_, true);
  return true;
}

void CEdgeWaveLiveSession::SelectEntry(int i) {
  if (!HasRange() || busy_ || i < 0 || i >= rangeCount_) return;
  sliderPosition_ = i;
  const Entry& e = entries_[size_t(i)];
  values_.edge.edgeThreshold = e.edgeThreshold;
  values_.peel = e.peel;
  removeLiveLayer();
  show(e.roi.get());
  CDrawDoc::RedrawAllViews(tempDoc_, true);
}

void CEdgeWaveLiveSession::StepField(Field f, bool up) {
  if (busy_ || (f == Field::EdgeThreshold && !values_.useEdges)) return;
  const double v = FieldValue(f);
  setValue(f, hundredth(up ? v * 1.1 : std::max(0.0, v * 0.9)));
  clearRange();
  Process();
}

void CEdgeWaveLiveSession::SpinField(Field f, bool up) {
  if (busy_ || (f == Field::EdgeThreshold && !values_.useEdges)) return;
  const double v = FieldValue(f);
  setValue(f, hundredth(up ? v + 0.01 : std::max(0.0, v - 0.01)));
  clearRange();
  Process();
}

void CEdgeWaveLiveSession::changed() {
  clearRange();
  removeLiveLayer();
  processEnabled_ = true;
  acceptEnabled_ = false;
  CDrawDoc::RedrawAllViews(tempDoc_, true);
}

void CEdgeWaveLiveSession::SetField(Field f, double value) {
  setValue(f, value);
  changed();
}

void CEdgeWaveLiveSession::SetPeelAndGrow(bool on) {
  values_.peelAndGrow = on ? 1 : 0;
  changed();
  Process();
}

void CEdgeWaveLiveSession::SetUseEdges(bool on) {
  values_.useEdges = on ? 1 : 0;
  changed();
  Process();
}

void CEdgeWaveLiveSession::SetCorrectNonuniformity(bool on) {
  values_.correctNonuniformity = on ? 1 : 0;
  changed();
}

bool CEdgeWaveLiveSession::EdgeSettings() {
  VA_URALEDGE edge = values_.edge;
  if (!TW_DlgTextureEdge(&edge)) return false;
  const bool sameMap = edge.distanceMetric == values_.edge.distanceMetric &&
                       edge.voxelWeights == values_.edge.voxelWeights && edge.lowRadius == values_.edge.lowRadius &&
                       edge.highRadius == values_.edge.highRadius;
  values_.edge = edge;
  if (!sameMap && cropVolume_) {
    // The map belongs to its settings: new radii, metric or weights give a new one.
    double maximum = 0;
    if (double* map = VA_EdgeStrengthMap(&values_.edge, cropVolume_.get(), 0, cropBlanket_.get(), &maximum, true)) {
      pf_free(&edgeMap_);
      edgeMap_ = map;
      edgeMax_ = maximum;
    }
  }
  clearRange();
  Process();
  return true;
}

bool CEdgeWaveLiveSession::N3Options() {
  if (!g_n3Dialog || !g_n3Dialog(&values_.n3)) return false;
  VA_EWLCacheFree(&corrected_);
  removeLiveLayer();
  clearRange();
  processEnabled_ = true;
  acceptEnabled_ = false;
  return true;
}

void CEdgeWaveLiveSession::closeTemporary() {
  CDrawDoc* doc = tempDoc_;
  tempDoc_ = nullptr;
  tempSet_ = nullptr;
  blanket_ = nullptr;
  seed_ = nullptr;
  live_ = nullptr;
  if (!doc) return;
  if (CDrawView* view = doc->GetActiveOrFirstView()) {
    twk::ops::OnCloseDocument(*view);
  } else if (doc->SaveModified()) {
    if (CDrawSet* set = doc->GetActiveSet()) set->FreeAllViewCaches();
    if (TW_DocumentHooks().closeDocument) TW_DocumentHooks().closeDocument(doc);
    else delete doc;
  }
}

void CEdgeWaveLiveSession::Accept() {
  if (finished_) return;
  finished_ = true;
  if (record_ && record_->storeBack) *record_ = values_;
  CVol* live = LiveRoi();
  if (live && sourceSet_ && sourceBlanket_ && sourceBlanket_->frame) {
    const DIM3D dims = sourceBlanket_->frame->dim;
    // The working crop's place in the source volume.
    const RECT3D box{cropBox_.x0 + workBox_.x0, cropBox_.y0 + workBox_.y0, cropBox_.z0 + workBox_.z0,
                     cropBox_.x0 + workBox_.x1, cropBox_.y0 + workBox_.y1, cropBox_.z0 + workBox_.z1};
    const RECT4D inTemp{workBox_.x0, workBox_.y0, workBox_.z0, workBox_.x1, workBox_.y1, workBox_.z1, 0, 0};
    const FramePtr part(VA_VolCrop(live->frame, &inTemp, true));
    FramePtr result(VA_VolCreateUniform(FRM_ROI, dims, 0.0));
    const int t = std::clamp(t_, 0, dims.t - 1);
    if (part && result && VA_VolSetBox(result.get(), t, &box, part.get(), 0, nullptr)) {
      CVol* blanket = sourceBlanket_;
      sourceSet_->DeleteLayerVol(&blanket);
      twk::files::DeleteVectROIs(*sourceSet_, 0, false);
      FRAME* lent = result.release();
      if (sourceSet_->AddResultLayer(false, false, name_, CDrawSet::WorkVolSI(sourceSet_), &lent, 20, 0, -1))
        sourceSet_->SetActiveLayerLast();
      result.reset(lent);
    }
  }
  CDrawDoc* source = sourceSet_ ? sourceSet_->GetDocument() : nullptr;
  closeTemporary();
  release();
  if (source) CDrawDoc::RedrawAllViews(source, true);
}

void CEdgeWaveLiveSession::Cancel() {
  if (finished_) return;
  finished_ = true;
  closeTemporary();
  release();
}

bool TW_OpenDlgEWL(CDrawSet* tempSet, CVol* blanket, CDrawSet* seed, VA_EWL* record, const CString& name,
                   CDrawSet* sourceSet, CVol* sourceBlanket, const RECT3D& cropBox, int t) {
  if (TW_AnyFloatingDialogOpen()) {
    named(L"TW_OpenDlgEWL", L"Only one floating dialog is allowed at any time");
    return false;
  }
  auto session = std::make_unique<CEdgeWaveLiveSession>();
  if (!session->Open(tempSet, blanket, seed, record, name, sourceSet, sourceBlanket, cropBox, t)) return false;
  session->Process();
  if (g_view.open) return g_view.open(std::move(session));
  // Headless: the values as a prompt; OK processes and accepts, Cancel cancels.
  using Kind = twk::PromptField::Kind;
  const VA_EWL& v = session->Values();
  std::vector<twk::PromptField> fields(7);
  const wchar_t* labels[] = {L"SI low relative to Seed", L"SI high relative to Seed", L"Peel distance (mm)",
                             L"Grow factor", L"Edge threshold", L"Peel and grow", L"Use edges"};
  const double numbers[] = {v.siLow, v.siHigh, v.peel, v.growFactor, v.edge.edgeThreshold, double(v.peelAndGrow),
                            double(v.useEdges)};
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i].label = labels[i];
    fields[i].kind = i < 5 ? Kind::Double : Kind::Bool;
    fields[i].number = numbers[i];
  }
  if (!twk::ui().askValues(session->Caption(), fields)) {
    session->Cancel();
    return true;
  }
  using F = CEdgeWaveLiveSession::Field;
  const F order[] = {F::SiLow, F::SiHigh, F::Peel, F::GrowFactor, F::EdgeThreshold};
  for (int i = 0; i < 5; ++i) session->SetField(order[i], fields[size_t(i)].number);
  session->SetPeelAndGrow(fields[5].number != 0);
  session->SetUseEdges(fields[6].number != 0);
  if (!session->LiveRoi()) session->Process();
  session->Accept();
  return true;
}

bool TW_EdgeWaveLive(CDrawSet* set, CDrawView* view, VA_EWL* record, const CString& name) {
  const wchar_t* where = L"CDrawSet::EdgeWaveLive";
  if (name.IsEmpty() || !set || !record) return false;
  if (TW_AnyFloatingDialogOpen()) {
    named(where, L"Only one floating dialog is allowed at any time");
    return false;
  }
  CDrawDoc* doc = set->GetDocument();
  if (!view && doc) view = doc->GetActiveOrFirstView();
  if (!view) return false;
  const int t = std::max(0, view->CurrentTime());
  CVol* volume = nullptr;
  CVol* blanket = nullptr;
  if (!set->WorkVolSIandROI(false, false, true, &volume, &blanket)) return false;
  if (!volume) {
    named(where, L"Signal Intensity volume is required");
    return false;
  }
  if (blanket->T() != volume->T()) {
    named(where, L"Blanket ROI should have the same number of timepoints");
    return false;
  }
  const int blanketIndex = set->IndexOfVol(blanket);
  if (!volume->IsIsotropic()) {
    named(where, L"Isotropic volume is expected");
    return false;
  }
  const int tt = std::min(t, volume->T() - 1);
  set->VolChangeSlice(view, 1, tt, 0, 0);
  RECT3D* boxes = VA_RoiBoundRect(blanket->frame);
  if (!boxes || boxes[tt].x0 < 0) {
    pf_free(&boxes);
    named(where, L"ROI is empty");
    return false;
  }
  // The blanket's box widened by up to 3 voxels within the volume.
  const RECT3D b = boxes[tt];
  pf_free(&boxes);
  const DIM3D& d = volume->frame->dim;
  const RECT3D crop{std::max(0, b.x0 - 3), std::max(0, b.y0 - 3), std::max(0, b.z0 - 3),
                    std::min(d.w - 1, b.x1 + 3), std::min(d.h - 1, b.y1 + 3), std::min(d.d - 1, b.z1 + 3)};
  const RECT4D box{crop.x0, crop.y0, crop.z0, crop.x1, crop.y1, crop.z1, tt, tt};
  CDrawDoc* cropped = twk::ops::VolumeCrop(*view, true, &box, nullptr, true);
  if (!cropped) return false;
  // A refusal below closes the cropped document again: it holds nothing the user asked for.
  auto fail = [&](const wchar_t* text) {
    if (text) named(where, text);
    cropped->SetModifiedFlag(false);
    if (CDrawView* v = cropped->GetActiveOrFirstView()) twk::ops::OnCloseDocument(*v);
    else if (TW_DocumentHooks().closeDocument) TW_DocumentHooks().closeDocument(cropped);
    return false;
  };
  CDrawSet* tempSet = cropped->GetActiveSet();
  CVol* tempBlanket = tempSet ? tempSet->GetLayerVol(blanketIndex) : nullptr;
  if (!tempBlanket) return fail(nullptr);
  CDrawSet** seeds = nullptr;
  int count = 0;
  TW_CollectVectRoisOfVolume(tempSet, cropped->GetActiveOrFirstView(), &seeds, &count);
  CDrawSet* seed = count == 1 ? seeds[0] : nullptr;
  pf_free(&seeds);
  if (!seed) return fail(L"Single seed is expected");
  if (seed->vroi->t0 != 0 || seed->vroi->t1 != 0) return fail(L"Incorrect seed time");
  if (doc) doc->SetModifiedFlag();
  if (!TW_OpenDlgEWL(tempSet, tempBlanket, seed, record, name, set, blanket, crop, tt)) return fail(nullptr);
  return true;
}
