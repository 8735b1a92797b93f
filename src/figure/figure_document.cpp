// Figure documents.
#include "figure/figure_document.h"

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
  SaveReport report;
  for (FigureNode& node : figure.nodes) {
    if (node.segment && node.segment->modified & ~kSegmentPatchesStale) {
      const SaveReport r = SaveSegment(*node.segment);
      report.failures.insert(report.failures.end(), r.failures.begin(), r.failures.end());
    }
  }
  auto attempt = [&](std::uint8_t flag, int messageId, auto write) {
    std::string detail;
    if (write(&detail) == SaveStatus::kSaved) {
      figure.flags &= static_cast<std::uint8_t>(~flag);
    } else {
      log_line(detail);
      report.failures.push_back(LoadString(messageId));
    }
  };
  if (figure.flags & kFigureAttributesChanged) {
    attempt(kFigureAttributesChanged, str::kTroubleSavingAttributes, [&](std::string* d) {
      return WriteAttributeFile(figure, AttributeFilePath(figure.path), d);
    });
  }
  bool anySkin = false;
  for (const FigureNode& n : figure.nodes) {
    anySkin = anySkin || !n.skins.empty();
  }
  if ((figure.flags & kFigureSkinChanged) && anySkin) {
    attempt(kFigureSkinChanged, str::kTroubleSavingSkin,
            [&](std::string* d) { return WriteSkinFile(figure, SkinFilePath(figure.path), d); });
  } else if (figure.flags & kFigureSkinChanged) {
    // No skins: no skin file. A stale one would bring removed skins back.
    attempt(kFigureSkinChanged, str::kTroubleSavingSkin, [&](std::string* d) {
      const std::optional<std::filesystem::path> file = LocateFile(SkinFilePath(figure.path), d);
      if (!file) {
        return SaveStatus::kWriteError;
      }
      std::error_code ec;
      std::filesystem::remove(*file, ec);
      if (ec) {
        *d = file->string() + ": " + ec.message();
        return SaveStatus::kWriteError;
      }
      return SaveStatus::kSaved;
    });
  }
  if (figure.flags & kFigureSaveNeeded) {
    attempt(kFigureSaveNeeded, str::kTroubleSavingFigure,
            [&](std::string* d) { return WriteFigure(figure, figure.path, d); });
  }
  return report;
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
