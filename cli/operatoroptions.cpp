#include "cli/operatoroptions.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/commandline.h"
#include "formats/numbertext.h"
#include "imaging/operatortable.h"

namespace lumivane {

namespace {

constexpr const char* kClassic = "classic";

std::string OperatorNames() {
  std::string names;
  for (const OperatorRow& row : OperatorTable())
    names += (names.empty() ? "" : ", ") + std::string(row.Name);
  return names;
}

std::string Number(double value) {
  std::string text = FormatNumber(value, 7);
  return text.front() == ' ' ? text.substr(1) : text;
}

std::string DefaultText(const OperatorParameter& p) {
  return std::isnan(p.Default) ? "automatic" : Number(p.Default);
}

std::string RangeText(const OperatorParameter& p) {
  std::string range = Number(p.Low) + " to " + Number(p.High);
  if (p.AlsoPixels) range += ", or " + Number(p.PixelLow) + "px to " + Number(p.PixelHigh) + "px";
  return range;
}

const OperatorParameter* FindParameter(const OperatorRow& row, const std::string& name) {
  for (const OperatorParameter& p : row.Parameters)
    if (name == p.Name) return &p;
  return nullptr;
}

// A decimal value, or a length in pixels ("40px") where the parameter takes one.
void AddValue(const OperatorRow& row, const OperatorParameter& p, const std::string& text,
              OperatorValues& values) {
  const bool pixels = p.AlsoPixels && text.size() > 2 && text.ends_with("px");
  const std::string digits = pixels ? text.substr(0, text.size() - 2) : text;
  const std::optional<float> value = ParseSettingValue(digits);
  const double low = pixels ? p.PixelLow : p.Low, high = pixels ? p.PixelHigh : p.High;
  if (!value || !std::isfinite(*value) || *value < low || *value > high)
    throw CLI::ValidationError(
        "--" + std::string(p.Name),
        "'" + text + "' is not a number from " + RangeText(p) + " (" + row.Name + ")");
  values[pixels ? PixelKey(p.Name) : std::string(p.Name)] = *value;
}

}  // namespace

void AddOperatorOptions(CLI::App& verb, OperatorSwitches& switches) {
  verb.add_option("--operator", switches.Operator,
                  "The tone curve: " + OperatorNames() +
                      " (default classic; `lumivane-cli operators` lists their parameters)")
      ->type_name("NAME");
  std::set<std::string> added;
  for (const OperatorRow& row : OperatorTable()) {
    if (std::string(row.Name) == kClassic) continue;
    for (const OperatorParameter& p : row.Parameters) {
      if (!added.insert(p.Name).second) continue;
      const std::string name = p.Name;
      verb.add_option_function<std::string>(
              "--" + name,
              [&switches, name](const std::string& text) { switches.Texts[name] = text; },
              std::string(p.Help) + " (operators beyond classic; see `lumivane-cli operators`)")
          ->type_name("V");
    }
  }
}

ChosenOperator CheckOperatorSwitches(const OperatorSwitches& switches, bool classicFlags) {
  const OperatorRow* row = FindOperator(switches.Operator);
  if (!row)
    throw CLI::ValidationError(
        "--operator",
        "'" + switches.Operator + "' is not an operator; the operators are " + OperatorNames());
  ChosenOperator chosen;
  if (switches.Operator == kClassic) {
    if (!switches.Texts.empty())
      throw CLI::ValidationError("--" + switches.Texts.begin()->first,
                                 "is not a setting of the classic operator; choose another "
                                 "with --operator");
    return chosen;
  }
  if (classicFlags)
    throw CLI::ValidationError("--operator",
                               "--brightness, --contrast, --post-gamma and --warm "
                               "are the classic operator's settings, not " +
                                   switches.Operator + "'s");
  chosen.Name = row->Name;
  for (const auto& [name, text] : switches.Texts) {
    const OperatorParameter* p = FindParameter(*row, name);
    if (!p) {
      std::string accepted;
      for (const OperatorParameter& q : row->Parameters)
        accepted += (accepted.empty() ? "--" : ", --") + std::string(q.Name);
      throw CLI::ValidationError(
          "--" + name, "is not a parameter of " + chosen.Name + ", which takes " + accepted);
    }
    AddValue(*row, *p, text, chosen.Values);
  }
  return chosen;
}

void PrintOperators(std::ostream& out, bool json) {
  if (json) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const OperatorRow& row : OperatorTable()) {
      nlohmann::ordered_json parameters = nlohmann::ordered_json::array();
      for (const OperatorParameter& p : row.Parameters) {
        nlohmann::ordered_json entry = {
            {"name", p.Name}, {"help", p.Help}, {"low", p.Low}, {"high", p.High}};
        entry["default"] = std::isnan(p.Default) ? nlohmann::ordered_json("automatic")
                                                 : nlohmann::ordered_json(p.Default);
        if (p.AlsoPixels) entry["pixels"] = {{"low", p.PixelLow}, {"high", p.PixelHigh}};
        parameters.push_back(entry);
      }
      rows.push_back({{"name", row.Name},
                      {"summary", row.Summary},
                      {"paper", row.Paper},
                      {"parameters", parameters}});
    }
    out << rows.dump(2) << '\n';
    return;
  }
  for (const OperatorRow& row : OperatorTable()) {
    out << row.Name << ": " << row.Summary << "\n  " << row.Paper << '\n';
    for (const OperatorParameter& p : row.Parameters)
      out << "  --" << p.Name << "  " << RangeText(p) << ", default " << DefaultText(p) << ": "
          << p.Help << '\n';
    out << '\n';
  }
}

}  // namespace lumivane
