#include "steps/failure.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
    context.OutputFile = BinaryFile::CreateForWriting(context.OutputFileName);
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

TEST(FailStep, OnlyAFileTheJobCreatedIsRemoved) {
  // An output that is not a regular file (here a FIFO) stays.
  OpenJob job;
  JobContext& context = job.Steps.Context;
  context.OutputFile.Close();
  RemoveFile(context.OutputFileName);
  ASSERT_EQ(::mkfifo(context.OutputFileName.c_str(), 0600), 0);
  FailStep(job.Steps, "x", FailureOptions().CloseOutput(OutputClosing::Remove));
  EXPECT_TRUE(std::filesystem::is_fifo(context.OutputFileName));

  // Closed before the failure: RemoveIfOpen leaves it, Remove does not.
  OpenJob closed;
  JobContext& other = closed.Steps.Context;
  other.OutputFile.Close();
  FailStep(closed.Steps, "x", FailureOptions().CloseOutput(OutputClosing::RemoveIfOpen));
  EXPECT_TRUE(testing::FileExists(other.OutputFileName));
  FailStep(closed.Steps, "x", FailureOptions().CloseOutput(OutputClosing::Remove));
  EXPECT_FALSE(testing::FileExists(other.OutputFileName));
  EXPECT_EQ(closed.Window.Log, (std::vector<std::string>{"x", "x"}));
}

}  // namespace
}  // namespace lumivane
