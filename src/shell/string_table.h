// The string table: every user-facing text by number. Numbers below 30000 are
// the ones other documents and the help lines refer to; texts that carry no
// such number have names here and numbers from 30000 up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zentrope {

namespace str {
// Numbered texts.
inline constexpr int kLowMemory = 3;
inline constexpr int kHelpFile = 5;
inline constexpr int kSettingsFile = 6;
inline constexpr int kUnrecognizedProject = 30;
inline constexpr int kTroubleSavingDxf = 60;
inline constexpr int kIncreasePrefsMemory = 107;
inline constexpr int kFirstAddAPath = 146;
inline constexpr int kSaveChoreography = 190;
inline constexpr int kOpenChoreography = 191;
inline constexpr int kTroubleOpeningChoreography = 192;
inline constexpr int kPathOccupied = 198;
inline constexpr int kRequiresNewerSoftware = 204;
inline constexpr int kDuplicatePathName = 206;
inline constexpr int kFileIneligible = 209;
inline constexpr int kImportChoreography = 214;
inline constexpr int kTroubleRendering = 246;
inline constexpr int kCouldNotOpenHelp = 294;
inline constexpr int kExportChoreography = 299;
inline constexpr int kRenderSection = 300;
inline constexpr int kProductName = 301;
inline constexpr int kChoreographyFilter = 364;
inline constexpr int kTutorialHelpFile = 548;
inline constexpr int kTroubleSavingQtm = 566;
inline constexpr int kDynamicsOutOfDate = 580;
inline constexpr int kSaveThisSegment = 1148;

// Named texts.
inline constexpr int kTroubleOpeningSegment = 30000;
inline constexpr int kTroubleSavingSegment = 30001;
inline constexpr int kTroubleSavingDecalList = 30002;
inline constexpr int kTroubleSavingColor = 30003;
inline constexpr int kTroubleSavingGroupList = 30004;
inline constexpr int kCreateDirectoryError = 30005;
inline constexpr int kSegmentAlreadyUsed = 30006;
inline constexpr int kFileAlreadyExists = 30007;
inline constexpr int kNewSegmentName = 30008;
inline constexpr int kCantBreakHere = 30009;
inline constexpr int kNoControlPointSelected = 30010;
inline constexpr int kNoneSelected = 30011;
inline constexpr int kGroupNamePrompt = 30012;
inline constexpr int kNoGroupName = 30013;
inline constexpr int kGroupNameExists = 30014;
inline constexpr int kNothingGrouped = 30015;
inline constexpr int kSkinWillBeRemoved = 30016;
inline constexpr int kCantDecalFile = 30017;
inline constexpr int kCantColorFile = 30018;
inline constexpr int kImportModel = 30019;
inline constexpr int kTroubleOpeningFigure = 30020;
inline constexpr int kTroubleSavingFigure = 30021;
inline constexpr int kTroubleOpeningChannel = 30022;
inline constexpr int kTroubleOpeningAction = 30023;
inline constexpr int kTroubleSavingAction = 30024;
inline constexpr int kTroubleOpeningSkeletalFrame = 30025;
inline constexpr int kTroubleSavingSkin = 30026;
inline constexpr int kTroubleSavingAttributes = 30027;
inline constexpr int kCantFindSkin = 30028;
inline constexpr int kObjectMemory = 30029;
inline constexpr int kCantSaveFile = 30030;
inline constexpr int kCantOpenFile = 30031;
inline constexpr int kNoSegmentSelected = 30032;
inline constexpr int kNoFigureSelected = 30033;
inline constexpr int kUntitled = 30034;
inline constexpr int kFindingPatches = 30035;
inline constexpr int kAlreadySkinned = 30036;
inline constexpr int kNoSpineSelected = 30037;
inline constexpr int kNoSpinePointSelected = 30038;
inline constexpr int kNoSpineAssign = 30039;
inline constexpr int kTroubleSavingObj = 30040;
inline constexpr int kTroubleSavingRib = 30041;
inline constexpr int kTroubleSavingGltf = 30042;
inline constexpr int kVfwTooOld = 30043;
inline constexpr int kVfwError = 30044;
inline constexpr int kCompressionOptions = 30045;
inline constexpr int kCreatingDxfFiles = 30046;
inline constexpr int kCreatingQtmFiles = 30047;
inline constexpr int kTroubleOpeningMaterial = 30060;
inline constexpr int kTroubleSavingMaterial = 30061;
}  // namespace str

// The text of an entry, if the table has it.
std::optional<std::string_view> FindString(int id);

// The text of an entry. A missing entry never aborts: the text is
// "GRS Failed #<id>\n", which also goes to the error log, and false returns.
bool load_string(int id, std::string& out);
std::string LoadString(int id);

// Shows a message to the user: "Zentrope Studio: TEXT" on standard error.
void message_box(std::string_view text);
void message_box(int id);

}  // namespace zentrope
