// info, check and resave: dispatch on the document's tag line.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "anim/action_file.h"
#include "anim/skeletal_frame.h"
#include "chor/document_names.h"
#include "commands.h"
#include "figure/attribute_file.h"
#include "figure/figure_document.h"
#include "figure/figure_file.h"
#include "figure/skin.h"
#include "image/decoders.h"
#include "image/image_file.h"
#include "material/material_file.h"
#include "model/lathe.h"
#include "model/patch_finder.h"
#include "model/segment_file.h"
#include "model/text_file.h"
#include "shell/atomic_file.h"
#include "shell/project_paths.h"
#include "shell/regular_file.h"
#include "shell/string_table.h"
#include "shell/text_encoding.h"

namespace zentrope::cli {

namespace {

using nlohmann::ordered_json;

struct Outcome {
  bool ok = true;
  std::string message;
  ordered_json info;
};

// The tag of a document's first line, or empty.
std::string TagOf(const std::string& name) {
  const std::optional<std::filesystem::path> file = LocateFile(name);
  if (!file) {
    return {};
  }
  return DocumentTag(*file);
}

ordered_json Triple(const Vector3& v) {
  return ordered_json::array({v.x, v.y, v.z});
}

Outcome SegmentInfo(const std::string& name) {
  SegmentRegistry registry;
  Result<SegmentData> data = ReadSegment(name, /*merge=*/false, registry);
  if (!data) {
    return {false, Explain(name, data.failure().message, data.failure().detail), {}};
  }
  Result<Segment> segment = OpenSegment(name, registry);
  std::size_t groups = segment ? segment->groups.size() : 0;
  std::size_t patches3 = 0, patches4 = 0;
  if (segment && EnsurePatches(*segment) == PatchSearch::kDone) {
    for (const Patch& p : segment->patches) {
      (p.ThreeSided() ? patches3 : patches4) += 1;
    }
  }
  const Bounds b = data->splines->BoundingBox();
  ordered_json j;
  j["type"] = "SCUL";
  j["version"] = data->version;
  j["splines"] = data->splines->Splines().size();
  j["points"] = data->splines->PointCount();
  j["groups"] = groups;
  j["bbox"] = ordered_json::array({b.min.x, b.min.y, b.min.z, b.max.x, b.max.y, b.max.z});
  j["pivot"] = Triple(data->pivot);
  j["highest_number"] = data->highestNumber;
  j["patches"] = patches3 + patches4;
  j["patches3"] = patches3;
  j["patches4"] = patches4;
  return {true, {}, j};
}

Outcome GroupInfo(const std::string& name) {
  std::string contents, error;
  if (!LoadDocumentText(name, contents, &error)) {
    return {false, Explain(name, "", error), {}};
  }
  Result<std::vector<Group>> groups = ParseGroups(std::move(contents), name);
  if (!groups) {
    return {false, Explain(name, groups.failure().message, groups.failure().detail), {}};
  }
  ordered_json j;
  j["type"] = "GROU";
  j["version"] = kGroupVersion;
  j["groups"] = groups->size();
  ordered_json list = ordered_json::array();
  for (const Group& g : *groups) {
    list.push_back({{"name", g.name}, {"pivot", Triple(g.pivot)}, {"members", g.members}});
  }
  j["list"] = list;
  return {true, {}, j};
}

// A picture, read in full so that a broken one is reported.
Outcome ImageInfo(const std::string& name) {
  Image image;
  image.fileName = name;
  image.flags = kImageQuiet;
  std::string error;
  if (!LoadImage(image, -1, 0, &error)) {
    return {false, Explain(name, "", error), {}};
  }
  ordered_json j;
  j["type"] = "IMAGE";
  j["format"] = FormatName(image.format);
  j["width"] = image.width;
  j["height"] = image.height;
  j["bytes_per_pixel"] = image.bytesPerPixel;
  return {true, {}, j};
}

Outcome FigureInfo(const std::string& name) {
  Result<Figure> figure = ReadFigure(name);
  if (!figure) {
    return {false, Explain(name, figure.failure().message, figure.failure().detail), {}};
  }
  std::size_t ghosts = 0;
  for (const FigureNode& n : figure->nodes) {
    ghosts += n.IsGhost() ? 1 : 0;
  }
  ordered_json j;
  j["type"] = "FIGU";
  j["version"] = kFigureVersion;
  j["nodes"] = figure->nodes.size();
  j["ghosts"] = ghosts;
  return {true, {}, j};
}

Outcome ActionInfo(const std::string& name) {
  Result<Action> action = ReadAction(name);
  if (!action) {
    return {false, Explain(name, action.failure().message, action.failure().detail), {}};
  }
  ordered_json j;
  j["type"] = action->fileTag;
  j["version"] = action->fileVersion;
  j["length"] = action->length;
  ordered_json nodes = ordered_json::array();
  for (const ActionEntry& e : action->entries) {
    ordered_json keys = ordered_json::array();
    if (e.channels) {
      for (const Channel& c : e.channels->channels) {
        int count = 0;
        for (const ControlPoint* k = c.keys; k; k = NextInTraversal(k)) {
          ++count;
        }
        keys.push_back(count);
      }
    }
    nodes.push_back({{"segment", e.segmentPath}, {"keys", keys}});
  }
  j["nodes"] = nodes;
  return {true, {}, j};
}

// Skin, attribute and frame files are described against no figure: what
// they store, not what a figure makes of it.
Outcome SkinInfo(const std::string& name) {
  std::string contents, error;
  if (!LoadDocumentText(name, contents, &error)) {
    return {false, Explain(name, "", error), {}};
  }
  Result<SkinFileContents> file = ParseSkinFile(std::move(contents), name, 0);
  if (!file) {
    return {false, Explain(name, "unreadable skin file", file.failure().detail), {}};
  }
  std::size_t pairs = 0;
  for (const SkinRecord& r : file->records) {
    pairs += r.pairs.size();
  }
  ordered_json j;
  j["type"] = "SKIN";
  j["version"] = file->version;
  j["nodes"] = file->records.size();
  j["pairs"] = pairs;
  return {true, {}, j};
}

Outcome AttributeInfo(const std::string& name) {
  std::string contents, error;
  if (!LoadDocumentText(name, contents, &error)) {
    return {false, Explain(name, "", error), {}};
  }
  Result<AttributeFileContents> file = ParseAttributeFile(std::move(contents), name);
  if (!file) {
    return {false, Explain(name, "unreadable attribute file", file.failure().detail), {}};
  }
  std::size_t materials = 0, maps = 0;
  for (const auto& [path, a] : file->records) {
    materials += a.materials.size();
    maps += a.surfaces.size();
  }
  ordered_json j;
  j["type"] = "ATTR";
  j["version"] = file->version;
  j["nodes"] = file->records.size();
  j["materials"] = materials;
  j["maps"] = maps;
  return {true, {}, j};
}

Outcome FrameInfo(const std::string& name) {
  std::string contents, error;
  if (!LoadDocumentText(name, contents, &error)) {
    return {false, Explain(name, "", error), {}};
  }
  TextReader r(std::move(contents), name);
  int version = 0;
  float size = 0;
  if (!ReadHeader(r, "SKEF", version) || !r.ScanLine(1, nullptr, "%f", &size)) {
    return {false, Explain(name, LoadString(str::kTroubleOpeningSkeletalFrame), r.Error()), {}};
  }
  std::size_t nodes = 0;
  std::string line;
  while (r.LinesRemaining() >= 3 && r.Next(line) && r.Next(line) && r.Next(line)) {
    ++nodes;
  }
  ordered_json j;
  j["type"] = "SKEF";
  j["version"] = version;
  j["size"] = size;
  j["nodes"] = nodes;
  return {true, {}, j};
}

// A node and its children, depth-first; the tree is at most 1000 levels.
ordered_json NodeInfo(const MaterialNode& node) {
  ordered_json j;
  j["kind"] = NodeKindName(node.kind);
  j["type"] = static_cast<int>(node.kind);
  j["channels"] = node.channels ? node.channels->Count() : 0;
  int keyed = 0;
  if (node.channels) {
    for (const Channel& c : node.channels->channels) {
      keyed += c.keys ? 1 : 0;
    }
  }
  j["keyed_channels"] = keyed;
  if (node.kind == NodeKind::kChecker || node.kind == NodeKind::kSpherical) {
    j["turbulence"] = node.turbulence != nullptr;
  }
  if (node.first) {
    j["first"] = NodeInfo(*node.first);
  }
  if (node.second) {
    j["second"] = NodeInfo(*node.second);
  }
  return j;
}

Outcome MaterialInfo(const std::string& name) {
  Result<Material> material = ReadAnyMaterialFile(name);
  if (!material) {
    return {false, Explain(name, material.failure().message, material.failure().detail), {}};
  }
  int nodes = 0;
  const std::function<void(const MaterialNode*)> count = [&](const MaterialNode* n) {
    if (n) {
      ++nodes;
      count(n->first.get());
      count(n->second.get());
    }
  };
  count(material->root.get());
  ordered_json j;
  j["type"] = material->Particle() ? "IMAT" : "MATE";
  j["version"] = material->version;
  j["nodes"] = nodes;
  j["root"] = NodeInfo(*material->root);
  return {true, {}, j};
}

Outcome Describe(const std::string& name) {
  const std::string tag = TagOf(name);
  if (tag == "CHOR") {
    Outcome o;
    o.ok = ChoreographyInfo(name, o.info, o.message);
    return o;
  }
  if (tag == "SKIN") {
    return SkinInfo(name);
  }
  if (tag == "ATTR") {
    return AttributeInfo(name);
  }
  if (tag == "SKEF") {
    return FrameInfo(name);
  }
  if (tag == "FIGU") {
    return FigureInfo(name);
  }
  if (IsActionTag(tag)) {
    return ActionInfo(name);
  }
  if (tag == "SCUL") {
    return SegmentInfo(name);
  }
  if (tag == "GROU") {
    return GroupInfo(name);
  }
  std::string ext = std::filesystem::path(name).extension().string();
  for (char& c : ext) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  // A .mat whose first line is damaged is still reported as a material.
  if (IsMaterialTag(tag) || tag == kParticleMaterialTag || ext == ".mat") {
    return MaterialInfo(name);
  }
  // Not a tagged document: perhaps a picture.
  std::string error;
  const std::optional<std::filesystem::path> file = LocateFile(name, &error);
  if (!file) {
    return {false, Explain(name, "", error), {}};
  }
  std::vector<std::uint8_t> head(600);
  const long got = ReadRegularFileHead(*file, head.data(), head.size(), &error);
  if (got < 0) {
    return {false, Explain(name, "", error), {}};
  }
  if (DetectImageFormat(head.data(), static_cast<std::size_t>(got)) != ImageFormat::kUnknown) {
    return ImageInfo(name);
  }
  return {false, Explain(name, "not a document this program reads"), {}};
}

Result<Segment> OpenOrReport(const std::string& name, SegmentRegistry& registry) {
  Result<Segment> segment = OpenSegment(name, registry);
  if (!segment) {
    std::cerr << Explain(name, segment.failure().message, segment.failure().detail) << '\n';
  }
  return segment;
}

void PrintPlain(const ordered_json& j, const std::string& indent = "") {
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it->is_array() && !it->empty() && it->front().is_object()) {
      std::cout << indent << it.key() << ":\n";
      for (const auto& item : *it) {
        PrintPlain(item, indent + "  ");
        std::cout << '\n';
      }
    } else {
      std::cout << indent << it.key() << ": "
                << (it->is_string() ? it->get<std::string>() : it->dump()) << '\n';
    }
  }
}

}  // namespace

int Info(const std::string& file, bool json) {
  const Outcome o = Describe(file);
  if (!o.ok) {
    std::cerr << o.message << '\n';
    return 1;
  }
  if (json) {
    std::cout << Dump(o.info) << '\n';
  } else {
    PrintPlain(Printable(o.info));
  }
  return 0;
}

int Check(const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& file : files) {
    const Outcome o = Describe(file);
    if (!o.ok) {
      std::cout << o.message << '\n';
      status = 1;
      continue;
    }
    // Then every name it holds, and the names in what those name.
    for (const NameProblem& problem : CheckNames(file)) {
      std::cout << Utf8FromLegacy(FormatNameProblem(problem)) << '\n';
      status = 1;
    }
  }
  return status;
}

int Resave(const std::string& in, const std::string& out) {
  const std::string tag = TagOf(in);
  if (tag == "CHOR") {
    return ChoreographyResave(in, out);
  }
  if (tag == "SCUL") {
    SegmentRegistry registry;
    Result<Segment> segment = OpenOrReport(in, registry);
    if (!segment) {
      return 1;
    }
    if (MemoryRanOut()) {
      return 1;
    }
    const SaveReport report = SaveSegmentAs(*segment, out, /*overwrite=*/true, registry);
    if (!report.Ok()) {
      std::cerr << out << ": " << SaveFailureLine(report.failures, report.reason) << '\n';
    }
    return report.Ok() ? 0 : 1;
  }
  if (tag == "FIGU") {
    // The figure and its companions, under the new stem.
    Result<Figure> figure = ReadFigure(in);
    if (!figure) {
      std::cerr << Explain(in, figure.failure().message, figure.failure().detail) << '\n';
      return 1;
    }
    ReadSkinFile(*figure, SkinFilePath(in));
    ReadAttributeFile(*figure, AttributeFilePath(in));
    figure->path = out;
    figure->flags = kFigureSaveNeeded | kFigureAttributesChanged | kFigureSkinChanged;
    if (MemoryRanOut()) {
      return 1;  // a skin or attribute file that ran out would be lost
    }
    const SaveReport report = SaveFigure(*figure);
    if (!report.Ok()) {
      std::cerr << out << ": " << SaveFailureLine(report.failures, report.reason) << '\n';
    }
    return report.Ok() ? 0 : 1;
  }
  if (IsActionTag(tag)) {
    // Older skeletal and morph files are converted to an action file; they
    // are not written in their own layout.
    if (IsOlderActionName(out)) {
      std::cerr << out << ": older action files are read only; save as .act\n";
      return 1;
    }
    Result<Action> action = ReadAction(in);
    if (!action) {
      std::cerr << Explain(in, action.failure().message, action.failure().detail) << '\n';
      return 1;
    }
    for (const ActionEntry& e : action->entries) {
      if (e.segmentPath.empty()) {
        std::cerr << in << ": the records of a version " << action->fileVersion
                  << " file follow its figure's nodes and name no segments\n";
        return 1;
      }
    }
    if (MemoryRanOut()) {
      return 1;
    }
    std::string detail;
    if (WriteAction(*action, out, nullptr, &detail) != SaveStatus::kSaved) {
      std::cerr << out << ": "
                << SaveFailureLine({LoadString(str::kTroubleSavingAction)},
                                   SaveReasonFor(detail, LocateFile(out).value_or(out)))
                << '\n';
      return 1;
    }
    return 0;
  }
  if (tag == "GROU") {
    std::string contents, error;
    if (!LoadDocumentText(in, contents, &error)) {
      std::cerr << Explain(in, "", error) << '\n';
      return 1;
    }
    Result<std::vector<Group>> groups = ParseGroups(std::move(contents), in);
    if (!groups) {
      std::cerr << Explain(in, groups.failure().message, groups.failure().detail) << '\n';
      return 1;
    }
    Segment holder;
    holder.groups = std::move(*groups);
    std::string detail;
    const std::optional<std::filesystem::path> target = LocateFile(out, &error);
    if (!target) {
      std::cerr << Explain(out, "", error) << '\n';
      return 1;
    }
    if (MemoryRanOut()) {
      return 1;
    }
    if (WriteGroups(holder, *target, &detail) != SaveStatus::kSaved) {
      std::cerr << out << ": "
                << SaveFailureLine({LoadString(str::kTroubleSavingGroupList)},
                                   SaveReasonFor(detail, *target))
                << '\n';
      return 1;
    }
    return 0;
  }
  if (IsMaterialTag(tag) || tag == kParticleMaterialTag) {
    Result<Material> material = ReadAnyMaterialFile(in);
    if (!material) {
      std::cerr << Explain(in, material.failure().message, material.failure().detail) << '\n';
      return 1;
    }
    if (MemoryRanOut()) {
      return 1;
    }
    std::string detail;
    if (WriteMaterialFile(*material, out, &detail) != SaveStatus::kSaved) {
      std::cerr << out << ": "
                << SaveFailureLine({LoadString(str::kTroubleSavingMaterial)},
                                   SaveReasonFor(detail, LocateFile(out).value_or(out)))
                << '\n';
      return 1;
    }
    return 0;
  }
  std::cerr << Describe(in).message << '\n';
  return 1;
}

int Eval(const std::string& document, const std::string& figureName, float frame, bool json,
         bool points) {
  // A scene, an action on a figure, or a figure at rest.
  if (!std::isfinite(frame)) {
    std::cerr << "zentrope eval: --frame must be a finite number\n";
    return 2;
  }
  const std::string tag = TagOf(document);
  if (tag == "CHOR") {
    return ChoreographyEval(document, frame, json);
  }
  const bool isAction = IsActionTag(tag);
  const std::string figurePath = isAction ? figureName : document;
  if (figurePath.empty()) {
    std::cerr << "zentrope eval: an action needs --figure FIGURE.fig\n";
    return 2;
  }
  SegmentRegistry registry;
  std::vector<std::string> problems;
  Result<Figure> figure = OpenFigure(figurePath, registry, &problems);
  if (!figure) {
    std::cerr << Explain(figurePath, figure.failure().message, figure.failure().detail) << '\n';
    return 1;
  }
  // The figure poses without them, so they are warnings.
  for (const std::string& problem : problems) {
    std::cerr << figurePath << ": warning: " << problem << '\n';
  }
  std::optional<Action> action;
  if (isAction) {
    Result<Action> read = ReadAction(document, &*figure);
    if (!read) {
      std::cerr << Explain(document, read.failure().message, read.failure().detail) << '\n';
      return 1;
    }
    action.emplace(std::move(*read));
    action->Bind(*figure);
    DeformFigure(*figure, *action, frame);
    PoseFigure(*figure, Transform::Identity(), {1, 1, 1}, ActionPose(*action, frame));
  } else {
    PoseFigure(*figure, Transform::Identity(), {1, 1, 1});
  }
  ordered_json nodes = ordered_json::array();
  for (int n : figure->DepthFirst()) {
    const FigureNode& node = figure->nodes[static_cast<std::size_t>(n)];
    ordered_json channels = ordered_json::array();
    if (const auto* set = static_cast<const ChannelSet*>(node.channelSet)) {
      for (int c = 0; c < set->Count(); ++c) {
        channels.push_back(EvaluateChannel(*set, c, frame));
      }
    }
    ordered_json entry = {{"segment", node.name},
                          {"frame_transform", node.frameTransform.t},
                          {"geometry_transform", node.geometryTransform.t},
                          {"channels", channels}};
    if (points) {
      ordered_json list = ordered_json::array();
      if (node.segment) {
        node.segment->working.ForEachPoint([&](ControlPoint& p) {
          list.push_back({{"number", p.number},
                          {"position", Triple(p.position)},
                          {"in", Triple(p.inTangent)},
                          {"out", Triple(p.outTangent)}});
        });
      }
      entry["points"] = list;
    }
    nodes.push_back(entry);
  }
  nodes = Printable(nodes);
  if (json) {
    std::cout << Dump(nodes) << '\n';
  } else {
    for (const auto& node : nodes) {
      std::cout << node["segment"].get<std::string>() << "\n  frame    "
                << node["frame_transform"].dump() << "\n  geometry "
                << node["geometry_transform"].dump() << "\n  channels " << node["channels"].dump()
                << '\n';
      if (node.contains("points")) {
        for (const auto& p : node["points"]) {
          std::cout << "  point " << p["number"].dump() << " " << p["position"].dump() << '\n';
        }
      }
    }
  }
  return 0;
}

int Convert(const std::string& in, const std::string& out) {
  const std::string ext = std::filesystem::path(out).extension().string();
  if (ext != ".tga" && ext != ".TGA" && ext != ".png" && ext != ".PNG") {
    std::cerr << "zentrope convert: the output must end in .tga or .png\n";
    return 2;
  }
  Image image;
  image.fileName = in;
  image.flags = kImageQuiet;
  std::string error;
  if (!LoadImage(image, -1, 0, &error)) {
    std::cerr << Explain(in, "", error) << '\n';
    return 1;
  }
  if (MemoryRanOut()) {
    return 1;
  }
  bool ok = false;
  if (ext == ".tga" || ext == ".TGA") {
    ok = SaveTarga(image, out, /*compressed=*/true, &error);
  } else {
    ok = WritePng(image, out, &error);
  }
  if (!ok) {
    std::cerr << out << ": " << error << '\n';
    return 1;
  }
  return 0;
}

int LatheCommand(const std::string& in, int sections, std::int32_t pointNumber,
                 const std::string& out) {
  if (sections <= 0 || sections > 32767) {
    std::cerr << "zentrope lathe: the number of cross sections must be between 1 and 32767 (got "
              << sections << ")\n";
    return 2;
  }
  SegmentRegistry registry;
  Result<Segment> segment = OpenOrReport(in, registry);
  if (!segment) {
    return 1;
  }
  ControlPoint* profile = nullptr;
  if (pointNumber != 0) {
    profile = segment->Splines().FindByNumber(pointNumber);
    if (!profile) {
      std::cerr << in << ": no control point numbered " << pointNumber << '\n';
      return 1;
    }
  } else if (!segment->Splines().Empty()) {
    profile = segment->Splines().Splines().front().first;
  }
  if (!Lathe(*segment, profile, static_cast<std::int16_t>(sections))) {
    std::cerr << in << ": " << LoadString(str::kLowMemory) << '\n';
    return 1;
  }
  if (MemoryRanOut()) {
    return 1;
  }
  const SaveReport report = SaveSegmentAs(*segment, out, /*overwrite=*/true, registry);
  if (!report.Ok()) {
    std::cerr << out << ": " << SaveFailureLine(report.failures, report.reason) << '\n';
  }
  return report.Ok() ? 0 : 1;
}

void RegisterDocumentCommands(CLI::App& app, Runner& chosen) {
  struct InfoArgs {
    std::string file;
    bool json = false;
  };
  auto infoArgs = std::make_shared<InfoArgs>();
  CLI::App* info = app.add_subcommand("info", "Describe a document");
  info->add_option("FILE", infoArgs->file, "Document")->required();
  info->add_flag("--json", infoArgs->json, "Print JSON");
  info->callback([&chosen, infoArgs] {
    chosen = [infoArgs] { return Info(infoArgs->file, infoArgs->json); };
  });

  auto checkFiles = std::make_shared<std::vector<std::string>>();
  CLI::App* check = app.add_subcommand("check", "Read documents and report the ones that fail");
  check->add_option("FILE", *checkFiles, "Documents")->required();
  check->callback([&chosen, checkFiles] { chosen = [checkFiles] { return Check(*checkFiles); }; });

  struct InOut {
    std::string in, out;
  };
  auto resaveArgs = std::make_shared<InOut>();
  CLI::App* resave = app.add_subcommand("resave", "Read a document and write it again");
  resave->add_option("IN", resaveArgs->in, "Document to read")->required();
  resave->add_option("-o,--output", resaveArgs->out, "Where to write it")->required();
  resave->callback([&chosen, resaveArgs] {
    chosen = [resaveArgs] { return Resave(resaveArgs->in, resaveArgs->out); };
  });

  struct EvalArgs {
    std::string document, figure;
    float frame = 1.0f;
    bool json = false;
    bool points = false;
  };
  auto evalArgs = std::make_shared<EvalArgs>();
  CLI::App* eval = app.add_subcommand(
      "eval", "Evaluate a scene at a frame, or pose a figure at rest or by an action");
  eval->add_option("DOCUMENT", evalArgs->document, "SCENE.cho, ACTION.act or FIGURE.fig")
      ->required();
  eval->add_option("--figure", evalArgs->figure, "The figure an action moves");
  eval->add_option("--frame", evalArgs->frame, "Frame number, from 1");
  eval->add_flag("--json", evalArgs->json, "Print JSON");
  eval->add_flag("--points", evalArgs->points, "Also print every deformed control point");
  eval->callback([&chosen, evalArgs] {
    chosen = [evalArgs] {
      return Eval(evalArgs->document, evalArgs->figure, evalArgs->frame, evalArgs->json,
                  evalArgs->points);
    };
  });

  auto convertArgs = std::make_shared<InOut>();
  CLI::App* convert = app.add_subcommand("convert", "Convert a picture to Targa or PNG");
  convert->add_option("IMAGE", convertArgs->in, "Picture to read")->required();
  convert->add_option("-o,--output", convertArgs->out, "OUT.tga or OUT.png")->required();
  convert->callback([&chosen, convertArgs] {
    chosen = [convertArgs] { return Convert(convertArgs->in, convertArgs->out); };
  });

  struct LatheArgs {
    std::string in, out;
    int sections = 8;
    std::int32_t point = 0;
  };
  auto latheArgs = std::make_shared<LatheArgs>();
  CLI::App* lathe = app.add_subcommand("lathe", "Turn a profile spline about the pivot's axis");
  lathe->add_option("IN", latheArgs->in, "Segment holding the profile")->required();
  lathe->add_option("--sections", latheArgs->sections, "Cross sections (1 or more)")->required();
  lathe->add_option("--point", latheArgs->point,
                    "Number of a point on the profile spline (default: the first spline)");
  lathe->add_option("-o,--output", latheArgs->out, "Segment to write")->required();
  lathe->callback([&chosen, latheArgs] {
    chosen = [latheArgs] {
      return LatheCommand(latheArgs->in, latheArgs->sections, latheArgs->point, latheArgs->out);
    };
  });
}

}  // namespace zentrope::cli
