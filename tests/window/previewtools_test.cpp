// The preview window's own tools: where it opens, the operator chooser and
// its sliders, Open and Save as.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QPushButton>
#include <QSlider>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "formats/formattable.h"
#include "imaging/operatortable.h"
#include "imaging/settings.h"
#include "shell/controlids.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"
#include "tests/window/windowfixture.h"
#include "window/operatorcontrols.h"
#include "window/windowplacement.h"
#include "window/windowpreview.h"

namespace lumivane {
namespace {

using testing::AnsweredWindow;
using testing::TempDir;

TEST(PreviewPlacement, OnA1024x768ScreenItStandsBesideTheMainWindowAndInsideTheScreen) {
  const QRect screen(0, 0, 1024, 768);
  const QSize least = kLeastPreviewFrame, wanted(760, 680);
  // The main window as it opens there: its own corner, fitted to the screen.
  AnsweredWindow window;
  window->show();
  QCoreApplication::processEvents();
  const QSize mainSize = window->frameGeometry().size();
  ASSERT_LT(mainSize.width(), 1024 - least.width());
  const QRect main(PositionInside(QRect(window->frameGeometry().topLeft(), mainSize), screen),
                   mainSize);
  const QRect preview = PlaceBeside(main, wanted, screen, least);
  EXPECT_TRUE(screen.contains(preview)) << preview.x() << "," << preview.y();
  EXPECT_FALSE(preview.intersects(main));
  EXPECT_GE(preview.width(), least.width());
  EXPECT_GE(preview.height(), least.height());
  // The preview's controls take no more than that room, whichever operator shows.
  QComboBox& chooser = window->Preview().Controls().Chooser();
  for (int i = 0; i < chooser.count(); ++i) {
    chooser.setCurrentIndex(i);
    const QSize smallest = window->Preview().minimumSizeHint();
    EXPECT_LE(smallest.width(), least.width()) << chooser.currentText().toStdString();
    EXPECT_LE(smallest.height(), least.height()) << chooser.currentText().toStdString();
  }

  // Room on the right: there, level with the main window, at the size asked for.
  EXPECT_EQ(PlaceBeside(QRect(100, 100, 500, 400), wanted, QRect(0, 0, 1920, 1080), least),
            QRect(600, 100, 760, 680));
  // A main window at the right edge: on its left, as wide as the room there.
  EXPECT_EQ(PlaceBeside(QRect(454, 50, 570, 450), wanted, screen, least), QRect(0, 50, 454, 680));
  // No side with room enough: the least size, inside the screen.
  const QRect crowded = PlaceBeside(QRect(10, 10, 1000, 740), wanted, screen, least);
  EXPECT_TRUE(screen.contains(crowded));
  EXPECT_EQ(crowded.size(), least);
}

TEST(PreviewOperators, TheChooserListsEveryOperatorWithItsParametersAtTheirDefaults) {
  OperatorControls controls(nullptr);
  const auto& table = OperatorTable();
  ASSERT_EQ(controls.Chooser().count(), static_cast<int>(table.size()));
  for (std::size_t i = 0; i < table.size(); ++i) {
    const OperatorRow& row = table[i];
    EXPECT_EQ(controls.Chooser().itemText(static_cast<int>(i)).toStdString(), row.Name);
    controls.Chooser().setCurrentIndex(static_cast<int>(i));
    const JobSettings settings = controls.Settings(JobSettings{});
    for (const OperatorParameter& p : row.Parameters) {
      const QString name = QString::fromLatin1(p.Name);
      QSlider* slider = controls.Slider(name);
      ASSERT_NE(slider, nullptr) << row.Name << " " << p.Name;
      const SliderScale scale = SliderScale::For(p);
      EXPECT_NEAR(scale.Value(slider->minimum()), p.Low, std::fabs(p.Low) * 0.01);
      EXPECT_NEAR(scale.Value(slider->maximum()), p.High, std::fabs(p.High) * 0.01);
      if (std::isnan(p.Default)) {
        ASSERT_NE(controls.Automatic(name), nullptr);
        EXPECT_TRUE(controls.Automatic(name)->isChecked());
        EXPECT_EQ(settings.OperatorParameters.count(p.Name), 0u);
        continue;
      }
      EXPECT_EQ(slider->value(), scale.Position(p.Default)) << row.Name << " " << p.Name;
      if (std::string(row.Name) != "classic") {
        EXPECT_EQ(settings.OperatorParameters.at(p.Name), p.Default);
      }
    }
  }
  // The classic operator's values reach the settings as [Accept] sets them.
  controls.Chooser().setCurrentIndex(0);
  const JobSettings classic = controls.Settings(JobSettings{});
  EXPECT_TRUE(classic.Operator.empty());
  EXPECT_EQ(classic.Brightness, 0.8f);
  EXPECT_EQ(classic.PostGamma, PostGammaFromContrast(1.2f));
}

double MeanByte(const PreviewImage& image) {
  return std::accumulate(image.Rgb.begin(), image.Rgb.end(), 0.0) /
         static_cast<double>(std::max<std::size_t>(1, image.Rgb.size()));
}

class PreviewTools : public ::testing::Test {
 protected:
  void SetUp() override {
    // Wider than the preview maps, so that it shows a smaller copy.
    exr = folder.File("wide.exr");
    testing::FloatImage image = testing::GradientImage(1300, 24);
    for (float& value : image.Values) value = value * 4.0f + 0.01f;
    testing::ExrOptions options;
    options.Half = false;
    testing::WriteExr(exr, image, options);
  }

  void Settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  // The pixels of a PNG or JPEG as Qt decodes them, rows top first.
  static testing::Bytes DecodedPixels(const std::string& path) {
    const QImage image =
        QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB888);
    testing::Bytes pixels;
    for (int y = 0; y < image.height(); ++y)
      pixels.insert(pixels.end(), image.constScanLine(y),
                    image.constScanLine(y) + image.width() * 3);
    return pixels;
  }

  std::string Cli(const std::string& arguments, const std::string& output) {
    const int status =
        testing::RunCommand(testing::Quote(LUMIVANE_CLI_PATH) + " tonemap -q " + arguments + " " +
                            testing::Quote(exr) + " " + testing::Quote(output));
    EXPECT_EQ(status, 0) << arguments;
    return output;
  }

  TempDir folder;
  std::string exr;
  AnsweredWindow window;
};

TEST_F(PreviewTools, OpenTakesAnExrAndTheFiltersComeFromTheFormatTable) {
  const QStringList filters = ReadableImageFilters();
  ASSERT_FALSE(filters.isEmpty());
  for (const FormatRow& row : FormatTable())
    for (const std::string& extension : row.Extensions)
      EXPECT_EQ(filters.first().contains(QString::fromStdString(" *." + extension)) ||
                    filters.first().contains(QString::fromStdString("(*." + extension)),
                row.Reads())
          << extension;
  PreviewWindow& preview = window->Preview();
  QString title;
  preview.RunDialog = [&](QFileDialog& dialog) {
    title = dialog.windowTitle();
    EXPECT_EQ(dialog.nameFilters(), filters);
    return testing::ChooseFile(dialog, QString::fromStdString(exr));
  };
  preview.findChild<QPushButton*>(QStringLiteral("open"))->click();
  Settle();
  EXPECT_EQ(title, "LUMIVANE Open Image");
  EXPECT_TRUE(preview.isVisible());
  EXPECT_EQ(preview.Image().Width, kPreviewPictureSide);
  EXPECT_LT(preview.Image().Height, 24u);
  EXPECT_GT(MeanByte(preview.Image()), 10.0);
  EXPECT_TRUE(preview.StatusText().contains("wide.exr  |  1300 x 24"))
      << preview.StatusText().toStdString();
  EXPECT_TRUE(preview.findChild<QPushButton*>(QStringLiteral("saveAs"))->isEnabled());
  // A file no reader takes leaves the shown image as it was and says why.
  const std::string text = folder.File("notes.txt");
  testing::WriteText(text, "not an image\n");
  const testing::Bytes before = preview.Image().Rgb;
  EXPECT_FALSE(preview.OpenFile(text));
  EXPECT_EQ(preview.Image().Rgb, before);
  EXPECT_TRUE(preview.StatusText().contains("OpenEXR")) << preview.StatusText().toStdString();
  // The read limits hold for the files opened here too.
  ReadLimits tight;
  tight.MaxPixels = 1000;
  preview.SetLimits(tight);
  EXPECT_FALSE(preview.OpenFile(exr));
  EXPECT_EQ(preview.Image().Rgb, before);
}

TEST_F(PreviewTools, ASliderChangesThePixelsAndSaveAsWritesTheCommandLinesResult) {
  PreviewWindow& preview = window->Preview();
  ASSERT_TRUE(preview.OpenFile(exr));
  OperatorControls& controls = preview.Controls();
  controls.Chooser().setCurrentText(QStringLiteral("reinhard02"));
  Settle();
  const PreviewImage automatic = preview.Image();
  QSlider* key = controls.Slider(QStringLiteral("key"));
  ASSERT_NE(key, nullptr);
  key->setValue(key->maximum() * 9 / 10);
  Settle();
  EXPECT_FALSE(controls.Automatic(QStringLiteral("key"))->isChecked());
  const double keyValue = preview.ShownSettings().OperatorParameters.at("key");
  EXPECT_GT(MeanByte(preview.Image()), MeanByte(automatic) + 5.0);
  key->setValue(key->maximum() / 2);
  Settle();
  const double darker = MeanByte(preview.Image());
  key->setValue(key->maximum() * 9 / 10);
  Settle();
  EXPECT_LT(darker, MeanByte(preview.Image()));

  char keyText[32];
  std::snprintf(keyText, sizeof keyText, "%.9g", keyValue);
  const std::string saved = folder.File("saved.png");
  preview.RunDialog = [&](QFileDialog& dialog) {
    return testing::ChooseFile(dialog, QString::fromStdString(saved));
  };
  preview.findChild<QPushButton*>(QStringLiteral("saveAs"))->click();
  ASSERT_TRUE(testing::FileExists(saved)) << preview.StatusText().toStdString();
  const testing::Bytes pixels = DecodedPixels(saved);
  EXPECT_EQ(pixels.size(), std::size_t{1300} * 24 * 3);
  EXPECT_EQ(pixels, DecodedPixels(Cli(std::string("--operator reinhard02 --key ") + keyText,
                                      folder.File("cli.png"))));
  EXPECT_TRUE(preview.StatusText().startsWith("Saved ")) << preview.StatusText().toStdString();

  // The classic operator into the 24-bit TIFF, brighter than its default.
  controls.Chooser().setCurrentText(QStringLiteral("classic"));
  QSlider* brightness = controls.Slider(QStringLiteral("brightness"));
  const double before = MeanByte(preview.Image());
  brightness->setValue(brightness->value() + 150);
  Settle();
  EXPECT_GT(MeanByte(preview.Image()), before);
  char brightnessText[32];
  std::snprintf(brightnessText, sizeof brightnessText, "%.9g",
                static_cast<double>(preview.ShownSettings().Brightness));
  ASSERT_TRUE(preview.SaveAs(folder.File("saved.tif")));
  EXPECT_EQ(testing::TiffPixels(testing::ReadBytes(folder.File("saved.tif"))),
            testing::TiffPixels(testing::ReadBytes(
                Cli(std::string("--brightness ") + brightnessText, folder.File("cli.tif")))));
  // JPEG, by the name.
  controls.Chooser().setCurrentText(QStringLiteral("filmic"));
  Settle();
  ASSERT_TRUE(preview.SaveAs(folder.File("saved.jpg")));
  EXPECT_EQ(DecodedPixels(folder.File("saved.jpg")),
            DecodedPixels(Cli("--operator filmic", folder.File("cli.jpg"))));
  EXPECT_EQ(DecodedPixels(folder.File("saved.jpg")).size(), std::size_t{1300} * 24 * 3);
  // A name of no format it writes is refused before anything is written.
  EXPECT_FALSE(preview.SaveAs(folder.File("saved.pfm")));
  EXPECT_TRUE(preview.StatusText().endsWith(QString::fromStdString(ExtensionList(SavedAsFormat))))
      << preview.StatusText().toStdString();
  EXPECT_FALSE(testing::FileExists(folder.File("saved.pfm")));
}

// The shortest text of the 32-bit float, as a user would type it.
std::string Typed(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(value)).ptr;
  return std::string(text, end);
}

std::string PngText(const std::string& path, const char* key) {
  return QImage(QString::fromStdString(path)).text(QString::fromLatin1(key)).toStdString();
}

TEST_F(PreviewTools, SaveAsRecordsTheSettingsAsTheCommandLineDoes) {
  PreviewWindow& preview = window->Preview();
  // A name beyond Latin-1, which the PNG keeps in UTF-8.
  const std::string input = folder.File("nuit-\u00e9toil\u00e9e-\u6771\u4eac.exr");
  std::filesystem::copy_file(exr, input);
  ASSERT_TRUE(preview.OpenFile(input));
  OperatorControls& controls = preview.Controls();
  controls.Chooser().setCurrentText(QStringLiteral("reinhard02"));
  Settle();
  for (const char* name : {"exposure", "saturation"}) {
    QSlider* slider = controls.Slider(QString::fromLatin1(name));
    ASSERT_NE(slider, nullptr) << name;
    // A move, whichever position the slider starts at.
    const int target = slider->maximum() * 2 / 3;
    slider->setValue(slider->value() != target ? target : target - 50);
  }
  Settle();
  const OperatorValues& values = preview.ShownSettings().OperatorParameters;
  const std::string exposure = Typed(values.at("exposure")),
                    saturation = Typed(values.at("saturation"));
  ASSERT_TRUE(preview.SaveAs(folder.File("saved.png")));
  exr = input;
  const std::string cli =
      Cli("--operator reinhard02 --exposure " + exposure + " --saturation " + saturation,
          folder.File("cli.png"));
  const std::string description = PngText(folder.File("saved.png"), "Description");
  EXPECT_EQ(description, PngText(cli, "Description"));
  EXPECT_EQ(description,
            "tone-mapped from nuit-\u00e9toil\u00e9e-\u6771\u4eac.exr with reinhard02 "
            "key=auto white=auto max-percentile=99.9 exposure=" +
                exposure + " saturation=" + saturation + " gamma=0");
  EXPECT_EQ(PngText(folder.File("saved.png"), "Software"),
            std::string("LUMIVANE ") + LUMIVANE_VERSION);

  // The classic operator records the contrast its sliders give, not the exponent.
  controls.Chooser().setCurrentText(QStringLiteral("classic"));
  QSlider* contrast = controls.Slider(QStringLiteral("contrast"));
  QSlider* brightness = controls.Slider(QStringLiteral("brightness"));
  contrast->setValue(contrast->value() + 137);
  brightness->setValue(brightness->value() - 61);
  Settle();
  ASSERT_TRUE(preview.SaveAs(folder.File("classic.png")));
  const JobSettings& shown = preview.ShownSettings();
  const OperatorParameter* parameter = nullptr;
  for (const OperatorParameter& p : FindOperator("classic")->Parameters)
    if (std::string(p.Name) == "contrast") parameter = &p;
  ASSERT_NE(parameter, nullptr);
  const std::string contrastText = Typed(SliderScale::For(*parameter).Value(contrast->value()));
  const std::string classic =
      Cli("--brightness " + Typed(shown.Brightness) + " --contrast " + contrastText,
          folder.File("classic-cli.png"));
  EXPECT_EQ(PngText(folder.File("classic.png"), "Description"), PngText(classic, "Description"));
  EXPECT_NE(PngText(classic, "Description").find(" contrast=" + contrastText + " warm=0"),
            std::string::npos);
}

TEST_F(PreviewTools, SavingReportsItsRowsAndNamesTheJobsFailure) {
  JobSettings settings;
  settings.Operator = "durand02";
  std::uint32_t high = 0, last = 0;
  int reports = 0;
  const SaveOutcome saved =
      SaveToneMapped(exr, folder.File("out.png"), settings,
                     [&](std::uint32_t, std::uint32_t to, std::uint32_t position) {
                       high = to;
                       last = position;
                       ++reports;
                     });
  EXPECT_TRUE(saved.Succeeded) << saved.Message;
  EXPECT_EQ(saved.Message, "EXR Tonemapping concluded.");
  EXPECT_EQ(high, 24u);
  EXPECT_EQ(last, 24u);
  EXPECT_GE(reports, 2);
  // An output in a folder that is not there: the job's own reason.
  const SaveOutcome failed =
      SaveToneMapped(exr, folder.File("missing/out.png"), settings, ProgressReport());
  EXPECT_FALSE(failed.Succeeded);
  EXPECT_NE(failed.Message.find("missing/out.png"), std::string::npos) << failed.Message;
}

TEST_F(PreviewTools, AnotherOperatorMapsTheMainWindowsResultWhoseJobsStayClassic) {
  const std::string hdr = folder.File("scene.hdr");
  testing::WriteBytes(
      hdr, testing::HdrFile(testing::PatternImage(40, 30, 3), testing::RgbeRowForm::ComponentRuns));
  const auto run = [&](const std::string& out) {
    std::vector<QString> answers = {QString::fromStdString(hdr), QString::fromStdString(out)};
    window.DialogAnswer = [answers](QFileDialog& dialog) mutable {
      const QString answer = answers.front();
      answers.erase(answers.begin());
      return testing::ChooseFile(dialog, answer);
    };
    window->MenuAction(kOpenHdrCommand)->trigger();
    return testing::TiffPixels(testing::ReadBytes(out));
  };
  PreviewWindow& preview = window->Preview();
  const testing::Bytes classic = run(folder.File("first.tif"));
  ASSERT_EQ(preview.Image().Rgb, classic);
  EXPECT_FALSE(preview.findChild<QPushButton*>(QStringLiteral("saveAs"))->isEnabled());
  preview.Controls().Chooser().setCurrentText(QStringLiteral("drago03"));
  Settle();
  EXPECT_EQ(preview.Image().Width, 40u);
  EXPECT_NE(preview.Image().Rgb, classic);
  EXPECT_TRUE(preview.StatusText().contains("drago03")) << preview.StatusText().toStdString();
  // [Accept] shows the main window's result again.
  qobject_cast<QPushButton*>(window->Control(kAcceptButtonId))->click();
  EXPECT_FALSE(preview.StatusText().contains("drago03"));
  EXPECT_TRUE(preview.StatusText().contains("Post gamma"));
  const testing::Bytes accepted = preview.Image().Rgb;
  preview.Controls().Chooser().setCurrentText(QStringLiteral("reinhard02"));
  Settle();
  // The main window's next job is the classic one with its settings, and the
  // preview follows it again.
  EXPECT_EQ(run(folder.File("second.tif")), accepted);
  EXPECT_EQ(preview.Image().Rgb, accepted);
}

}  // namespace
}  // namespace lumivane
