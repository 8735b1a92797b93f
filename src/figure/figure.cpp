// Figure tree operations.
#include "figure/figure.h"

#include <algorithm>

#include "core/rotation.h"
#include "model/text_file.h"

namespace zentrope {

void FigureNode::RebuildCog() {
  cog = BuildRollRotation({}, cogRotation);
}

std::vector<int> Figure::Subtree(int node) const {
  std::vector<int> order;
  if (node == kNoNode) {
    return order;
  }
  // Node, then each child's subtree.
  std::vector<int> stack{node};
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    order.push_back(n);
    std::vector<int> children;
    for (int c = nodes[static_cast<std::size_t>(n)].firstChild; c != kNoNode;
         c = nodes[static_cast<std::size_t>(c)].nextSibling) {
      children.push_back(c);
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return order;
}

std::vector<int> Figure::DepthFirst() const {
  std::vector<int> order;
  for (int top = Patriarch(); top != kNoNode;
       top = nodes[static_cast<std::size_t>(top)].nextSibling) {
    const std::vector<int> sub = Subtree(top);
    order.insert(order.end(), sub.begin(), sub.end());
  }
  return order;
}

int Figure::Find(const std::string& segmentPath) const {
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].name == segmentPath) {
      return static_cast<int>(i);
    }
  }
  return kNoNode;
}

int Figure::TakeNext(const std::string& segmentPath, std::vector<bool>& taken) const {
  taken.resize(nodes.size(), false);
  for (int n : DepthFirst()) {
    const auto i = static_cast<std::size_t>(n);
    if (!taken[i] && nodes[i].name == segmentPath) {
      taken[i] = true;
      return n;
    }
  }
  return kNoNode;
}

int Figure::AddSegment(int parent, const std::string& segmentPath) {
  FigureNode node;
  node.name = segmentPath.empty() ? std::string(kGhostName) : segmentPath;
  node.parent = parent;
  if (!node.IsGhost()) {
    ReadSegmentBounds(node.name, node.boundsMin, node.boundsMax);
  }
  node.size = std::max(1.0f, Length(node.boundsMax - node.boundsMin));
  node.RebuildCog();
  const int index = static_cast<int>(nodes.size());
  nodes.push_back(node);
  MarkChanged();
  int* link = nullptr;
  if (parent == kNoNode) {
    if (index == 0) {
      return index;
    }
    link = &nodes[0].nextSibling;
  } else {
    link = &nodes[static_cast<std::size_t>(parent)].firstChild;
  }
  while (*link != kNoNode) {
    link = &nodes[static_cast<std::size_t>(*link)].nextSibling;
  }
  *link = index;
  return index;
}

void Figure::SetDrawMode(int node, std::uint8_t mode, bool branch) {
  const std::vector<int> targets = branch ? Subtree(node) : std::vector<int>{node};
  for (int n : targets) {
    FigureNode& f = nodes[static_cast<std::size_t>(n)];
    f.drawMode = static_cast<std::uint8_t>((f.drawMode & kDrawHidden) | (mode & 0x7F));
  }
  MarkChanged();
}

void Figure::ToggleHidden(int node) {
  nodes[static_cast<std::size_t>(node)].drawMode ^= kDrawHidden;
  MarkChanged();
}

bool ReadSegmentBounds(const std::string& segmentPath, Vector3& min, Vector3& max) {
  std::string contents, error;
  if (!LoadDocumentText(segmentPath, contents, &error)) {
    return false;
  }
  TextReader r(std::move(contents), segmentPath);
  int version = 0;
  Vector3 lo, hi;
  if (!ReadHeader(r, "SCUL", version) ||
      !r.ScanLine(6, nullptr, "%f %f %f %f %f %f", &lo.x, &lo.y, &lo.z, &hi.x, &hi.y, &hi.z)) {
    return false;
  }
  min = lo;
  max = hi;
  return true;
}

namespace {

// Limits read from a file may be inverted; a clamp must not misbehave then.
float Clamp(float v, float lo, float hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

void ClampToLimits(FigureNode& node) {
  node.rotation.x = Clamp(node.rotation.x, node.limits[2], node.limits[3]);
  node.rotation.y = Clamp(node.rotation.y, node.limits[0], node.limits[1]);
}

void SetLatitude(FigureNode& node, float latitude) {
  node.rotation.x = latitude;
  node.limits[3] = std::max(node.limits[3], latitude);
  node.limits[2] = std::min(node.limits[2], latitude);
}

void SetLongitude(FigureNode& node, float longitude) {
  node.rotation.y = longitude;
  node.limits[1] = std::max(node.limits[1], longitude);
  node.limits[0] = std::min(node.limits[0], longitude);
}

}  // namespace zentrope
