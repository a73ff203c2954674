// Command and control ids shared by the dispatcher and every front end.
#pragma once

namespace lumivane {

enum CommandId : int {
  kEnterKeyCommand = 1,
  kEscapeKeyCommand = 2,
  kOpenHdrCommand = 1002,
  kQuitCommand = 1003,
  kGeneralHelpCommand = 1008,
  kAboutHelpCommand = 1009,
  kUsageHelpCommand = 1017,
  kOperatorHelpCommand = 1018,
  kMemoryHelpCommand = 1019,
  kTimeHelpCommand = 1020,
  kOpenTiffCommand = 1021,
  kOpenPfmCommand = 1022,
  kPfmToTiffCommand = 1024,
  kHdrToPfmCommand = 1025,
  kHdrToTiffCommand = 1026,
  kTiffToPfmCommand = 1027,
  kConvertHelpCommand = 1028,
  // Tone-mapping of the files read through libraries: no menu item; the
  // command line and a file dropped onto the window send them.
  kOpenExrCommand = 1101,
  kOpenGeneralTiffCommand = 1102,
  kOpenGeneralPfmCommand = 1103,
};

enum ControlId : int {
  kTitleLabelId = 1004,
  kLogCaptionId = 1006,
  kStatusLogId = 1005,
  kProgressBarId = 1007,
  kBrightnessBoxId = 1010,
  kContrastBoxId = 1011,
  kBrightnessLabelId = 1012,
  kContrastLabelId = 1013,
  kAcceptButtonId = 1014,
  kFineAdjustmentFrameId = 1015,
  kHintLabelId = 1016,
  kWarmColoursBoxId = 1023,
};

}  // namespace lumivane
