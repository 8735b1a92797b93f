// Skeletal frame files.
#include "anim/skeletal_frame.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "figure/figure_file.h"
#include "model/patch_colours.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// Children first, then the node (without recursion).
void PostOrder(const Figure& figure, int node, std::vector<int>& out) {
  std::vector<std::pair<int, bool>> stack{{node, false}};
  while (!stack.empty()) {
    auto [n, expanded] = stack.back();
    stack.pop_back();
    if (expanded) {
      out.push_back(n);
      continue;
    }
    stack.emplace_back(n, true);
    std::vector<int> children;
    for (int c = figure.nodes[static_cast<std::size_t>(n)].firstChild; c != kNoNode;
         c = figure.nodes[static_cast<std::size_t>(c)].nextSibling) {
      children.push_back(c);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      stack.emplace_back(*it, false);
    }
  }
}

}  // namespace

float PatriarchSize(const Figure& figure) {
  if (figure.nodes.empty()) {
    return 1.0f;
  }
  const FigureNode& p = figure.nodes[0];
  return std::max(1.0f, Length(p.boundsMax - p.boundsMin));
}

SaveStatus WriteSkeletalFrame(const Action& action, const Figure& figure, float frame,
                              const std::string& path, std::string* detail) {
  std::vector<int> order;
  if (!figure.nodes.empty()) {
    PostOrder(figure, 0, order);
  }
  return WriteDocument(
      path, "SKEF", kSkeletalFrameVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        w.Line("%g", static_cast<double>(PatriarchSize(figure)));
        for (int n : order) {
          const FigureNode& node = figure.nodes[static_cast<std::size_t>(n)];
          const ChannelSet* set = action.ChannelsOf(node.name);
          if (!set) {
            continue;
          }
          w.Line("%s", StoredNodeName(node.name, folder).c_str());
          w.Line("%d", static_cast<int>(set->tag));
          std::string values;
          for (int c = 0; c < set->Count(); ++c) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%g ",
                          static_cast<double>(EvaluateChannel(*set, c, frame)));
            values += buffer;
          }
          w.Line("%s", values.c_str());
        }
      },
      detail);
}

Result<bool> ReadSkeletalFrame(Action& action, Figure& figure, float frame,
                               const std::string& path) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    log_line(error);
    return Failure{LoadString(str::kTroubleOpeningSkeletalFrame), error};
  }
  TextReader r(std::move(contents), path);
  auto fail = [&]() -> Result<bool> {
    log_line(r.Error());
    return Failure{LoadString(str::kTroubleOpeningSkeletalFrame), r.Error()};
  };
  int version = 0;
  float storedSize = 1.0f;
  if (!ReadHeader(r, "SKEF", version) || !r.ScanLine(1, nullptr, "%f", &storedSize)) {
    return fail();
  }
  if (version > kSkeletalFrameVersion) {
    r.Fail("frame file version " + std::to_string(version));
    return Failure{LoadString(str::kRequiresNewerSoftware), r.Error()};
  }
  const float ratio =
      storedSize > 0.0f && std::isfinite(storedSize) ? PatriarchSize(figure) / storedSize : 1.0f;
  const std::filesystem::path folder = DocumentFolder(path);
  while (r.LinesRemaining() > 0) {
    std::string stored, values;
    int tag = 0;
    if (!r.Next(stored)) {
      return fail();
    }
    if (stored.empty() && r.LinesRemaining() == 0) {
      break;
    }
    const std::string nodeName = ReadNodeName(r, stored, folder);
    if (!r.ScanLine(1, nullptr, "%d", &tag) || !r.Next(values)) {
      return fail();
    }
    const int node = figure.Find(nodeName);
    if (node == kNoNode || tag != kChannelSetTag) {
      continue;
    }
    float v[10] = {};
    if (ScanText(values, "%f %f %f %f %f %f %f %f %f %f", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                 &v[6], &v[7], &v[8], &v[9]) != 10) {
      r.Fail("expected ten channel values");
      return fail();
    }
    const FigureNode& n = figure.nodes[static_cast<std::size_t>(node)];
    const Vector3 rest = OrientFromAngles(n.rotation.x, n.rotation.y) * kOrientScale;
    const float rests[10] = {0, 0, 0, 100, 100, 100, rest.x, rest.y, rest.z, n.rotation.z};
    for (int c = 0; c < 10; ++c) {
      const float value = c < 3 ? v[c] * ratio : v[c];
      if (!SetPoseKey(action, figure, node, c, frame, value, rests[c])) {
        return Failure{LoadString(str::kTroubleOpeningChannel), path};
      }
    }
  }
  return true;
}

}  // namespace zentrope
