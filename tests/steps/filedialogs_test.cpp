#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "steps/filedialogs.h"
#include "steps/session.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordedBox;
using testing::RecordingWindow;

std::vector<std::string> FilterTexts(const FileDialogRequest& request) {
  std::vector<std::string> texts;
  for (const FileFilter& filter : request.Filters)
    texts.push_back(filter.Name + "|" + filter.Pattern);
  return texts;
}

class FileDialogs : public ::testing::Test {
 protected:
  std::string Input(const std::string& name, const std::string& content) {
    const std::string path = folder.File(name);
    testing::WriteText(path, content);
    return path;
  }
  std::string Content(const std::string& path) {
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }

  testing::TempDir folder;
  RecordingWindow window;
  Session session{window};
};

TEST_F(FileDialogs, EachDialogAsksWithItsTitleFiltersAndExtension) {
  struct Row {
    bool (*Operation)(Session&);
    DialogKind Kind;
    std::string Title;
    std::vector<std::string> Filters;
    std::string Extension;
  };
  const Row rows[] = {
      {OpenHdrDialog, DialogKind::Open, "LUMIVANE Open HDR", {"HDR|*.hdr", "All Files|*.*"}, "hdr"},
      {OpenTiffDialog,
       DialogKind::Open,
       "LUMIVANE Open TIFF",
       {"TIF|*.tif", "All Files|*.*"},
       "tif"},
      {OpenPfmDialog, DialogKind::Open, "LUMIVANE Open PFM", {"PFM|*.pfm", "All Files|*.*"}, "pfm"},
      {SaveTiffDialog,
       DialogKind::Save,
       "LUMIVANE Save",
       {"TIF|*.tif", "TIFF|*.tiff", "All Files|*.*"},
       "tif"},
      {SavePfmDialog, DialogKind::Save, "LUMIVANE Save", {"PFM|*.pfm", "All Files|*.*"}, "pfm"},
  };
  const std::string currentFolder = std::filesystem::current_path().string();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Title + " " + row.Extension);
    window.Dialogs.clear();
    row.Operation(session);
    ASSERT_EQ(window.Dialogs.size(), 1u);
    const FileDialogRequest& request = window.Dialogs[0];
    EXPECT_EQ(request.Kind, row.Kind);
    EXPECT_EQ(request.Title, row.Title);
    EXPECT_EQ(FilterTexts(request), row.Filters);
    EXPECT_EQ(request.DefaultExtension, row.Extension);
    EXPECT_EQ(request.InitialFolder, currentFolder);
  }
}

TEST_F(FileDialogs, TheInitialFolderFollowsTheCurrentDirectory) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  OpenHdrDialog(session);
  SavePfmDialog(session);
  std::filesystem::current_path(previous);
  ASSERT_EQ(window.Dialogs.size(), 2u);
  EXPECT_EQ(window.Dialogs[0].InitialFolder, folder.Path().string());
  EXPECT_EQ(window.Dialogs[1].InitialFolder, folder.Path().string());
  // The dialogs themselves leave the current directory alone.
  EXPECT_EQ(std::filesystem::current_path(), previous);
}

TEST_F(FileDialogs, CancelledOpenShowsItsBoxAndForgetsThePreviousInputsName) {
  const std::string first = Input("first.hdr", "first");
  window.DialogAnswers = {first};
  ASSERT_TRUE(OpenHdrDialog(session));
  for (bool (*open)(Session&) : {OpenHdrDialog, OpenTiffDialog, OpenPfmDialog}) {
    window.Boxes.clear();
    EXPECT_FALSE(open(session));
    EXPECT_EQ(window.Boxes, (std::vector<RecordedBox>{{"No Input File Selected.",
                                                       "LUMIVANE - Open Error", BoxKind::Error}}));
    EXPECT_EQ(session.Context.InputFileName, "");
    EXPECT_TRUE(session.Context.InputFile.IsOpen());
  }
}

TEST_F(FileDialogs, OpenGivesTheFileFromItsFirstByteForReadingOnly) {
  const std::string path = Input("image.pfm", "PF\n1 1\n-1\n");
  window.DialogAnswers = {path};
  ASSERT_TRUE(OpenPfmDialog(session));
  EXPECT_TRUE(window.Boxes.empty());
  EXPECT_EQ(session.Context.InputFileName, path);
  BinaryFile& input = session.Context.InputFile;
  ASSERT_TRUE(input.IsOpen());
  EXPECT_EQ(input.Position(), 0u);
  char bytes[3] = {};
  EXPECT_EQ(input.Read(bytes, 2), 2u);
  EXPECT_EQ(std::string(bytes), "PF");
  EXPECT_FALSE(input.Write("XX", 2));
  EXPECT_EQ(Content(path), "PF\n1 1\n-1\n");
}

TEST_F(FileDialogs, OpenOfAPathThatCannotBeReadFailsAndNamesIt) {
  std::filesystem::create_directory(folder.File("folder.hdr"));
  const std::string missing = folder.File("missing.hdr");
  const std::string directory = folder.File("folder.hdr");
  for (const std::string& path : {missing, directory}) {
    SCOPED_TRACE(path);
    window.DialogAnswers = {path};
    EXPECT_FALSE(OpenHdrDialog(session));
    EXPECT_EQ(session.Context.InputFileName, path);
    EXPECT_FALSE(session.Context.InputFile.IsOpen());
    EXPECT_TRUE(window.Boxes.empty());
  }
}

TEST_F(FileDialogs, OpenOfAFifoNeitherBlocksNorReads) {
  const std::string fifo = folder.File("pipe.hdr");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Should the open wait for a writer, this one comes along and unblocks it, and the
  // test fails instead of hanging.
  std::atomic<bool> done{false};
  std::thread rescuer([&] {
    for (int i = 0; i < 500 && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        ::close(fd);
        return;
      }
    }
  });
  window.DialogAnswers = {fifo};
  const bool opened = OpenTiffDialog(session);
  done = true;
  rescuer.join();
  EXPECT_FALSE(opened);
  EXPECT_FALSE(session.Context.InputFile.IsOpen());
  EXPECT_EQ(session.Context.InputFileName, fifo);
}

TEST_F(FileDialogs, CancelledSaveEmptiesTheOutputName) {
  for (bool (*save)(Session&) : {SaveTiffDialog, SavePfmDialog}) {
    session.Context.OutputFileName = "/earlier/name.tif";
    window.Boxes.clear();
    EXPECT_FALSE(save(session));
    EXPECT_EQ(session.Context.OutputFileName, "");
    EXPECT_FALSE(session.Context.OutputFile.IsOpen());
    EXPECT_EQ(window.Boxes,
              (std::vector<RecordedBox>{
                  {"Missing Filename.", "LUMIVANE - Save As Error", BoxKind::Error}}));
  }
}

TEST_F(FileDialogs, SaveCreatesANewFile) {
  const std::string path = folder.File("new.tif");
  window.DialogAnswers = {path};
  ASSERT_TRUE(SaveTiffDialog(session));
  EXPECT_EQ(session.Context.OutputFileName, path);
  ASSERT_TRUE(session.Context.OutputFile.IsOpen());
  EXPECT_TRUE(session.Context.OutputFile.Write("II*", 3));
  ASSERT_TRUE(session.Context.OutputFile.Commit());
  EXPECT_EQ(Content(path), "II*");
  EXPECT_TRUE(window.Boxes.empty());
}

TEST_F(FileDialogs, SaveOverALongerFileLeavesNoOldBytesBehind) {
  const std::string path = Input("old.pfm", std::string(1000, 'o'));
  window.DialogAnswers = {path};
  ASSERT_TRUE(SavePfmDialog(session));
  EXPECT_EQ(session.Context.OutputFile.Size(), std::optional<std::uint64_t>(0));
  EXPECT_EQ(session.Context.OutputFile.Position(), 0u);
  EXPECT_TRUE(session.Context.OutputFile.Write("PF\n", 3));
  ASSERT_TRUE(session.Context.OutputFile.Commit());
  EXPECT_EQ(Content(path), "PF\n");
}

TEST_F(FileDialogs, SaveRefusesTheInputUnderAnyName) {
  const std::string input = Input("input.hdr", "#?RADIANCE\nprecious");
  const std::string hardLink = folder.File("hard.tif");
  const std::string symbolicLink = folder.File("soft.tif");
  std::filesystem::create_hard_link(input, hardLink);
  std::filesystem::create_symlink(input, symbolicLink);
  const std::string roundabout =
      folder.File(".") + "/../" + folder.Path().filename().string() + "/input.hdr";
  window.DialogAnswers = {input};
  ASSERT_TRUE(OpenHdrDialog(session));
  for (const std::string& output : {input, hardLink, symbolicLink, roundabout}) {
    SCOPED_TRACE(output);
    window.DialogAnswers = {output};
    EXPECT_FALSE(SaveTiffDialog(session));
    EXPECT_EQ(session.Context.OutputFileName, output);
    EXPECT_FALSE(session.Context.OutputFile.IsOpen());
    EXPECT_EQ(Content(input), "#?RADIANCE\nprecious");
  }
  EXPECT_TRUE(window.Boxes.empty());
  // The input is still open and unread.
  char first = 0;
  EXPECT_EQ(session.Context.InputFile.Read(&first, 1), 1u);
  EXPECT_EQ(first, '#');
}

TEST_F(FileDialogs, SaveIntoAMissingFolderFails) {
  const std::string path = folder.File("no/such/folder/out.tif");
  window.DialogAnswers = {path};
  EXPECT_FALSE(SaveTiffDialog(session));
  EXPECT_EQ(session.Context.OutputFileName, path);
  EXPECT_FALSE(session.Context.OutputFile.IsOpen());
  EXPECT_FALSE(testing::FileExists(path));
}

}  // namespace
}  // namespace lumivane
