#include "steps/failure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "io/binaryfile.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordedBox;
using testing::RecordingWindow;
using testing::TempDir;

// Both files open, as a job finds them.
struct OpenJob {
  TempDir Dir;
  RecordingWindow Window;
  Session Steps{Window};
  OpenJob() {
    JobContext& context = Steps.Context;
    context.InputFileName = Dir.File("in.hdr");
    context.OutputFileName = Dir.File("out.tif");
    testing::WriteText(context.InputFileName, "#?RADIANCE\n");
    context.InputFile = BinaryFile::OpenForReading(context.InputFileName);
    context.OutputFile = BinaryFile::CreateOutput(context.OutputFileName);
  }
};

TEST(FailStep, EveryOptionShowsLogsAndClosesInItsPlace) {
  OpenJob job;
  const std::string in = job.Steps.Context.InputFileName, out = job.Steps.Context.OutputFileName;
  EXPECT_FALSE(FailStep(job.Steps, "Broken.",
                        FailureOptions()
                            .ShowBox({"Box text.", "Box title", BoxKind::Warning})
                            .CloseInput(InputClosing::WithLines)
                            .CloseOutput(OutputClosing::RemoveWithLines)
                            .EndWithSeparator()));
  EXPECT_EQ(job.Window.Boxes,
            (std::vector<RecordedBox>{{"Box text.", "Box title", BoxKind::Warning}}));
  EXPECT_EQ(job.Window.Log,
            (std::vector<std::string>{"Broken.", "Closed file:", in,
                                      "Closed and deleted file:", out, SeparatorLine()}));
  EXPECT_EQ(job.Steps.Context.FailureMessage, "Broken.");
  EXPECT_FALSE(job.Steps.Context.InputFile.IsOpen());
  EXPECT_FALSE(job.Steps.Context.OutputFile.IsOpen());
  EXPECT_FALSE(testing::FileExists(out));
  EXPECT_TRUE(testing::FileExists(in));

  // Nothing but the message: both files stay as they were.
  OpenJob plain;
  EXPECT_FALSE(FailStep(plain.Steps, "Cancelled.", FailureOptions()));
  EXPECT_EQ(plain.Window.Log, (std::vector<std::string>{"Cancelled."}));
  EXPECT_TRUE(plain.Window.Boxes.empty());
  EXPECT_TRUE(plain.Steps.Context.InputFile.IsOpen());
  EXPECT_TRUE(plain.Steps.Context.OutputFile.IsOpen());

  // A replacement line, and the input's lines only while it is open.
  OpenJob replaced;
  replaced.Steps.Context.InputFile.Close();
  EXPECT_FALSE(
      FailStep(replaced.Steps, "Reason.",
               InputRefused().LogInstead("Other line").CloseInput(InputClosing::WithLinesIfOpen)));
  EXPECT_EQ(replaced.Window.Log, (std::vector<std::string>{"Other line", SeparatorLine()}));
  EXPECT_EQ(replaced.Steps.Context.FailureMessage, "Reason.");
}

TEST(FailStep, OnlyWhatTheJobWroteIsRemoved) {
  // The output the user had, and a file put there while the job ran, stay;
  // the job's unfinished copy beside it goes.
  for (const OutputClosing how : {OutputClosing::Remove, OutputClosing::RemoveIfOpen}) {
    OpenJob job;
    JobContext& context = job.Steps.Context;
    testing::WriteText(context.OutputFileName, "old output");
    FailStep(job.Steps, "x", FailureOptions().CloseOutput(how));
    EXPECT_FALSE(context.OutputFile.IsOpen());
    const std::vector<std::uint8_t> old = testing::ReadBytes(context.OutputFileName);
    EXPECT_EQ(std::string(old.begin(), old.end()), "old output");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(job.Dir.Path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.hdr", "out.tif"}));
  }
}

}  // namespace
}  // namespace lumivane
