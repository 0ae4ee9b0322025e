#pragma once
// The model of the View Filter dialog: edits the display filter of one volume layer (window level
// and width, adaptive window, colour scheme, inversion) and applies every change at once, redrawing
// the views of the layer's document. The Qt dialog (DlgVolIntWin.h) only couples its controls to it.

#include <array>
#include <cstdint>

#include "CString.h"

class CDrawView;
class CDrawVol;

// Names of the colour schemes in the order of their numbers.
extern const wchar_t* const TW_COLOR_SCHEME_NAMES[9];

class CViewFilterModel {
 public:
  explicit CViewFilterModel(CDrawVol* layer);

  CDrawVol* Layer() const { return layer_; }
  // The file title of the layer's volume name.
  CString Caption() const;

  // Level and width as shown: the filter's values rounded to 2 significant digits.
  double ShownLevel() const { return shownLevel_; }
  double ShownWidth() const { return shownWidth_; }
  bool Adaptive() const;
  bool Invert() const;
  int Scheme() const;

  void SetAdaptive(bool on);
  void SetInvert(bool on);
  // "Polar" on a real-valued layer also sets the level to 0.
  void SetScheme(int scheme);
  void SetLevel(double level);
  void SetWidth(double width);
  // A spin step: delta >= 1 multiplies by 1.01, delta < 0 by 0.99.
  void StepLevel(int delta);
  void StepWidth(int delta);
  // The optimal window of the layer's voxels over all time points; adaptive off. False (nothing
  // changed) when it cannot be computed.
  bool Default();

  // The five scale texts "%Lf %s" from the bottom of the bar to its top: L - W/2, L - W/4, L,
  // L + W/4, L + W/2 with the volume's unit.
  std::array<CString, 5> ScaleTexts() const;
  // Colour (0x00RRGGBB) of row y of a colour bar from top to bottom (inclusive), and whether the
  // row carries a tick mark. A bar of no height has one row, the top one.
  static uint32_t ColorBarRow(int scheme, bool invert, int top, int bottom, int y, bool* tick);

  // After every change: redraw all views of the layer's document and refill the Layers panel.
  void Refresh();

 private:
  void updateShown();
  CDrawVol* layer_;
  double shownLevel_ = 0, shownWidth_ = 0;
};

// Opens the View Filter for the active layer of the set (a colour chooser for an ROI layer). False
// without an active layer and on Cancel. Defined by the dialog (DlgVolIntWin.cpp).
class CDrawSet;
bool TW_DlgVolIntWin(CDrawSet* set, CDrawView* view);
