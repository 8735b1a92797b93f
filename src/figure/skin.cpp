// Finding and applying skins, and the skin file.
#include "figure/skin.h"

#include <array>
#include <filesystem>
#include <limits>
#include <map>

#include "core/spline.h"
#include "figure/pose.h"
#include "model/patch_colours.h"
#include "model/segment_file.h"
#include "model/text_file.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

SplineSet* Working(FigureNode& node) {
  return node.segment ? &node.segment->working : nullptr;
}

// The chain around one pair, built from the working copies. Parent side:
// P's neighbours away from the child; child side: Q's neighbours away from
// the parent.
struct Chain {
  std::array<ControlPoint*, 5> source{};  // P2, P1, P, Q1, Q2 (null when absent)
  ControlPoint* q = nullptr;
  bool parentForward = true;  // the chain runs the parent spline's way
  bool childForward = true;
};

Chain BuildChain(ControlPoint* p, ControlPoint* q) {
  Chain c;
  const bool prevSide = p->prev != nullptr;
  c.source[2] = p;
  c.source[1] = prevSide ? p->prev : p->next;
  if (c.source[1]) {
    c.source[0] = prevSide ? c.source[1]->prev : c.source[1]->next;
  }
  c.source[3] = prevSide ? q->next : q->prev;
  if (c.source[3]) {
    c.source[4] = prevSide ? c.source[3]->next : c.source[3]->prev;
  }
  c.q = q;
  c.parentForward = prevSide;
  c.childForward = prevSide;
  return c;
}

// A figure-space tangent taken back into a segment's own coordinates.
Vector3 Back(const Matrix3& inverse, const Vector3& t) {
  return inverse * t;
}

void CopyBack(const ControlPoint& chainPoint, ControlPoint& source, const Matrix3& inverse,
              bool forward) {
  const Vector3 in = Back(inverse, chainPoint.inTangent);
  const Vector3 out = Back(inverse, chainPoint.outTangent);
  if (forward) {
    source.inTangent = in;
    source.outTangent = out;
  } else {
    source.inTangent = -out;
    source.outTangent = -in;
  }
}

}  // namespace

bool LoadFigureSegments(Figure& figure, SegmentRegistry& registry,
                        std::vector<std::string>* problems) {
  bool all = true;
  for (FigureNode& node : figure.nodes) {
    if (node.IsGhost() || node.segment) {
      continue;
    }
    Result<Segment> segment = OpenSegment(node.name, registry);
    if (segment) {
      node.segment = std::make_shared<Segment>(std::move(*segment));
    } else {
      all = false;
      if (problems) {
        // The detail names the file ("file: why") when there is one.
        const Failure& f = segment.failure();
        problems->push_back(f.detail.empty() ? node.name + ": " + f.message
                                             : f.message + " (" + f.detail + ")");
      }
    }
  }
  return all;
}

EditOutcome FindSkin(Figure& figure, int node) {
  if (node < 0 || static_cast<std::size_t>(node) >= figure.nodes.size()) {
    return EditOutcome::Failure(str::kNoSegmentSelected);
  }
  FigureNode& child = figure.nodes[static_cast<std::size_t>(node)];
  if (!child.skins.empty()) {
    return EditOutcome::Failure(str::kAlreadySkinned);
  }
  if (child.parent == kNoNode) {
    return EditOutcome::Failure(str::kCantFindSkin);
  }
  FigureNode& parent = figure.nodes[static_cast<std::size_t>(child.parent)];
  SplineSet* parentSplines = Working(parent);
  SplineSet* childSplines = Working(child);
  if (!parentSplines || !childSplines) {
    return EditOutcome::Failure(str::kCantFindSkin);
  }
  PoseFigure(figure, Transform::Identity(), {1, 1, 1});
  const Transform& gp = parent.geometryTransform;
  const Transform& gc = child.geometryTransform;
  std::vector<SkinPair> pairs;
  parentSplines->ForEachPoint([&](ControlPoint& p) {
    const Vector3 pf = gp.ApplyToPoint(p.position);
    float best = kSkinDistance;
    const ControlPoint* candidate = nullptr;
    childSplines->ForEachPoint([&](ControlPoint& q) {
      const float d = Length(pf - gc.ApplyToPoint(q.position));
      const bool bothNext = p.next && q.next;
      const bool bothPrev = p.prev && q.prev;
      if (d <= best && !bothNext && !bothPrev) {
        candidate = &q;  // later points win ties
        best = d;
      }
    });
    if (candidate) {
      pairs.push_back({p.number, candidate->number});
    }
  });
  if (pairs.empty()) {
    return EditOutcome::Failure(str::kCantFindSkin);
  }
  child.skins = std::move(pairs);
  figure.flags |= kFigureSkinChanged;
  return EditOutcome::Success();
}

void RemoveSkin(Figure& figure, int node) {
  FigureNode& n = figure.nodes[static_cast<std::size_t>(node)];
  if (!n.skins.empty()) {
    n.skins.clear();
    figure.flags |= kFigureSkinChanged;
  }
}

void ApplySkins(Figure& figure) {
  for (FigureNode& child : figure.nodes) {
    if (child.skins.empty() || child.parent == kNoNode) {
      continue;
    }
    FigureNode& parent = figure.nodes[static_cast<std::size_t>(child.parent)];
    SplineSet* parentSplines = Working(parent);
    SplineSet* childSplines = Working(child);
    if (!parentSplines || !childSplines) {
      continue;
    }
    const Matrix3 parentInverse = Inverse(parent.geometryTransform.Linear());
    const Matrix3 childInverse = Inverse(child.geometryTransform.Linear());
    for (const SkinPair& pair : child.skins) {
      ControlPoint* p = parentSplines->FindByNumber(pair.parentNumber);
      ControlPoint* q = childSplines->FindByNumber(pair.childNumber);
      if (!p || !q) {
        continue;  // a number the segment no longer holds
      }
      const Chain chain = BuildChain(p, q);
      if (!chain.source[1] && !chain.source[3]) {
        continue;  // lone points: no spline to continue
      }
      // The chain in figure space as one spline.
      std::array<ControlPoint, 5> points{};
      ControlPoint* last = nullptr;
      for (std::size_t i = 0; i < 5; ++i) {
        ControlPoint* src = chain.source[i];
        if (!src) {
          continue;
        }
        const Transform& g = i < 3 ? parent.geometryTransform : child.geometryTransform;
        ControlPoint& c = points[i];
        c.flags = static_cast<std::uint16_t>(src->flags & kPointSmooth);
        c.position = g.ApplyToPoint(src->position);
        const bool forward = i < 3 ? chain.parentForward : chain.childForward;
        // Bias follows the tangent it bends; a reversed source swaps sides.
        c.SetInBias(forward ? src->InBias() : src->OutBias());
        c.SetOutBias(forward ? src->OutBias() : src->InBias());
        c.prev = last;
        if (last) {
          last->next = &c;
        }
        last = &c;
      }
      for (ControlPoint& c : points) {
        if (c.prev || c.next) {
          ComputeTangents(c);
        }
      }
      // The joined points and their neighbours take the chain's tangents.
      CopyBack(points[2], *p, parentInverse, chain.parentForward);
      CopyBack(points[2], *q, childInverse, chain.childForward);
      if (chain.source[1]) {
        CopyBack(points[1], *chain.source[1], parentInverse, chain.parentForward);
      }
      if (chain.source[3]) {
        CopyBack(points[3], *chain.source[3], childInverse, chain.childForward);
      }
    }
  }
}

std::string SkinFilePath(const std::string& figurePath) {
  return CompanionName(figurePath, ".ski");
}

Result<SkinFileContents> ParseSkinFile(std::string contents, const std::string& path,
                                       std::size_t nodeCount) {
  TextReader r(std::move(contents), path);
  SkinFileContents file;
  auto fail = [&]() -> Result<SkinFileContents> { return Failure{"", r.Error()}; };
  if (!ReadHeader(r, "SKIN", file.version) || file.version < 1 || file.version > kSkinVersion) {
    return fail();
  }
  auto readPairs = [&](std::vector<SkinPair>& pairs) {
    short count = 0;
    if (!r.ScanLine(1, nullptr, "%hd", &count) || count < 0 ||
        static_cast<std::size_t>(count) > r.LinesRemaining()) {
      return false;
    }
    for (int i = 0; i < count; ++i) {
      long a = 0, b = 0;
      if (!r.ScanLine(2, nullptr, "%ld %ld", &a, &b)) {
        return false;
      }
      pairs.push_back({static_cast<std::int32_t>(a), static_cast<std::int32_t>(b)});
    }
    return true;
  };
  if (file.version == 1) {
    for (std::size_t i = 0; i < nodeCount; ++i) {
      SkinRecord record;
      if (!readPairs(record.pairs)) {
        return fail();
      }
      file.records.push_back(std::move(record));
    }
    return file;
  }
  while (r.LinesRemaining() > 0) {
    SkinRecord record;
    if (!r.Next(record.segmentPath)) {
      return fail();
    }
    if (record.segmentPath.empty() && r.LinesRemaining() == 0) {
      break;
    }
    r.NoteName(record.segmentPath);
    if (!readPairs(record.pairs)) {
      return fail();
    }
    file.records.push_back(std::move(record));
  }
  return file;
}

bool ReadSkinFile(Figure& figure, const std::string& path) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    return false;
  }
  const std::vector<int> order = figure.DepthFirst();
  Result<SkinFileContents> file = ParseSkinFile(std::move(contents), path, order.size());
  if (!file) {
    return false;
  }
  const std::filesystem::path folder = DocumentFolder(path);
  std::vector<bool> taken;
  for (std::size_t i = 0; i < file->records.size(); ++i) {
    const int n =
        file->version == 1
            ? order[i]
            : figure.TakeNext(AbsoluteDocumentName(file->records[i].segmentPath, folder), taken);
    if (n != kNoNode) {
      figure.nodes[static_cast<std::size_t>(n)].skins = std::move(file->records[i].pairs);
    }
  }
  if (file->version == 1) {
    figure.flags |= kFigureSkinChanged;  // rewritten as version 2 at the next save
  }
  return true;
}

SaveStatus WriteSkinFile(const Figure& figure, const std::string& path, std::string* detail,
                         SaveTransaction* save) {
  return WriteDocument(
      save, path, "SKIN", kSkinVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        // Records are matched to nodes by path, the k-th record of a path to
        // the k-th node using it. An unskinned node is written (with no
        // pairs) when a skinned node of the same path follows it, so the
        // skins of nodes sharing a segment file stay on their own nodes.
        const std::vector<int> order = figure.DepthFirst();
        std::map<std::string, std::size_t> lastSkinned;
        for (std::size_t i = 0; i < order.size(); ++i) {
          const FigureNode& node = figure.nodes[static_cast<std::size_t>(order[i])];
          if (!node.skins.empty()) {
            lastSkinned[node.name] = i;
          }
        }
        for (std::size_t i = 0; i < order.size(); ++i) {
          const FigureNode& node = figure.nodes[static_cast<std::size_t>(order[i])];
          const auto last = lastSkinned.find(node.name);
          if (last == lastSkinned.end() || i > last->second) {
            continue;
          }
          w.Line("%s", RelativeToFolder(node.name, folder).c_str());
          w.Line("%hd", static_cast<short>(node.skins.size()));
          for (const SkinPair& p : node.skins) {
            w.Line("%ld %ld", static_cast<long>(p.parentNumber), static_cast<long>(p.childNumber));
          }
        }
      },
      detail);
}

}  // namespace zentrope
