// The choreography model and its editing commands.
#include "chor/choreography.h"

#include <filesystem>

#include "anim/action_file.h"
#include "shell/settings.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

std::unique_ptr<ChannelSet> MakeSet(std::string name, std::span<const float> defaults,
                                    std::uint8_t kind) {
  return CreateChannelSet(std::move(name), static_cast<std::uint8_t>(defaults.size()), kind,
                          defaults);
}

void Collect(std::vector<FigureInstance>& list, std::vector<FigureInstance*>& out) {
  for (FigureInstance& f : list) {
    out.push_back(&f);
    Collect(f.children, out);
  }
}

}  // namespace

bool Dynamics::Covers(float frame) const {
  if (!motion) {
    return false;
  }
  for (const auto& [start, end] : ranges) {
    if (frame >= start && frame <= end) {
      return true;
    }
  }
  return false;
}

const Path* Choreography::FindPath(const std::string& name) const {
  for (const Path& p : paths) {
    if (p.name == name) {
      return &p;
    }
  }
  return nullptr;
}

const Path* Choreography::PathOf(const ChannelSet* set) const {
  return set && !set->referenceName.empty() ? FindPath(set->referenceName) : nullptr;
}

std::vector<FigureInstance*> Choreography::AllFigures() {
  std::vector<FigureInstance*> out;
  Collect(figures, out);
  return out;
}

std::vector<const FigureInstance*> Choreography::AllFigures() const {
  std::vector<FigureInstance*> all = const_cast<Choreography*>(this)->AllFigures();
  return {all.begin(), all.end()};
}

void Choreography::ForEachRidingSet(const std::function<void(ChannelSet&)>& f) {
  auto chain = [&](ChannelSet* set) {
    for (; set; set = set->next.get()) {
      f(*set);
    }
  };
  chain(camera.get());
  chain(cameraTarget.get());
  for (Light& l : lights) {
    chain(l.set.get());
    chain(l.target.get());
  }
  for (FigureInstance* figure : AllFigures()) {
    chain(figure->placement.get());
  }
}

std::unique_ptr<ChannelSet> CreateCameraSet() {
  return MakeSet(kCameraSetName, kCameraDefaults, kCameraKind);
}

std::unique_ptr<ChannelSet> CreateTargetSet(const char* name) {
  return MakeSet(name, kTargetDefaults, kTargetKind);
}

std::unique_ptr<ChannelSet> CreateLightSet() {
  return MakeSet(kLightSetName, kLightDefaults, kLightKind);
}

std::unique_ptr<ChannelSet> CreatePlacementSet(const std::string& figureFile) {
  return MakeSet(figureFile, kPlacementDefaults, kFigurePlacementKind);
}

std::unique_ptr<ChannelSet> CreateDynamicsSet(const std::string& figureFile) {
  return MakeSet(figureFile, kDynamicsDefaults, kFigurePlacementKind);
}

Choreography NewChoreography() {
  Choreography chor;
  chor.scene.length = Settings().read_setting_short("DIRECTION", "DefaultFrames", 30);
  chor.scene.renderFrom = 1.0f;
  chor.scene.renderTo = chor.scene.length;
  chor.camera = CreateCameraSet();
  chor.cameraTarget = CreateTargetSet(kCameraTargetName);
  Light light;
  light.set = CreateLightSet();
  chor.lights.push_back(std::move(light));
  return chor;
}

std::string NewPathName(const Choreography& chor) {
  for (int n = 0;; ++n) {
    std::string name = "path" + std::to_string(n);
    if (!chor.FindPath(name)) {
      return name;
    }
  }
}

Path& AddPath(Choreography& chor) {
  Path path;
  path.name = NewPathName(chor);
  chor.paths.push_back(std::move(path));
  return chor.paths.back();
}

EditOutcome RenamePath(Choreography& chor, std::size_t index, std::string name) {
  Path& path = chor.paths.at(index);
  auto taken = [&](const std::string& n) {
    for (std::size_t i = 0; i < chor.paths.size(); ++i) {
      if (i != index && chor.paths[i].name == n) {
        return true;
      }
    }
    return false;
  };
  bool duplicate = false;
  while (taken(name)) {
    name += "0";
    duplicate = true;
  }
  // Every thing riding the path follows it to its new name.
  chor.ForEachRidingSet([&](ChannelSet& set) {
    if (set.referenceName == path.name) {
      set.referenceName = name;
    }
  });
  path.name = std::move(name);
  return duplicate ? EditOutcome::Failure(str::kDuplicatePathName) : EditOutcome::Success();
}

EditOutcome DeletePath(Choreography& chor, std::size_t index) {
  const std::string& name = chor.paths.at(index).name;
  bool occupied = false;
  chor.ForEachRidingSet([&](ChannelSet& set) { occupied = occupied || set.referenceName == name; });
  if (occupied) {
    return EditOutcome::Failure(str::kPathOccupied);
  }
  chor.paths.erase(chor.paths.begin() + static_cast<std::ptrdiff_t>(index));
  return EditOutcome::Success();
}

EditOutcome AddFigure(Choreography& chor, const std::string& figureFile) {
  if (chor.paths.empty()) {
    return EditOutcome::Failure(str::kFirstAddAPath);
  }
  FigureInstance figure;
  figure.fileName = figureFile;
  figure.placement = CreatePlacementSet(figureFile);
  if (!figure.placement) {
    return EditOutcome::Failure(str::kLowMemory);
  }
  figure.placement->referenceName = chor.paths.front().name;
  chor.figures.push_back(std::move(figure));
  return EditOutcome::Success();
}

EditOutcome AddAction(FigureInstance& figure, std::size_t track, const std::string& actionFile) {
  ActionPlacement p;
  p.actionFile = actionFile;
  std::error_code ec;
  if (!std::filesystem::exists(actionFile, ec)) {
    // A new action starts empty, one frame long, and is created on disk now.
    Action empty;
    empty.length = 1;
    if (WriteAction(empty, actionFile) != SaveStatus::kSaved) {
      return EditOutcome::Failure(str::kFileIneligible);
    }
    p.actionLength = 1;
  } else if (!PeekActionTiming(actionFile, p.actionLength, p.strideLength)) {
    return EditOutcome::Failure(str::kFileIneligible);
  }
  p.start = 1;
  p.end = std::max<std::int16_t>(p.actionLength, 1);
  p.length = p.end;
  p.useStride = p.strideLength != 0.0f;
  if (figure.tracks.size() <= track) {
    figure.tracks.resize(track + 1);
  }
  figure.tracks[track].placements.push_back(std::move(p));
  figure.state |= kPoseOutOfDate;
  return EditOutcome::Success();
}

void InsertTween(FigureInstance& figure, std::size_t track, std::size_t before) {
  ActionPlacement p;
  p.actionFile = kTweenName;
  p.tween = true;
  p.length = 1;
  p.actionLength = 1;
  auto& list = figure.tracks.at(track).placements;
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(before, list.size())),
              std::move(p));
}

}  // namespace zentrope
