#pragma once
// The command ids of the program: menu 146, the buttons and the internal commands.

namespace korv::cmd {

inline constexpr int kAnalyzeFile = 40020;
inline constexpr int kAnalyzeBatch = 40064;
inline constexpr int kLogSpectrum = 40028;
inline constexpr int kLogPoints = 40062;
inline constexpr int kParametersChange = 40005;
inline constexpr int kParametersRestore = 40023;
inline constexpr int kScanFile = 40007;
inline constexpr int kScanInput = 40011;
inline constexpr int kSaveWave = 40030;
inline constexpr int kSaveWindowImage = 40033;
inline constexpr int kSaveEntireImage = 40034;
inline constexpr int kPrintWindow = 40050;
inline constexpr int kSignalScale = 40027;
inline constexpr int kVolumeControl = 40054;
inline constexpr int kFreqCalibration = 40057;
inline constexpr int kSoundLevel = 40071;
inline constexpr int kCalibrateInput = 40101;
inline constexpr int kExit = 40003;
inline constexpr int kVariablesAdjust = 40055;
inline constexpr int kVariablesFreeze = 40056;
inline constexpr int kPointerTargetBox = 40046;
inline constexpr int kPointerWhiteCross = 40047;
inline constexpr int kPointerBlackCross = 40048;
inline constexpr int kFreqMark = 40049;
inline constexpr int kHelpTopics = 40036;
inline constexpr int kAbout = 40024;
// The View menu: the view's place in a long recording, and the speed PLAY plays at.
inline constexpr int kGoToTime = 40090;
inline constexpr int kScreenBack = 40091;
inline constexpr int kScreenForward = 40092;
// 40093 + k plays at 1 / TIME_EXPANSION_FACTORS[k] of the recorded speed.
inline constexpr int kTimeExpansionFirst = 40093;
inline constexpr int kTimeExpansionLast = 40100;
// View > Narrow Band and Widen Band: one step of the frequency zoom.
inline constexpr int kNarrowBand = 40102;
inline constexpr int kWidenBand = 40103;
// 40040 + k sets the FFT size to 2^(9 + k) points, k = 0 ... 5.
inline constexpr int kFftSizeFirst = 40040;
inline constexpr int kFftSizeLast = 40045;

// The push buttons.
inline constexpr int kPlay = 101;
inline constexpr int kPlayWindow = 102;
inline constexpr int kStop = 103;
inline constexpr int kGrid = 104;
inline constexpr int kPeakHold = 106;

// Who started Analyze File (40020).
inline constexpr int kFromMenu = 0;
inline constexpr int kFromCommandLine = 1;
inline constexpr int kFromScanStop = 2;
inline constexpr int kRepeatAfterResize = 3;
inline constexpr int kFromBatch = 4;
// A file dropped on the window or chosen under Recent Files: taken as the command line's is,
// but not played once analysed.
inline constexpr int kGivenFile = 5;
// Analyze Batch (40064): 1 runs the next file of the batch in progress.
inline constexpr int kBatchNextFile = 1;
// Scan File (40007): 1 takes the current file without asking, 2 asks for a point spectrum.
inline constexpr int kScanCurrentFile = 1;
// Scan Input runs again after the window was resized during the run.
inline constexpr int kScanInputAfterResize = 1;
inline constexpr int kScanPointSpectrum = 2;
// Parameters Change (40005): 1 analyses the dragged stretch; 2 the held one again at the time
// scale the window's zoom (Ctrl+wheel, + and -) has set, without the dialog.
inline constexpr int kParametersChangeTimeScale = 2;
// 3 the held one again in the band the frequency zoom (Ctrl+Shift+wheel) has set.
inline constexpr int kParametersChangeBand = 3;
// Narrow Band and Widen Band (40102, 40103): 1 from their keys, which zoom about the pointer.
inline constexpr int kFromKey = 1;
// STOP (103) sent by a resize.
inline constexpr int kStopFromResize = 1;

} // namespace korv::cmd
