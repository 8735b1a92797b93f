// The table itself.
#include "shell/string_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <utility>

#include "shell/error_log.h"

namespace zentrope {

namespace {

struct Entry {
  int id;
  std::string_view text;
};

// Sorted by id.
constexpr Entry kTable[] = {
    {str::kLowMemory, "Low Memory"},
    {str::kHelpFile, "zentrope.hlp"},
    {str::kSettingsFile, "zentrope.ini"},
    {str::kUnrecognizedProject, "Unrecognized Project"},
    {str::kTroubleSavingDxf, "Trouble Saving DXF"},
    {str::kIncreasePrefsMemory, "Increase Prefs Memory."},
    {str::kFirstAddAPath, "First Add A Path"},
    {str::kSaveChoreography, "Save Choreography"},
    {str::kOpenChoreography, "Open Choreography"},
    {str::kTroubleOpeningChoreography, "Trouble Opening Choreography"},
    {str::kPathOccupied, "This Path Is Occupied"},
    {str::kRequiresNewerSoftware, "Requires Newer Software"},
    {str::kDuplicatePathName, "Duplicate Path Name"},
    {str::kFileIneligible, "File Ineligible"},
    {str::kImportChoreography, "Import Choreography"},
    {str::kTroubleRendering, "Trouble Rendering!"},
    {str::kCouldNotOpenHelp, "Could Not Open Help File [Zentrope.hlp]."},
    {str::kExportChoreography, "Export Choreography"},
    {str::kRenderSection, "RENDER"},
    {str::kProductName, "Zentrope Studio"},
    {str::kChoreographyFilter, "Choreography (cho)|*.cho|"},
    {str::kTutorialHelpFile, "TUTOR.HLP"},
    {str::kTroubleSavingQtm, "Trouble Saving QTM"},
    {str::kDynamicsOutOfDate,
     "Dynamics for this Chor are not Up to Date,\n\nDo You Want To Run Simulation?"},
    {str::kSaveThisSegment, "Save this Segment."},
    {1600, "&Import Choreography..."},
    {1601, "&Export Choreography..."},
    {1628, "Stretch &Choreography..."},
    {1963, "Show this window in four views."},
    {1964, "Show this window in two views."},
    {1965, "Store the positions of all windows under a name."},
    {1968, "Change the global preferences."},
    {1972, "How to use help."},
    {1974, "Show the help contents."},
    {1976, "Show or hide the info panel."},
    {1978, "Show or hide the tool panel."},
    {1980, "Show the program's version and copyright."},
    {1982, "Arrange the minimised windows."},
    {1984, "Cascade the windows."},
    {1985, "Tile the windows side by side."},
    {1986, "Tile the windows."},
    {1988, "Close all windows."},
    {1990, "Quit Zentrope Studio."},
    {1996, "Open a choreography, figure or segment."},
    {1998, "Create a new choreography."},
    {10010, "Z|(L) Enter Zoom Mode, (R) Zoom-to-fit."},
    {10011, "P|Enter Pan Mode: drag to move the view."},
    {10012, "O|Enter Orbit Mode: drag to turn the view."},
    {10013, "Home|First frame."},
    {10014, ",|Previous frame."},
    {10015, "Space|Play or stop at the scene's frame rate."},
    {10016, ".|Next frame."},
    {10017, "End|Last frame."},
    {10018, "R|Render the frame range with the render settings."},
    {10019, "Q|Quick render this frame."},
    {10020, "S|Shade the patches with the z-buffer renderer."},
    {10701, "Ctrl+N|Create a new choreography."},
    {10702, "Ctrl+O|Open a choreography, figure or segment."},
    {str::kTroubleOpeningSegment, "Trouble Opening Segment"},
    {str::kTroubleSavingSegment, "Trouble Saving Segment"},
    {str::kTroubleSavingDecalList, "Trouble Saving Decal List."},
    {str::kTroubleSavingColor, "Trouble Saving Color"},
    {str::kTroubleSavingGroupList, "Trouble Saving Group List."},
    {str::kCreateDirectoryError, "Create Directory Error"},
    {str::kSegmentAlreadyUsed, "This Segment Is Already Used.\n\nDifferent Name Required."},
    {str::kFileAlreadyExists, "This File Already Exists.\n\nOverwrite Existing File?"},
    {str::kNewSegmentName, "New Segment Name:"},
    {str::kCantBreakHere, "Can't Break Here"},
    {str::kNoControlPointSelected, "No Control Point Selected"},
    {str::kNoneSelected, "None Selected"},
    {str::kGroupNamePrompt, "Group Name:"},
    {str::kNoGroupName, "No Group Name"},
    {str::kGroupNameExists, "Group Name Already Exists."},
    {str::kNothingGrouped, "Nothing Grouped"},
    {str::kSkinWillBeRemoved, "Skin Will Be Removed!"},
    {str::kCantDecalFile, "can't open decal file: "},
    {str::kCantColorFile, "can't open color file: "},
    {str::kImportModel, "Import Model"},
    {str::kTroubleOpeningFigure, "Trouble Opening Figure"},
    {str::kTroubleSavingFigure, "Trouble Saving Figure"},
    {str::kTroubleOpeningChannel, "Trouble Opening Channel"},
    {str::kTroubleOpeningAction, "Trouble Opening Action"},
    {str::kTroubleSavingAction, "Trouble Saving Action"},
    {str::kTroubleOpeningSkeletalFrame, "Trouble Opening Skeletal Frame"},
    {str::kTroubleSavingSkin, "Trouble Saving Skin"},
    {str::kTroubleSavingAttributes, "Trouble Saving Attributes"},
    {str::kCantFindSkin, "Can't Find Skin"},
    {str::kObjectMemory, "Object Memory!"},
    {str::kCantSaveFile, "Can't Save File."},
    {str::kCantOpenFile, "Can't Open File."},
    {str::kNoSegmentSelected, "No Segment Selected"},
    {str::kNoFigureSelected, "No Figure Selected"},
    {str::kUntitled, "untitled"},
    {str::kFindingPatches, "Finding Patches: "},
    {str::kAlreadySkinned, "Already Skinned"},
    {str::kNoSpineSelected, "No Spine Selected."},
    {str::kNoSpinePointSelected, "No Spine Point Selected!"},
    {str::kNoSpineAssign, "No Spine. Assign Selected Spline?"},
    {str::kTroubleSavingObj, "Trouble Saving OBJ"},
    {str::kTroubleSavingRib, "Trouble Saving RIB"},
    {str::kTroubleSavingGltf, "Trouble Saving glTF"},
    {str::kVfwTooOld, "The Video for Windows version you are using is too old."},
    {str::kVfwError, "VFW Error"},
    {str::kCompressionOptions, "Compression Options"},
    {str::kCreatingDxfFiles, "Creating DXF Files"},
    {str::kCreatingQtmFiles, "Creating QTM Files"},
    {str::kTroubleOpeningMaterial, "Trouble Opening Material"},
    {str::kTroubleSavingMaterial, "Trouble Saving Material"},
};

constexpr bool SortedById() {
  for (std::size_t i = 1; i < std::size(kTable); ++i) {
    if (kTable[i - 1].id >= kTable[i].id) {
      return false;
    }
  }
  return true;
}
static_assert(SortedById(), "string table entries must be sorted by id and unique");

}  // namespace

std::optional<std::string_view> FindString(int id) {
  const auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id,
                                   [](const Entry& e, int key) { return e.id < key; });
  if (it == std::end(kTable) || it->id != id) {
    return std::nullopt;
  }
  return it->text;
}

bool load_string(int id, std::string& out) {
  if (std::optional<std::string_view> text = FindString(id)) {
    out = *text;
    return true;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "GRS Failed #%d\n", id);
  out = buffer;
  log_line(out);
  return false;
}

std::string LoadString(int id) {
  std::string text;
  load_string(id, text);
  return text;
}

void message_box(std::string_view text) {
  std::cerr << LoadString(str::kProductName) << ": " << text << '\n';
}

void message_box(int id) {
  message_box(LoadString(id));
}

}  // namespace zentrope
