#include "window/previewjobs.h"

#include <algorithm>
#include <bit>
#include <memory>

#include "formats/formattable.h"
#include "imaging/floatstatistics.h"
#include "io/parallel.h"
#include "shell/dispatch.h"
#include "shell/recording.h"
#include "shell/routing.h"
#include "steps/downsamplestep.h"
#include "steps/tonemapjob.h"

namespace lumivane {

namespace {

// The window system of a job the preview runs: its dialogs answered with the
// files already chosen, its log and boxes kept for the preview's status line.
class AnsweringWindow final : public WindowSystem {
 public:
  std::string OpenAnswer;
  std::string SaveAnswer;
  ProgressReport Progress;
  std::vector<std::string> Boxes;

  std::string EditText(int) override { return {}; }
  void SetEditText(int, const std::string&) override {}
  int CheckboxState(int) override { return 0; }
  void SetMenuItemEnabled(int, bool) override {}
  void SetProgressRange(std::uint32_t low, std::uint32_t high) override {
    low_ = low;
    high_ = high;
  }
  void SetProgressPosition(std::uint32_t position) override {
    if (Progress) Progress(low_, high_, position);
  }
  void InsertLogLine(std::size_t, const std::string&) override {}
  void DeleteLogLine(std::size_t) override {}
  void ClearLog() override {}
  void ShowMessageBox(const std::string& text, const std::string&, BoxKind) override {
    Boxes.push_back(text);
  }
  std::string RunFileDialog(const FileDialogRequest& request) override {
    return request.Kind == DialogKind::Open ? OpenAnswer : SaveAnswer;
  }
  int FocusedControl() override { return 0; }
  void SetFocusedControl(int) override {}
  void EndModalLoop(int) override {}

 private:
  std::uint32_t low_ = 0, high_ = 1;
};

std::string Reasons(const AnsweringWindow& window, const std::string& failure) {
  std::string text = failure;
  for (const std::string& box : window.Boxes)
    if (box != failure) text += (text.empty() ? "" : ": ") + box;
  return text;
}

}  // namespace

std::optional<PreviewPicture> LoadPreviewPicture(const std::string& path, std::uint32_t side,
                                                 const ReadLimits& limits, std::string& error) {
  const InputRoute route = RouteInput(path);
  if (!route.Format) {
    error = route.Error.empty() ? "not a " + ReadableFormatNames() + " file" : route.Error;
    return std::nullopt;
  }
  // The tone-map job's reader for this input, as "Save as" will run it.
  const std::optional<JobChain> chain = ToneMapChain(route, FormatOf(FormatId::Png), SinkOptions{});
  if (!chain) {
    error = std::string("no tone-map job reads ") + route.Format->Name + " files";
    return std::nullopt;
  }
  AnsweringWindow window;
  window.OpenAnswer = path;
  Session session(window);
  StartSession(session);
  session.Settings.Limits = limits;
  PreviewPicture picture;
  picture.Path = path;
  const JobStep fullSize = [&](Session& s) {
    if (!chain->Reader(s)) return false;
    picture.ImageWidth = s.Context.ImageWidth;
    picture.ImageHeight = s.Context.ImageHeight;
    return true;
  };
  SizeRequest size;
  size.Box = {side, side};
  JobContext& context = session.Context;
  if (!ReadAsRows(ReadDownsampled(fullSize, size))(session)) {
    error = Reasons(window, context.FailureMessage);
    return std::nullopt;
  }
  picture.Width = context.ImageWidth;
  picture.Height = context.ImageHeight;
  picture.Rgb.resize(std::size_t{picture.Width} * picture.Height * 3);
  std::string reason;
  const bool read = context.InputRows->ReadRows(picture.Rgb.data(), picture.Height, reason);
  context.InputRows.reset();
  context.InputFile.Close();
  if (!read) {
    error = "Cannot read " + path + ": " + reason;
    return std::nullopt;
  }
  return picture;
}

PreviewImage MapPicture(const PreviewPicture& picture, const JobSettings& settings) {
  AnsweringWindow window;
  Session session(window);
  session.Settings = settings;
  session.Context.Layout = InputLayout::Rows;
  const std::unique_ptr<ToneOperator> op = SessionOperator(session);
  const std::uint32_t width = picture.Width, height = picture.Height;
  const std::size_t pixels = std::size_t{width} * height;
  // The statistics pass of the job, over the small image.
  ImageFacts facts;
  facts.Width = width;
  facts.Height = height;
  AccumulateFloatPixels(reinterpret_cast<const std::uint8_t*>(picture.Rgb.data()), pixels,
                        std::endian::native == std::endian::little, facts.Channels);
  if (op->NeedsLuminance()) facts.Luminance.AddPixels(picture.Rgb.data(), pixels);
  if (const std::unique_ptr<OperatorGatherer> gatherer = op->MakeGatherer(width, height))
    gatherer->AddRows(picture.Rgb.data(), 0, height);
  op->Prepare(facts);
  PreviewImage image;
  image.Width = width;
  image.Height = height;
  image.Rgb.resize(pixels * 3);
  RowWorkers workers;
  workers.Run(height, [&](std::size_t begin, std::size_t end) {
    for (std::size_t row = begin; row < end; ++row) {
      const std::size_t start = row * width * 3;
      op->MapPixelsToBytes(picture.Rgb.data() + start,
                           PixelPlaces{static_cast<std::uint32_t>(row), 0, nullptr}, width,
                           image.Rgb.data() + start);
    }
  });
  return image;
}

bool SavedAsFormat(const FormatRow& row) {
  return row.Id == FormatId::Png || row.Id == FormatId::Jpeg || row.Id == FormatId::Tiff;
}

bool SavesAs(const std::string& outputPath) {
  const FormatRow* format = FormatOfName(outputPath);
  return format && SavedAsFormat(*format);
}

SaveOutcome SaveToneMapped(const std::string& input, const std::string& output,
                           const JobSettings& settings, const ProgressReport& progress) {
  SaveOutcome outcome;
  const InputRoute route = RouteInput(input);
  const FormatRow* format = FormatOfName(output);
  // The output records how it was made as the command line's does.
  SinkOptions options;
  RecordSettings(input, settings, options);
  std::optional<JobChain> chain;
  if (route.Format && format && SavesAs(output)) chain = ToneMapChain(route, *format, options);
  if (!chain) {
    outcome.Message =
        "Cannot save " + output + ": its name ends in none of " + ExtensionList(SavedAsFormat);
    return outcome;
  }
  AnsweringWindow window;
  window.OpenAnswer = input;
  window.SaveAnswer = output;
  window.Progress = progress;
  Session session(window);
  StartSession(session);
  session.Settings = settings;
  RunJobChain(session, *chain);
  // The success box comes last, and only after a job that succeeded.
  outcome.Succeeded = !window.Boxes.empty() && window.Boxes.back() == chain->SuccessText;
  outcome.Message =
      outcome.Succeeded ? chain->SuccessText : Reasons(window, session.Context.FailureMessage);
  return outcome;
}

}  // namespace lumivane
