#include "EdgeWaveLiveDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "PanelSlots.h"
#include "TwkMem.h"

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
QString number(double v) { return toQt(FmtStr(L"%.2lf", v)); }

}  // namespace

CEdgeWaveLiveDialog::CEdgeWaveLiveDialog(std::unique_ptr<CEdgeWaveLiveSession> session, QWidget* parent)
    : QDialog(parent), session_(std::move(session)) {
  using F = CEdgeWaveLiveSession::Field;
  setWindowTitle(toQt(session_->Caption()));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  const struct {
    F field;
    const char* label;
  } rows[] = {{F::SiLow, "SI low relative to Seed"},
              {F::SiHigh, "SI high relative to Seed"},
              {F::Peel, "Peel distance (mm)"},
              {F::GrowFactor, "Grow factor"},
              {F::EdgeThreshold, "Edge threshold"}};
  int row = 0;
  for (const auto& r : rows) {
    const F field = r.field;
    grid->addWidget(new QLabel(QString::fromUtf8(r.label), this), row, 0);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromUtf8(r.label));
    edits_[field] = edit;
    grid->addWidget(edit, row, 1);
    auto* down = new QPushButton(QStringLiteral("<<"), this);
    auto* up = new QPushButton(QStringLiteral(">>"), this);
    auto* minus = new QToolButton(this);
    auto* plus = new QToolButton(this);
    minus->setArrowType(Qt::DownArrow);
    plus->setArrowType(Qt::UpArrow);
    for (QPushButton* b : {down, up}) b->setAutoDefault(false);
    grid->addWidget(down, row, 2);
    grid->addWidget(up, row, 3);
    grid->addWidget(minus, row, 4);
    grid->addWidget(plus, row, 5);
    connect(down, &QPushButton::clicked, this, [this, field] { session_->StepField(field, false), refresh(); });
    connect(up, &QPushButton::clicked, this, [this, field] { session_->StepField(field, true), refresh(); });
    connect(minus, &QToolButton::clicked, this, [this, field] { session_->SpinField(field, false), refresh(); });
    connect(plus, &QToolButton::clicked, this, [this, field] { session_->SpinField(field, true), refresh(); });
    connect(edit, &QLineEdit::editingFinished, this, [this, field, edit] {
      bool ok = false;
      const double v = edit->text().trimmed().toDouble(&ok);
      if (ok && v >= 0 && v != session_->FieldValue(field)) session_->SetField(field, v);
      refresh();
    });
    ++row;
  }
  layout->addLayout(grid);
  peelAndGrow_ = new QCheckBox(QStringLiteral("Peel and grow"), this);
  useEdges_ = new QCheckBox(QStringLiteral("Use edges"), this);
  correct_ = new QCheckBox(QStringLiteral("Correct nonuniformity"), this);
  auto* checks = new QHBoxLayout;
  for (QCheckBox* c : {peelAndGrow_, useEdges_, correct_}) checks->addWidget(c);
  layout->addLayout(checks);
  connect(peelAndGrow_, &QCheckBox::toggled, this, [this](bool on) { session_->SetPeelAndGrow(on), refresh(); });
  connect(useEdges_, &QCheckBox::toggled, this, [this](bool on) { session_->SetUseEdges(on), refresh(); });
  connect(correct_, &QCheckBox::toggled, this, [this](bool on) { session_->SetCorrectNonuniformity(on), refresh(); });
  auto* ranges = new QHBoxLayout;
  edgeRange_ = new QLabel(this);
  peelRange_ = new QLabel(this);
  volume_ = new QLabel(this);
  for (QLabel* l : {edgeRange_, peelRange_, volume_}) ranges->addWidget(l);
  layout->addLayout(ranges);
  slider_ = new QSlider(Qt::Horizontal, this);
  layout->addWidget(slider_);
  connect(slider_, &QSlider::valueChanged, this, [this](int p) {
    session_->SelectEntry(p);
    refresh();
  });
  auto* buttons = new QHBoxLayout;
  const char* names[] = {"Process", "Range", "Settings", "N3  Options", "Accept", "Cancel"};
  for (const char* n : names) {
    auto* b = new QPushButton(QString::fromUtf8(n), this);
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  connect(Button(QStringLiteral("Process")), &QPushButton::clicked, this, [this] { session_->Process(), refresh(); });
  connect(Button(QStringLiteral("Range")), &QPushButton::clicked, this, [this] { session_->Range(), refresh(); });
  connect(Button(QStringLiteral("Settings")), &QPushButton::clicked, this, [this] { session_->EdgeSettings(), refresh(); });
  connect(Button(QStringLiteral("N3  Options")), &QPushButton::clicked, this, [this] { session_->N3Options(), refresh(); });
  connect(Button(QStringLiteral("Accept")), &QPushButton::clicked, this, &CEdgeWaveLiveDialog::accept);
  connect(Button(QStringLiteral("Cancel")), &QPushButton::clicked, this, &CEdgeWaveLiveDialog::reject);
  refresh();
}

CEdgeWaveLiveDialog::~CEdgeWaveLiveDialog() {
  // Closed by the frame or the program: the temporary document goes as on Cancel.
  if (session_ && !session_->Finished()) session_->Cancel();
}

QPushButton* CEdgeWaveLiveDialog::Button(const QString& text) const {
  for (QPushButton* b : findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

void CEdgeWaveLiveDialog::refresh() {
  using F = CEdgeWaveLiveSession::Field;
  const CEdgeWaveLiveSession& s = *session_;
  const VA_EWL& v = s.Values();
  for (auto& [field, edit] : edits_) {
    const QSignalBlocker block(edit);
    edit->setText(number(s.FieldValue(field)));
  }
  edits_[F::SiLow]->setEnabled(v.useSiLow != 0);
  edits_[F::SiHigh]->setEnabled(v.useSiHigh != 0);
  edits_[F::Peel]->setEnabled(v.peelAndGrow != 0);
  edits_[F::GrowFactor]->setEnabled(v.peelAndGrow != 0);
  edits_[F::EdgeThreshold]->setEnabled(v.useEdges != 0);
  {
    const QSignalBlocker b1(peelAndGrow_), b2(useEdges_), b3(correct_);
    peelAndGrow_->setChecked(v.peelAndGrow != 0);
    useEdges_->setChecked(v.useEdges != 0);
    correct_->setChecked(v.correctNonuniformity != 0);
  }
  {
    const QSignalBlocker block(slider_);
    slider_->setRange(0, s.SliderMaximum());
    slider_->setValue(s.SliderPosition());
    slider_->setEnabled(s.HasRange());
  }
  edgeRange_->setText(toQt(s.EdgeRangeText()));
  peelRange_->setText(toQt(s.PeelRangeText()));
  volume_->setText(toQt(s.VolumeText()));
  // Green while a range is on the slider, dark red otherwise.
  volume_->setStyleSheet(s.HasRange() ? QStringLiteral("color: rgb(0,164,0)") : QStringLiteral("color: rgb(164,0,0)"));
  Button(QStringLiteral("Process"))->setEnabled(s.ProcessEnabled());
  Button(QStringLiteral("Accept"))->setEnabled(s.AcceptEnabled());
}

void CEdgeWaveLiveDialog::accept() {
  if (!session_->Finished()) session_->Accept();
  QDialog::accept();
  close();
}

void CEdgeWaveLiveDialog::reject() {
  if (!session_->Finished()) session_->Cancel();
  QDialog::reject();
  close();
}

void TW_InstallEdgeWaveLiveDialog() {
  TW_EWLVIEW view;
  view.anyFloatingOpen = [] { return TW_AnyPanelSlotInUse(); };
  view.open = [](std::unique_ptr<CEdgeWaveLiveSession> session) {
    auto held = std::make_shared<std::unique_ptr<CEdgeWaveLiveSession>>(std::move(session));
    const bool opened = TW_OpenModelessDialog(
        0, [held](CDrawView*) -> QWidget* { return new CEdgeWaveLiveDialog(std::move(*held)); }, nullptr);
    // Not opened: the caller closes the temporary document; the session still held here only
    // releases what it made.
    return opened;
  };
  TW_SetEdgeWaveLiveView(std::move(view));
}

void TW_RemoveEdgeWaveLiveDialog() { TW_SetEdgeWaveLiveView(TW_EWLVIEW{}); }
