// The preview's operator chooser and the chosen operator's parameters as
// sliders, both read from the operator table: a row added there shows here.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "imaging/tonemapoperator.h"
#include "steps/session.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QSlider;

namespace lumivane {

struct OperatorRow;

// A slider's positions for a parameter's range: whole numbers for a small
// range of them (a switch), else 1000 steps, spread evenly over the
// logarithm of a range that spans two decades or more.
struct SliderScale {
  double Low = 0.0;
  double High = 1.0;
  int Steps = 1000;
  bool Logarithmic = false;

  static SliderScale For(const OperatorParameter& parameter);
  // The value at a position, to three significant digits and as a 32-bit
  // float holds it, as the command line takes a typed value.
  double Value(int position) const;
  int Position(double value) const;
};

class OperatorControls : public QWidget {
 public:
  explicit OperatorControls(QWidget* parent);

  QComboBox& Chooser() const { return *chooser_; }
  // The chosen operator's slider for the parameter, or null.
  QSlider* Slider(const QString& name) const;
  // Its "auto" box, for a parameter the operator estimates from the image, or null.
  QCheckBox* Automatic(const QString& name) const;
  QString OperatorName() const;

  // `base` with the chosen operator and the values the controls show: a
  // parameter left automatic is not named.
  JobSettings Settings(const JobSettings& base) const;

  // After every change of the operator or of a value.
  std::function<void()> Changed;

 private:
  struct ParameterControl {
    const OperatorParameter* Parameter = nullptr;
    SliderScale Scale;
    double Value = 0.0;
    QSlider* Slider = nullptr;
    QLabel* Shown = nullptr;
    QCheckBox* Automatic = nullptr;
  };

  void ShowParameters(const OperatorRow& row);
  void AddParameter(const OperatorParameter& parameter, int line);
  void Notify() const;

  QComboBox* chooser_;
  QWidget* sliders_;
  QGridLayout* grid_;
  std::vector<ParameterControl> parameters_;
};

}  // namespace lumivane
