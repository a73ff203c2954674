#include "window/operatorcontrols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>
#include <string>

#include "formats/numbertext.h"
#include "imaging/operatortable.h"
#include "imaging/settings.h"

namespace lumivane {

namespace {

constexpr const char* kClassic = "classic";

bool IsWhole(double value) {
  return std::isfinite(value) && value == std::floor(value);
}

QString Shown(double value) {
  return QString::fromStdString(FormatNumber(value, 7)).trimmed();
}

}  // namespace

SliderScale SliderScale::For(const OperatorParameter& parameter) {
  SliderScale scale;
  scale.Low = parameter.Low;
  scale.High = parameter.High;
  const bool automatic = std::isnan(parameter.Default);
  if (IsWhole(parameter.Low) && IsWhole(parameter.High) &&
      (automatic || IsWhole(parameter.Default)) && parameter.High - parameter.Low <= 10) {
    scale.Steps = static_cast<int>(parameter.High - parameter.Low);
    return scale;
  }
  scale.Logarithmic = parameter.Low > 0 && parameter.High / parameter.Low >= 100;
  return scale;
}

double SliderScale::Value(int position) const {
  const double t = static_cast<double>(position) / Steps;
  double value = Logarithmic ? Low * std::pow(High / Low, t) : Low + (High - Low) * t;
  if (value != 0.0) {
    const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 2);
    value = std::round(value / unit) * unit;
  }
  return static_cast<float>(std::clamp(value, Low, High));
}

int SliderScale::Position(double value) const {
  if (!(High > Low)) return 0;
  const double t =
      Logarithmic ? std::log(value / Low) / std::log(High / Low) : (value - Low) / (High - Low);
  return static_cast<int>(std::lround(std::clamp(t, 0.0, 1.0) * Steps));
}

OperatorControls::OperatorControls(QWidget* parent) : QWidget(parent) {
  chooser_ = new QComboBox(this);
  chooser_->setObjectName(QStringLiteral("operator"));
  for (const OperatorRow& row : OperatorTable()) {
    chooser_->addItem(QString::fromLatin1(row.Name));
    chooser_->setItemData(chooser_->count() - 1, QString::fromLatin1(row.Summary), Qt::ToolTipRole);
  }
  sliders_ = new QWidget(this);
  grid_ = new QGridLayout(sliders_);
  grid_->setContentsMargins(0, 0, 0, 0);
  grid_->setColumnStretch(1, 1);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Operator"), this));
  top->addWidget(chooser_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addWidget(sliders_);
  connect(chooser_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    ShowParameters(OperatorTable()[static_cast<std::size_t>(index)]);
    Notify();
  });
  ShowParameters(OperatorTable().front());
}

void OperatorControls::ShowParameters(const OperatorRow& row) {
  parameters_.clear();
  while (QLayoutItem* item = grid_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  parameters_.reserve(row.Parameters.size());
  int line = 0;
  for (const OperatorParameter& parameter : row.Parameters) AddParameter(parameter, line++);
}

void OperatorControls::AddParameter(const OperatorParameter& parameter, int line) {
  ParameterControl& control = parameters_.emplace_back();
  control.Parameter = &parameter;
  control.Scale = SliderScale::For(parameter);
  const bool automatic = std::isnan(parameter.Default);
  control.Value = automatic ? control.Scale.Value(control.Scale.Steps / 2) : parameter.Default;
  const QString name = QString::fromLatin1(parameter.Name);
  auto* label = new QLabel(name, sliders_);
  label->setToolTip(QString::fromLatin1(parameter.Help));
  control.Slider = new QSlider(Qt::Horizontal, sliders_);
  control.Slider->setObjectName(name);
  control.Slider->setRange(0, control.Scale.Steps);
  control.Slider->setValue(control.Scale.Position(control.Value));
  control.Slider->setToolTip(label->toolTip());
  control.Shown =
      new QLabel(automatic ? QStringLiteral("automatic") : Shown(control.Value), sliders_);
  control.Shown->setMinimumWidth(control.Shown->fontMetrics().horizontalAdvance("automatic"));
  grid_->addWidget(label, line, 0);
  grid_->addWidget(control.Slider, line, 1);
  grid_->addWidget(control.Shown, line, 2);
  if (automatic) {
    control.Automatic = new QCheckBox(QStringLiteral("auto"), sliders_);
    control.Automatic->setObjectName(name + QStringLiteral("-auto"));
    control.Automatic->setChecked(true);
    grid_->addWidget(control.Automatic, line, 3);
  }
  const std::size_t index = parameters_.size() - 1;
  connect(control.Slider, &QSlider::valueChanged, this, [this, index](int position) {
    ParameterControl& moved = parameters_[index];
    moved.Value = moved.Scale.Value(position);
    moved.Shown->setText(Shown(moved.Value));
    // Moving the slider of an estimated value sets it.
    if (moved.Automatic) moved.Automatic->setChecked(false);
    Notify();
  });
  if (control.Automatic) {
    connect(control.Automatic, &QCheckBox::toggled, this, [this, index](bool on) {
      ParameterControl& toggled = parameters_[index];
      toggled.Shown->setText(on ? QStringLiteral("automatic") : Shown(toggled.Value));
      Notify();
    });
  }
}

void OperatorControls::Notify() const {
  if (Changed) Changed();
}

QSlider* OperatorControls::Slider(const QString& name) const {
  for (const ParameterControl& control : parameters_)
    if (name == QLatin1String(control.Parameter->Name)) return control.Slider;
  return nullptr;
}

QCheckBox* OperatorControls::Automatic(const QString& name) const {
  for (const ParameterControl& control : parameters_)
    if (name == QLatin1String(control.Parameter->Name)) return control.Automatic;
  return nullptr;
}

QString OperatorControls::OperatorName() const {
  return chooser_->currentText();
}

JobSettings OperatorControls::Settings(const JobSettings& base) const {
  JobSettings settings = base;
  OperatorValues values;
  for (const ParameterControl& control : parameters_)
    if (!control.Automatic || !control.Automatic->isChecked())
      values[control.Parameter->Name] = control.Value;
  const std::string name = OperatorName().toStdString();
  if (name != kClassic) {
    settings.Operator = name;
    settings.OperatorParameters = values;
    return settings;
  }
  // The classic operator takes the settings as [Accept] leaves them.
  settings.Operator.clear();
  settings.OperatorParameters.clear();
  settings.Brightness = static_cast<float>(values["brightness"]);
  settings.PostGamma = PostGammaFromContrast(static_cast<float>(values["contrast"]));
  settings.WarmColours = values["warm"] != 0 ? 1 : 0;
  return settings;
}

}  // namespace lumivane
