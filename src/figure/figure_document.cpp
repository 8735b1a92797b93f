// Figure documents.
#include "figure/figure_document.h"

#include <algorithm>
#include <filesystem>

#include "figure/attribute_file.h"
#include "figure/figure_file.h"
#include "figure/skin.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

Result<Figure> OpenFigure(const std::string& path, SegmentRegistry& registry,
                          std::vector<std::string>* problems) {
  Result<Figure> figure = ReadFigure(path);
  if (!figure) {
    return figure;
  }
  ReadSkinFile(*figure, SkinFilePath(path));
  ReadAttributeFile(*figure, AttributeFilePath(path));
  if (!LoadFigureSegments(*figure, registry, problems)) {
    log_line(path + ": a segment of the figure could not be opened");
  }
  return figure;
}

Result<std::vector<NameReference>> FigureNames(const std::string& path) {
  NameRecorder recorder;
  Result<Figure> figure = ReadFigure(path);
  if (!figure) {
    return figure.failure();
  }
  ReadSkinFile(*figure, SkinFilePath(path));
  ReadAttributeFile(*figure, AttributeFilePath(path));
  return recorder.Names();
}

SaveReport SaveFigure(Figure& figure) {
  // The changed segments, the attribute and skin files and the figure are
  // one save: all are put in place, or none.
  DocumentSave save;
  // Nodes sharing a segment file share its splines: the file is staged once
  // and every node's copy counts as saved with it.
  std::vector<std::pair<Segment*, std::uint16_t>> segments;
  for (FigureNode& node : figure.nodes) {
    if (!node.segment || !(node.segment->modified & ~kSegmentPatchesStale)) {
      continue;
    }
    const auto first = std::find_if(segments.begin(), segments.end(), [&](const auto& s) {
      return s.first == node.segment.get() || s.first->path == node.segment->path;
    });
    if (first == segments.end()) {
      segments.emplace_back(node.segment.get(), StageSegment(*node.segment, save));
    } else if (first->first != node.segment.get()) {
      segments.emplace_back(node.segment.get(), first->second);
    }
  }
  std::uint8_t staged = 0;
  auto attempt = [&](std::uint8_t flag, int messageId, const std::string& name, auto write) {
    std::string detail;
    if (const std::optional<std::filesystem::path> file = LocateFile(name)) {
      save.Expect(*file, messageId);
    }
    const SaveStatus status = write(&detail);
    // The figure's files report their own message only, whatever the cause.
    save.Note(status == SaveStatus::kSaved ? status : SaveStatus::kWriteError, messageId, detail);
    if (status == SaveStatus::kSaved) {
      staged |= flag;
    }
  };
  if (figure.flags & kFigureAttributesChanged) {
    const std::string name = AttributeFilePath(figure.path);
    attempt(kFigureAttributesChanged, str::kTroubleSavingAttributes, name,
            [&](std::string* d) { return WriteAttributeFile(figure, name, d, &save.files); });
  }
  bool anySkin = false;
  for (const FigureNode& n : figure.nodes) {
    anySkin = anySkin || !n.skins.empty();
  }
  const std::string skins = SkinFilePath(figure.path);
  if ((figure.flags & kFigureSkinChanged) && anySkin) {
    attempt(kFigureSkinChanged, str::kTroubleSavingSkin, skins,
            [&](std::string* d) { return WriteSkinFile(figure, skins, d, &save.files); });
  } else if (figure.flags & kFigureSkinChanged) {
    // No skins: no skin file. A stale one would bring removed skins back.
    attempt(kFigureSkinChanged, str::kTroubleSavingSkin, skins, [&](std::string* d) {
      const std::optional<std::filesystem::path> file = LocateFile(skins, d);
      if (!file) {
        return SaveStatus::kWriteError;
      }
      return save.files.Remove(*file, d);
    });
  }
  if (figure.flags & kFigureSaveNeeded) {
    attempt(kFigureSaveNeeded, str::kTroubleSavingFigure, figure.path,
            [&](std::string* d) { return WriteFigure(figure, figure.path, d, &save.files); });
  }
  if (save.Commit()) {
    for (const auto& [segment, flags] : segments) {
      segment->ClearModified(flags);
    }
    figure.flags &= static_cast<std::uint8_t>(~staged);
  }
  return save.report;
}

bool RevertFigure(Figure& figure, const std::function<bool(std::string_view)>& confirm,
                  SegmentRegistry& registry) {
  if (figure.flags & kFigureChanged) {
    const std::string question = "Character: [" + figure.path + "] has Changed.\nAbandon Changes?";
    if (!confirm || !confirm(question)) {
      return false;
    }
  }
  Result<Figure> fresh = OpenFigure(figure.path, registry);
  if (!fresh) {
    return false;
  }
  figure = std::move(*fresh);
  return true;
}

}  // namespace zentrope
