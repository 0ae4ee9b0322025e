// The motion-profile panel.
#include "DlgMotionProfile.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

#include "CommandTable.h"
#include "DocDraw.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "PanelSlots.h"
#include "TwkMem.h"
#include "ViewGeometry.h"
#include "Vol.h"
#include "registration/MotionProfile.h"
#include "volume/VolumeBox.h"

namespace {

constexpr int kMotionProfileSlot = 4;
// The colour argument of the profile's rendering (green), as the panel has always passed it.
constexpr int kProfileColour = 65280;

CDlgMotionProfile* g_profile = nullptr;

// The pointer over a view feeds the panel, after whatever fed the curve panels before. The feed is
// a type of its own so that opening the panel can tell whether it is still in the view hooks (the
// shell resets them when it closes) and join again when it is not.
struct MotionProfileFeed {
  std::function<void(CDrawView*, CDrawSet*, const RECT3D*)> previous;
  void operator()(CDrawView* view, CDrawSet* set, const RECT3D* voxel) const {
    if (previous) previous(view, set, voxel);
    if (!voxel || !g_profile) return;
    const uint32_t point[3] = {uint32_t(voxel->x0), uint32_t(voxel->y0), uint32_t(voxel->z0)};
    TW_UpdateMotionProfile(view, point);
  }
};

void joinCursorHook() {
  auto& hook = TW_ViewHooks().updateCurvePanels;
  if (hook.target<MotionProfileFeed>()) return;
  hook = MotionProfileFeed{hook};
}

QString toQt(const CString& text) { return QString::fromWCharArray(text.GetString()); }

}  // namespace

CDlgMotionProfile::CDlgMotionProfile(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Motion Profile Diagram"));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  const char* names[3] = {"X", "Y", "Z"};
  for (int k = 0; k < 3; ++k) {
    axes_[k] = new QCheckBox(QString::fromLatin1(names[k]), this);
    axes_[k]->setObjectName(QString::fromLatin1(names[k]));
    axes_[k]->setChecked(true);
    row->addWidget(axes_[k]);
    // The axes take effect with the next update (the pointer's next move).
  }
  equalize_ = new QCheckBox(QStringLiteral("Signal equalize"), this);
  equalize_->setObjectName(QStringLiteral("Signal equalize"));
  row->addWidget(equalize_);
  row->addStretch();
  layout->addLayout(row);
  info_ = new QLabel(QStringLiteral("Info"), this);
  info_->setObjectName(QStringLiteral("Info"));
  layout->addWidget(info_);
  pane_ = new QFrame(this);
  pane_->setFrameShape(QFrame::Box);
  pane_->setMinimumSize(320, 240);
  pane_->installEventFilter(this);
  layout->addWidget(pane_, 1);
  connect(equalize_, &QCheckBox::clicked, this, &CDlgMotionProfile::OnEqualize);
}

CDlgMotionProfile::~CDlgMotionProfile() {
  freeSeries();
  pf_free(&profile_);
  if (g_profile == this) {
    g_profile = nullptr;
    if (TW_PanelInSlot(kMotionProfileSlot) == this) TW_StorePanelInSlot(kMotionProfileSlot, nullptr);
  }
}

void CDlgMotionProfile::freeSeries() {
  pf_free(&a_);
  pf_free(&b_);
  pf_free(&mask_);
  dims_ = DIM3D{};
}

bool CDlgMotionProfile::rebuild(CDrawSet* set) {
  freeSeries();
  if (!set || !set->IsVolumeSet()) return false;
  std::vector<const CVol*> series;
  for (int i = 0; i < set->NumLayers() && series.size() < 2; ++i) {
    const CDrawVol* layer = set->GetLayer(i);
    const CVol* vol = layer ? layer->vol : nullptr;
    if (layer && layer->IsMarked() && vol && vol->frame && vol->T() > 1) series.push_back(vol);
  }
  if (series.empty()) return true;  // nothing to show: empty copies, zero dimensions
  const DIM3D d = series[0]->frame->dim;
  // A second layer of another grid cannot be read along the first one's lines.
  if (series.size() > 1) {
    const DIM3D e = series[1]->frame->dim;
    if (e.w != d.w || e.h != d.h || e.d != d.d || e.t != d.t) series.pop_back();
  }
  CVol* roi = nullptr;
  int candidates = 0;
  if (!CDrawSet::WorkVolROI_SingleOptional(set, &roi)) return false;
  set->WorkVolROI(&candidates);
  if (candidates > 1) return false;
  a_ = static_cast<double*>(VA_VolGetAll(series[0]->frame, 0, 64, 0));
  if (!a_) return false;
  if (series.size() > 1 && !(b_ = static_cast<double*>(VA_VolGetAll(series[1]->frame, 0, 64, 0)))) {
    freeSeries();
    return false;
  }
  const int64_t voxels = int64_t(d.w) * d.h * d.d;
  if (roi && roi->frame) {
    const DIM3D r = roi->frame->dim;
    if (r.w != d.w || r.h != d.h || r.d != d.d) {  // a mask of another grid does not apply
      freeSeries();
      return false;
    }
    mask_ = static_cast<uint8_t*>(VA_VolGetBox(roi->frame, 0, nullptr, 8, 1, 0));
  } else {
    mask_ = static_cast<uint8_t*>(pf_calloc(std::max<int64_t>(1, voxels)));
  }
  if (!mask_) {
    freeSeries();
    return false;
  }
  dims_ = d;
  return true;
}

bool CDlgMotionProfile::Update(CDrawView* view, const uint32_t point[3]) {
  if (view && view != view_) {
    CDrawSet* set = view->GetActiveSet();
    if (set != set_ || !view_) {
      const bool built = rebuild(set);
      // The view is kept even when its set gives nothing, so the next pointer move over it does
      // not try (and complain) again.
      view_ = view;
      set_ = set;
      if (!built) {
        update();
        return false;
      }
    }
    view_ = view;
  }
  if (!view_) return false;
  if (point) std::copy(point, point + 3, point_);
  pf_free(&profile_);
  width_ = height_ = 0;
  profile_ = VA_VolMotionProfile(equalize_->isChecked(), axes_[0]->isChecked(), axes_[1]->isChecked(),
                                 axes_[2]->isChecked(), a_, b_, mask_, &dims_, point_, &width_, &height_);
  update();
  pane_->update();
  if (!profile_) return false;
  double mn = VOID_VALUE, mx = -VOID_VALUE;
  for (int64_t i = 0; i < int64_t(width_) * height_; ++i)
    if (profile_[i] != VOID_VALUE) {
      mn = std::min(mn, profile_[i]);
      mx = std::max(mx, profile_[i]);
    }
  info_->setText(toQt(FmtStr(L"%u,%u,%u  (min=%e,max=%e)", point_[0], point_[1], point_[2], mn, mx)));
  return true;
}

const double* CDlgMotionProfile::Profile(int* width, int* height) const {
  if (width) *width = width_;
  if (height) *height = height_;
  return profile_;
}

CString CDlgMotionProfile::Info() const { return CString(info_->text().toStdWString().c_str()); }

void CDlgMotionProfile::OnEqualize() { Update(nullptr, nullptr); }

QImage CDlgMotionProfile::Picture() const {
  QImage image;
  const QRect r = pane_->contentsRect().adjusted(2, 2, -2, -2);
  if (profile_ && r.width() > 0 && r.height() > 0)
    TW_RenderImageToBitmap(profile_, width_, height_, false, r.width(), r.height(), kProfileColour, &image);
  return image;
}

bool CDlgMotionProfile::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pane_ && event->type() == QEvent::Paint) {
    const QImage image = Picture();
    if (!image.isNull()) {
      QPainter painter(pane_);
      painter.drawImage(pane_->contentsRect().topLeft() + QPoint(2, 2), image);
    }
    return false;
  }
  return QDialog::eventFilter(watched, event);
}

void CDlgMotionProfile::reject() {
  if (g_profile == this) {
    TW_CloseDlgMotionProfile(this);
    return;
  }
  QDialog::reject();
}

CDlgMotionProfile* TW_OpenDlgMotionProfile(QWidget* parent) {
  if (g_profile || TW_PanelInSlot(kMotionProfileSlot)) return nullptr;
  auto* dialog = new CDlgMotionProfile(parent);
  g_profile = dialog;
  TW_StorePanelInSlot(kMotionProfileSlot, dialog);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  joinCursorHook();
  dialog->show();
  return dialog;
}

CDlgMotionProfile* TW_MotionProfileDialog() { return g_profile; }

void TW_UpdateMotionProfile(CDrawView* view, const uint32_t point[3]) {
  if (g_profile) g_profile->Update(view, point);
}

void TW_CloseDlgMotionProfile(CDlgMotionProfile* dialog) {
  if (!dialog) return;
  if (g_profile == dialog) g_profile = nullptr;
  if (TW_PanelInSlot(kMotionProfileSlot) == dialog) TW_StorePanelInSlot(kMotionProfileSlot, nullptr);
  dialog->hide();
  dialog->deleteLater();
}

// "Measure > Motion Profile Diagram": opens nothing while any floating panel is open.
TW_COMMAND_BINDINGS(motion_profile) {
  TW_BindOperation("TW_OpenDlgMotionProfile", [](const TW_COMMAND_CALL&) {
    if (TW_AnyPanelSlotInUse()) return;
    TW_OpenDlgMotionProfile(nullptr);
  });
}
