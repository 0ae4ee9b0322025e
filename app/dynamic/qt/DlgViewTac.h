#pragma once
// The curve window: one or more time-activity curves against a common time axis, converted to
// concentration on request; the first converted curve can be saved as a curve text file. Modal on
// the caller's stack (SetCurves, then exec), or the modeless voxel browser of the main frame.

#include <QDialog>

#include <vector>

#include "CString.h"
#include "DynExp.h"
#include "PlotPane.h"

class CDrawSet;
class CDrawView;
struct RECT3D;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

class CDlgViewTac : public QDialog {
  Q_OBJECT
 public:
  // conc: the caller's record, edited in place ("Concentration"), or null for an internal one
  // (method 0, manual baseline, skip 0, average 1); attrib is copied (null: T1 1.0).
  CDlgViewTac(QWidget* parent, const wchar_t* title, const wchar_t* valueName, const wchar_t* valueUnits,
              const wchar_t* argName, const wchar_t* argUnits, VA_CONCCONV* conc, const VA_TISSUEATTRIB* attrib,
              bool enableConcentration);

  // The viewer's data: copies of count curves of n points, their colours (null: the ROI palette,
  // cycled), the times; the caller keeps what it passed.
  void SetCurves(int tag, const double* const* curves, int count, const uint32_t* colours, const double* times, int n);

  int Tag() const { return tag_; }
  int Radius() const { return radius_; }
  bool Is2D() const;
  const std::vector<std::vector<double>>& Converted() const { return converted_; }
  const std::vector<uint32_t>& Colours() const { return colours_; }
  QLabel* ValueMaxLabel() const { return valueMax_; }
  QLabel* TimeMinLabel() const { return timeMin_; }
  QLabel* TimeMaxLabel() const { return timeMax_; }
  QLabel* RadiusLabel() const { return radiusText_; }
  // The state of the plot that painting cannot show ("Function argument axis is collapsed").
  QLabel* StatusLabel() const { return status_; }
  QPushButton* ConcentrationButton() const { return concButton_; }
  // The value range of the plot (false with "void" labels when no curve has a defined value)
  // and the drawn scene in a pane.
  bool PlotRange(double* min, double* max) const;
  TW_PLOT_SCENE Scene(const TW_PANE_RECT& pane);

  void OnSpin(int delta);
  void OnConcentration();
  void OnAttributes();
  bool OnSave();
  // Closing the modeless browser destroys it.
  void done(int result) override;
  ~CDlgViewTac() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void rebuild();
  void setCaption();
  void updateLabels();
  // Two or more points all at one time: nothing can be drawn along the time axis.
  bool collapsed() const;
  CString title_, valueName_, valueUnits_, argName_, argUnits_;
  VA_CONCCONV own_;
  VA_CONCCONV* conc_;
  VA_TISSUEATTRIB attrib_;
  int tag_ = 0, n_ = 0, radius_ = 0;
  double timeMin_v = 0, timeMax_v = 0;
  std::vector<std::vector<double>> curves_, converted_;
  std::vector<uint32_t> colours_;
  std::vector<double> times_;
  QGroupBox* pane_;
  QLabel *valueMax_, *valueUnitsLabel_, *timeMin_, *timeMax_, *argUnitsLabel_, *radiusText_, *status_;
  QCheckBox *twoD_, *allLayers_;
  QPushButton* concButton_;
  bool modeless_ = false;
  friend CDlgViewTac* TW_NewVoxelTacBrowser();
};

// The main frame's voxel browser (null when it is not open) and what feeds it: the curve of the
// voxel under the pointer over the set's 4D volume, averaged over the browser's neighbourhood.
CDlgViewTac* TW_VoxelTacBrowser();
CDlgViewTac* TW_NewVoxelTacBrowser();
void TW_FeedVoxelTacBrowser(CDrawView* view, CDrawSet* set, const RECT3D* voxel);

// "Convert TAC to Concentration": a curve file in the curve window on the program's TAC
// conversion record (kept between runs); true when the window is closed with OK.
bool TW_TacToConcentration();
extern VA_CONCCONV g_ConcConvTac;
extern VA_TISSUEATTRIB g_TissueAttribTac;

// The parametric-map dialog's "View": the host's input functions in their slot colours.
void TW_ViewInputFunctions(CDynExp* host, const class CVol* vol);
