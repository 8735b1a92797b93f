// Following and checking the names documents hold.
#include "chor/document_names.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

#include "anim/action_file.h"
#include "chor/choreography_file.h"
#include "figure/figure_document.h"
#include "material/material_file.h"
#include "model/patch_colours.h"
#include "model/segment_file.h"
#include "shell/project_paths.h"

namespace zentrope {

namespace {

std::string Key(const std::filesystem::path& file) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  return (ec ? file : absolute).lexically_normal().string();
}

class NameWalk {
 public:
  void Walk(const std::string& document) {
    Result<std::vector<NameReference>> names = DocumentNames(document);
    if (!names) {
      const Failure& f = names.failure();
      problems_.push_back(
          {{document, 0, {}}, {}, f.message + (f.detail.empty() ? "" : " (" + f.detail + ")")});
      return;
    }
    for (const NameReference& ref : *names) {
      if (resolve_path(ref.stored, Projects()).kind == PathKind::kUnknownProject) {
        problems_.push_back(
            {ref, {}, UnknownProjectMessage(resolve_path(ref.stored, Projects()).project)});
        continue;
      }
      const std::filesystem::path file = ResolveInFolder(ref.stored, DocumentFolder(ref.document));
      std::error_code ec;
      if (!std::filesystem::is_regular_file(file, ec)) {
        problems_.push_back(
            {ref, file.string(), "cannot find " + ref.stored + " (" + file.string() + ")"});
        continue;
      }
      if (visited_.insert(Key(file)).second) {
        Walk(file.string());
      }
    }
  }

  void Visit(const std::string& document) {
    if (const std::optional<std::filesystem::path> file = LocateFile(document)) {
      visited_.insert(Key(*file));
    }
  }

  std::vector<NameProblem> Take() { return std::move(problems_); }

 private:
  std::set<std::string> visited_;
  std::vector<NameProblem> problems_;
};

}  // namespace

Result<std::vector<NameReference>> ChoreographyNames(const std::string& path) {
  NameRecorder recorder;
  if (Result<Choreography> chor = read_choreography(path); !chor) {
    return chor.failure();
  }
  return recorder.Names();
}

Result<std::vector<NameReference>> DocumentNames(const std::string& name) {
  std::string error;
  const std::optional<std::filesystem::path> file = LocateFile(name, &error);
  if (!file) {
    return Failure{error, {}};
  }
  std::string tag = DocumentTag(*file);
  if (tag != "CHOR" && tag != "FIGU" && !IsActionTag(tag) && tag != "SCUL" && !IsMaterialTag(tag) &&
      tag != kParticleMaterialTag) {
    // A file named as a document but not tagged as one: read it as its
    // extension says, so that the reader reports it instead of the check
    // passing a file that a render would refuse.
    std::string ext = file->extension().string();
    for (char& c : ext) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    tag = ext == ".cho"                                     ? "CHOR"
          : ext == ".fig"                                   ? "FIGU"
          : ext == ".act" || ext == ".ske" || ext == ".mor" ? "ACTI"
          : ext == ".seg"                                   ? "SCUL"
          : ext == ".mat"                                   ? std::string(kMaterialTag)
                                                            : tag;
  }
  if (tag == "CHOR") {
    return ChoreographyNames(name);
  }
  if (tag == "FIGU") {
    return FigureNames(name);
  }
  if (IsActionTag(tag)) {
    return ActionNames(name);
  }
  if (tag == "SCUL") {
    return SegmentNames(name);
  }
  if (IsMaterialTag(tag) || tag == kParticleMaterialTag) {
    // Materials name no other files, but one that cannot be read makes its
    // segments fall back to their own values, so it is reported.
    if (Result<Material> material = ReadAnyMaterialFile(name); !material) {
      return material.failure();
    }
  }
  return std::vector<NameReference>{};
}

std::vector<NameProblem> CheckNames(const std::string& document) {
  NameWalk walk;
  walk.Visit(document);
  walk.Walk(document);
  return walk.Take();
}

std::string FormatNameProblem(const NameProblem& problem) {
  std::error_code ec;
  const std::string document =
      RelativeToFolder(problem.where.document, std::filesystem::current_path(ec));
  if (problem.where.line == 0) {
    return document + ": " + problem.message;
  }
  return document + ":" + std::to_string(problem.where.line) + ": " + problem.message;
}

}  // namespace zentrope
