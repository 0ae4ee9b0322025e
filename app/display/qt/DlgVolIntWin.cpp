#include "DlgVolIntWin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "UiHelpers.h"
#include "Vol.h"

namespace {

QString qstr(const CString& s) { return QString::fromWCharArray(s.GetString(), s.GetLength()); }

// The colour bar: the scheme from bottom to top on the left, tick marks in the right quarter.
class ColorBar : public QWidget {
 public:
  ColorBar(CViewFilterModel& model, QWidget* parent) : QWidget(parent), model_(model) { setMinimumSize(40, 160); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int l = 0, t = 0, r = width() - 1, b = height() - 1, q = (r - l) / 4;
    for (int y = t; y <= b; ++y) {
      bool tick = false;
      const uint32_t c = CViewFilterModel::ColorBarRow(model_.Scheme(), model_.Invert(), t, b, y, &tick);
      p.fillRect(QRect(l, y, r - q - l, 1), QColor(int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF)));
      if (tick) p.fillRect(QRect(r - q, y, q, 1), Qt::black);
    }
  }

 private:
  CViewFilterModel& model_;
};

}  // namespace

CDlgVolIntWin::CDlgVolIntWin(CDrawVol* layer, QWidget* parent) : QDialog(parent), model_(layer) {
  setWindowTitle(qstr(model_.Caption()));
  auto* top = new QHBoxLayout(this);
  auto* barColumn = new QGridLayout;
  colorBar_ = new ColorBar(model_, this);
  barColumn->addWidget(colorBar_, 0, 0, 5, 1);
  for (int i = 0; i < 5; ++i) {
    scaleLabels_[size_t(i)] = new QLabel(this);
    barColumn->addWidget(scaleLabels_[size_t(i)], 4 - i, 1);
  }
  top->addLayout(barColumn);

  auto* controls = new QVBoxLayout;
  auto* window = new QGroupBox(QStringLiteral("Level\\Width"), this);
  auto* grid = new QGridLayout(window);
  level = new QLineEdit(window);
  width = new QLineEdit(window);
  auto stepButtons = [&](QLineEdit* edit, int row, bool isLevel) {
    auto* up = new QToolButton(window);
    auto* down = new QToolButton(window);
    up->setArrowType(Qt::UpArrow);
    down->setArrowType(Qt::DownArrow);
    grid->addWidget(edit, row, 0);
    grid->addWidget(up, row, 1);
    grid->addWidget(down, row, 2);
    connect(up, &QToolButton::clicked, this, [this, isLevel] {
      isLevel ? model_.StepLevel(1) : model_.StepWidth(1);
      showValues();
      refresh();
    });
    connect(down, &QToolButton::clicked, this, [this, isLevel] {
      isLevel ? model_.StepLevel(-1) : model_.StepWidth(-1);
      showValues();
      refresh();
    });
  };
  stepButtons(level, 0, true);
  stepButtons(width, 1, false);
  controls->addWidget(window);
  adaptive = new QCheckBox(QStringLiteral("Adaptive"), this);
  invert = new QCheckBox(QStringLiteral("Invert scale"), this);
  controls->addWidget(adaptive);
  controls->addWidget(invert);
  auto* mapping = new QGroupBox(QStringLiteral("Color mapping"), this);
  auto* mapLayout = new QVBoxLayout(mapping);
  scheme = new QComboBox(mapping);
  for (const wchar_t* name : TW_COLOR_SCHEME_NAMES) scheme->addItem(QString::fromWCharArray(name));
  mapLayout->addWidget(scheme);
  controls->addWidget(mapping);
  defaultButton = new QPushButton(QStringLiteral("Default"), this);
  controls->addWidget(defaultButton);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  controls->addWidget(buttons);
  top->addLayout(controls);

  adaptive->setChecked(model_.Adaptive());
  invert->setChecked(model_.Invert());
  scheme->setCurrentIndex(model_.Scheme());
  showValues();

  connect(adaptive, &QCheckBox::toggled, this, [this](bool on) {
    model_.SetAdaptive(on);
    refresh();
  });
  connect(invert, &QCheckBox::toggled, this, [this](bool on) {
    model_.SetInvert(on);
    refresh();
  });
  connect(scheme, &QComboBox::currentIndexChanged, this, [this](int index) {
    model_.SetScheme(index);
    showValues();
    refresh();
  });
  connect(level, &QLineEdit::editingFinished, this, [this] {
    model_.SetLevel(level->text().toDouble());
    refresh();
  });
  connect(width, &QLineEdit::editingFinished, this, [this] {
    model_.SetWidth(width->text().toDouble());
    refresh();
  });
  connect(defaultButton, &QPushButton::clicked, this, [this] {
    if (model_.Default()) {
      adaptive->blockSignals(true);
      adaptive->setChecked(false);
      adaptive->blockSignals(false);
      showValues();
    }
    refresh();
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  refresh();
}

void CDlgVolIntWin::showValues() {
  level->setText(QString::number(model_.ShownLevel(), 'g', 15));
  width->setText(QString::number(model_.ShownWidth(), 'g', 15));
}

void CDlgVolIntWin::refresh() {
  const bool editable = !model_.Adaptive();
  level->setEnabled(editable);
  width->setEnabled(editable);
  const std::array<CString, 5> texts = model_.ScaleTexts();
  for (int i = 0; i < 5; ++i) scaleLabels_[size_t(i)]->setText(qstr(texts[size_t(i)]));
  colorBar_->repaint();
}

std::array<QString, 5> CDlgVolIntWin::ScaleLabelTexts() const {
  std::array<QString, 5> out;
  for (int i = 0; i < 5; ++i) out[size_t(i)] = scaleLabels_[size_t(i)]->text();
  return out;
}

bool CDlgVolIntWin::LevelWidthEnabled() const { return level->isEnabled() && width->isEnabled(); }

bool TW_DlgVolIntWin(CDrawSet* set, CDrawView* view) {
  CDrawVol* layer = set ? set->GetActiveLayer() : nullptr;
  if (!layer || !layer->vol || !layer->vol->frame) return false;
  if (layer->vol->IsROI()) {
    COLORREF c = COLORREF(layer->filter.roiColor);
    if (!TW_ChooseColor(&c)) return false;
    layer->filter.roiColor = int32_t(c);
    if (view) view->InvalidateClient();
  } else {
    CDlgVolIntWin dialog(layer);
    if (dialog.exec() != QDialog::Accepted) return false;
  }
  if (CDrawDoc* doc = set->GetDocument()) doc->RedrawAllViews(false);
  return true;
}
