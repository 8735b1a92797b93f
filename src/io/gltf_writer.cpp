// Binary glTF 2.0: a 12-byte header, a JSON chunk (padded with blanks to a
// multiple of 4) and a BIN chunk (padded with zeros) holding, per mesh
// primitive, its positions, normals and uint32 indices.
#include "io/gltf_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/export_file.h"
#include "io/export_naming.h"
#include "material/material.h"
#include "model/segment.h"
#include "render/render_errors.h"

namespace zentrope {
namespace {

using nlohmann::ordered_json;

// Affine transforms in double, row-major 3×4 (linear part and translation),
// so composing and inverting the hierarchy loses nothing to float.
struct Affine {
  std::array<double, 12> m{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
};

Affine FromTransform(const Transform& t) {
  Affine a;
  for (std::size_t i = 0; i < 12; ++i) {
    a.m[i] = t.t[i];
  }
  return a;
}

Transform ToTransform(const Affine& a) {
  Transform t;
  for (std::size_t i = 0; i < 12; ++i) {
    t.t[i] = static_cast<float>(a.m[i]);
  }
  return t;
}

double L(const Affine& a, int row, int col) {
  return a.m[static_cast<std::size_t>(3 * row + col)];
}

Affine Compose(const Affine& a, const Affine& b) {
  Affine c;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      c.m[static_cast<std::size_t>(3 * i + j)] =
          L(a, i, 0) * L(b, 0, j) + L(a, i, 1) * L(b, 1, j) + L(a, i, 2) * L(b, 2, j);
    }
    c.m[static_cast<std::size_t>(9 + i)] = L(a, i, 0) * b.m[9] + L(a, i, 1) * b.m[10] +
                                           L(a, i, 2) * b.m[11] +
                                           a.m[static_cast<std::size_t>(9 + i)];
  }
  return c;
}

double Det(const Affine& a) {
  return L(a, 0, 0) * (L(a, 1, 1) * L(a, 2, 2) - L(a, 1, 2) * L(a, 2, 1)) -
         L(a, 0, 1) * (L(a, 1, 0) * L(a, 2, 2) - L(a, 1, 2) * L(a, 2, 0)) +
         L(a, 0, 2) * (L(a, 1, 0) * L(a, 2, 1) - L(a, 1, 1) * L(a, 2, 0));
}

// The inverse of an invertible transform (the caller has checked).
Affine Inverted(const Affine& a) {
  const double d = Det(a);
  Affine r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      // Cofactor of (j, i) over the determinant.
      const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
      r.m[static_cast<std::size_t>(3 * i + j)] =
          (L(a, r0, c0) * L(a, r1, c1) - L(a, r0, c1) * L(a, r1, c0)) / d;
    }
  }
  for (int i = 0; i < 3; ++i) {
    r.m[static_cast<std::size_t>(9 + i)] =
        -(L(r, i, 0) * a.m[9] + L(r, i, 1) * a.m[10] + L(r, i, 2) * a.m[11]);
  }
  return r;
}

bool Finite(const Affine& a) {
  for (double v : a.m) {
    if (!std::isfinite(v)) {
      return false;
    }
  }
  return true;
}

// glTF wants a node matrix that splits into translation, rotation and
// scale: a linear part whose columns are orthogonal and none of them zero.
// A figure's scale applied after a turn can shear; such a node is baked.
bool SplitsIntoTrs(const Affine& a) {
  if (!Finite(a)) {
    return false;
  }
  std::array<std::array<double, 3>, 3> c{};
  std::array<double, 3> length{};
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      c[static_cast<std::size_t>(j)][static_cast<std::size_t>(i)] = L(a, i, j);
    }
    const auto& v = c[static_cast<std::size_t>(j)];
    length[static_cast<std::size_t>(j)] = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length[static_cast<std::size_t>(j)] > 1e-12)) {
      return false;
    }
  }
  constexpr double kTolerance = 1e-4;  // float data: orthogonal within its rounding
  for (std::size_t j = 0; j < 3; ++j) {
    for (std::size_t k = j + 1; k < 3; ++k) {
      const double dot = c[j][0] * c[k][0] + c[j][1] * c[k][1] + c[j][2] * c[k][2];
      if (std::fabs(dot) > kTolerance * length[j] * length[k]) {
        return false;
      }
    }
  }
  return std::fabs(Det(a)) > 1e-30;
}

bool IsIdentity(const Affine& a) {
  return a.m == Affine{}.m;
}

// Column-major 4×4, as glTF stores node matrices.
ordered_json ColumnMajor(const Affine& a) {
  ordered_json m = ordered_json::array();
  for (int col = 0; col < 4; ++col) {
    for (int row = 0; row < 4; ++row) {
      double v = 0.0;
      if (row == 3) {
        v = col == 3 ? 1.0 : 0.0;
      } else if (col == 3) {
        v = a.m[static_cast<std::size_t>(9 + row)];
      } else {
        v = L(a, row, col);
      }
      m.push_back(static_cast<double>(static_cast<float>(v)));
    }
  }
  return m;
}

// The colour of a material's first attribute leaf (blue, green, red as the
// record holds it), or none for a material without one.
const AttributeRecord* FirstLeaf(const MaterialNode* node) {
  while (node) {
    if (node->kind == NodeKind::kAttribute) {
      return &node->attributes;
    }
    node = node->first ? node->first.get() : node->second.get();
  }
  return nullptr;
}

float Unit(float v) {
  return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
}

struct MaterialKey {
  std::string name;
  std::array<float, 3> rgb{};
  auto operator<=>(const MaterialKey&) const = default;
};

// The material a piece is drawn in: its patch colour, else its (segment's
// or patch's own) material's first leaf colour, else the neutral grey.
MaterialKey KeyFor(const PatchContext& context) {
  MaterialKey key;
  if (context.patchColour) {
    key.rgb = {Unit(context.patchColour->x), Unit(context.patchColour->y),
               Unit(context.patchColour->z)};
    char name[64];
    std::snprintf(name, sizeof name, "colour %d %d %d", static_cast<int>(key.rgb[0] * 255 + 0.5f),
                  static_cast<int>(key.rgb[1] * 255 + 0.5f),
                  static_cast<int>(key.rgb[2] * 255 + 0.5f));
    key.name = name;
    return key;
  }
  const Material* material = context.material;
  const AttributeRecord* leaf = material ? FirstLeaf(material->root.get()) : nullptr;
  if (!leaf) {
    key.name = "default";
    key.rgb = {0.8f, 0.8f, 0.8f};
    return key;
  }
  // The material file's own name: the folder it came from is of no use in
  // another program and would tell it where the user keeps files.
  const std::string stem = std::filesystem::path(material->name).stem().string();
  key.name = stem.empty() ? std::string("default") : stem;
  key.rgb = {Unit(leaf->colour[2]), Unit(leaf->colour[1]), Unit(leaf->colour[0])};
  return key;
}

struct Primitive {
  int material = 0;
  std::vector<Vector3> positions;
  std::vector<Vector3> normals;
  std::vector<std::uint32_t> indices;
  // Vertices equal in position and normal, bit for bit, are shared.
  std::unordered_map<std::string, std::uint32_t> index;

  std::uint32_t Vertex(const Vector3& p, const Vector3& n) {
    std::string key(sizeof(float) * 6, '\0');
    const float f[6] = {p.x, p.y, p.z, n.x, n.y, n.z};
    std::memcpy(key.data(), f, sizeof f);
    const auto [it, added] = index.try_emplace(std::move(key), 0u);
    if (added) {
      it->second = static_cast<std::uint32_t>(positions.size());
      positions.push_back(p);
      normals.push_back(n);
    }
    return it->second;
  }
};

double Norm(const Vector3& v) {
  return std::sqrt(double{v.x} * v.x + double{v.y} * v.y + double{v.z} * v.z);
}

// A unit normal: the piece's own when it has a direction, else the face's.
Vector3 UnitNormal(const Vector3& n, const Vector3& face) {
  const double l = Norm(n);
  if (std::isfinite(l) && l > 1e-20) {
    return {static_cast<float>(n.x / l), static_cast<float>(n.y / l), static_cast<float>(n.z / l)};
  }
  const double f = Norm(face);
  return {static_cast<float>(face.x / f), static_cast<float>(face.y / f),
          static_cast<float>(face.z / f)};
}

bool FinitePoint(const Vector3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Collects one segment's pieces as triangles, one primitive per material.
class MeshCollector final : public PieceTarget {
 public:
  explicit MeshCollector(std::map<MaterialKey, int>& materials) : materials_(materials) {}

  bool AcceptPiece(const PatchContext& context, const Piece& piece) override {
    // Corners in order round the piece, a corner equal to the one before it
    // dropped: four give two triangles, three (a three-sided patch's
    // pieces at its apex) one.
    std::array<int, 4> ring{};
    int count = 0;
    for (int c = 0; c < 4; ++c) {
      const Vector3& p = piece.corners[static_cast<std::size_t>(c)];
      if (!FinitePoint(p)) {
        return true;
      }
      if (count > 0 && p == piece.corners[static_cast<std::size_t>(ring[count - 1])]) {
        continue;
      }
      ring[static_cast<std::size_t>(count++)] = c;
    }
    if (count > 1 && piece.corners[static_cast<std::size_t>(ring[count - 1])] ==
                         piece.corners[static_cast<std::size_t>(ring[0])]) {
      --count;
    }
    if (count < 3) {
      return true;
    }
    Primitive& primitive = PrimitiveFor(context);
    if (count == 3) {
      Triangle(primitive, piece, ring[0], ring[1], ring[2]);
      return true;
    }
    // Cut along the shorter diagonal.
    const auto& p = piece.corners;
    if (Norm(p[2] - p[0]) <= Norm(p[3] - p[1])) {
      Triangle(primitive, piece, 0, 1, 2);
      Triangle(primitive, piece, 0, 2, 3);
    } else {
      Triangle(primitive, piece, 0, 1, 3);
      Triangle(primitive, piece, 1, 2, 3);
    }
    return true;
  }

  std::vector<Primitive>& Primitives() { return primitives_; }

 private:
  Primitive& PrimitiveFor(const PatchContext& context) {
    const MaterialKey key = KeyFor(context);
    const auto [it, added] = materials_.try_emplace(key, static_cast<int>(materials_.size()));
    for (Primitive& p : primitives_) {
      if (p.material == it->second) {
        return p;
      }
    }
    primitives_.push_back({});
    primitives_.back().material = it->second;
    return primitives_.back();
  }

  // One triangle, turned so that its front (counter-clockwise) side faces
  // the way its vertex normals point; a triangle without area is dropped.
  static void Triangle(Primitive& primitive, const Piece& piece, int a, int b, int c) {
    const auto& p = piece.corners;
    const auto& n = piece.normals;
    const auto ua = static_cast<std::size_t>(a), ub = static_cast<std::size_t>(b),
               uc = static_cast<std::size_t>(c);
    const Vector3 face = Cross(p[ub] - p[ua], p[uc] - p[ua]);
    const double area = Norm(face);
    const double scale = std::max({Norm(p[ub] - p[ua]), Norm(p[uc] - p[ua]), 1e-30});
    if (!(area > 1e-7 * scale * scale)) {
      return;
    }
    const Vector3 sum = n[ua] + n[ub] + n[uc];
    const bool flip =
        double{face.x} * sum.x + double{face.y} * sum.y + double{face.z} * sum.z < 0.0;
    const Vector3 facing = flip ? -face : face;
    const std::uint32_t ia = primitive.Vertex(p[ua], UnitNormal(n[ua], facing));
    const std::uint32_t ib = primitive.Vertex(p[ub], UnitNormal(n[ub], facing));
    const std::uint32_t ic = primitive.Vertex(p[uc], UnitNormal(n[uc], facing));
    primitive.indices.push_back(ia);
    if (flip) {
      primitive.indices.push_back(ic);
      primitive.indices.push_back(ib);
    } else {
      primitive.indices.push_back(ib);
      primitive.indices.push_back(ic);
    }
  }

  std::map<MaterialKey, int>& materials_;
  std::vector<Primitive> primitives_;
};

// The BIN chunk and the views and accessors over it.
class BinaryBuilder {
 public:
  // Appends the bytes as one buffer view; returns its index.
  int View(const void* data, std::size_t bytes, int target) {
    const std::size_t offset = bin_.size();
    bin_.resize(offset + bytes);
    if (bytes > 0) {
      std::memcpy(bin_.data() + offset, data, bytes);
    }
    views_.push_back(
        {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}, {"target", target}});
    return static_cast<int>(views_.size()) - 1;
  }

  int Vectors(const std::vector<Vector3>& values, bool bounds) {
    static_assert(sizeof(Vector3) == 3 * sizeof(float));
    const int view = View(values.data(), values.size() * sizeof(Vector3), 34962);
    ordered_json accessor = {
        {"bufferView", view}, {"componentType", 5126}, {"count", values.size()}, {"type", "VEC3"}};
    if (bounds && !values.empty()) {
      std::array<float, 3> lo = {values[0].x, values[0].y, values[0].z};
      std::array<float, 3> hi = lo;
      for (const Vector3& v : values) {
        const std::array<float, 3> c = {v.x, v.y, v.z};
        for (std::size_t i = 0; i < 3; ++i) {
          lo[i] = std::min(lo[i], c[i]);
          hi[i] = std::max(hi[i], c[i]);
        }
      }
      accessor["min"] = {lo[0], lo[1], lo[2]};
      accessor["max"] = {hi[0], hi[1], hi[2]};
    }
    accessors_.push_back(std::move(accessor));
    return static_cast<int>(accessors_.size()) - 1;
  }

  int Indices(const std::vector<std::uint32_t>& values) {
    const int view = View(values.data(), values.size() * sizeof(std::uint32_t), 34963);
    accessors_.push_back({{"bufferView", view},
                          {"componentType", 5125},
                          {"count", values.size()},
                          {"type", "SCALAR"}});
    return static_cast<int>(accessors_.size()) - 1;
  }

  std::vector<unsigned char>& Bin() { return bin_; }
  ordered_json& Views() { return views_; }
  ordered_json& Accessors() { return accessors_; }

 private:
  std::vector<unsigned char> bin_;
  ordered_json views_ = ordered_json::array();
  ordered_json accessors_ = ordered_json::array();
};

static_assert(std::endian::native == std::endian::little,
              "the BIN chunk is written from memory; glTF is little-endian");

void PutWord(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
  }
}

}  // namespace

bool WriteGlb(const ExportScene& scene, const std::string& path, int frame,
              const SubdivisionSettings& subdivision, std::string* reason) {
  const auto fail = [&](std::string why) {
    if (reason) {
      *reason = std::move(why);
    }
    return false;
  };
  const std::size_t count = scene.nodes.size();
  ordered_json nodes = ordered_json::array();
  ordered_json meshes = ordered_json::array();
  ordered_json topNodes = ordered_json::array();
  std::map<MaterialKey, int> materials;
  BinaryBuilder binary;
  // Where each node's glTF frame stands in the world: its world transform
  // when the node carries its own local matrix, its parent's when the node
  // could not (its mesh is then baked into the parent's frame).
  std::vector<Affine> placed(count);
  std::vector<ordered_json> children(count, ordered_json::array());

  for (std::size_t i = 0; i < count; ++i) {
    const ExportNode& node = scene.nodes[i];
    const bool hasParent = node.parent >= 0 && static_cast<std::size_t>(node.parent) < i;
    const Affine parent = hasParent ? placed[static_cast<std::size_t>(node.parent)] : Affine{};
    const Affine world = FromTransform(node.world);
    const Affine local = Compose(Inverted(parent), world);
    ordered_json out = {{"name", node.name}};
    Transform bake = Transform::Identity();
    if (SplitsIntoTrs(local)) {
      placed[i] = world;
      if (!IsIdentity(local)) {
        out["matrix"] = ColumnMajor(local);
      }
    } else {
      placed[i] = parent;
      bake = ToTransform(local);
    }

    if (node.segment >= 0 && static_cast<std::size_t>(node.segment) < scene.scene.segments.size()) {
      const SceneSegment& s = scene.scene.segments[static_cast<std::size_t>(node.segment)];
      MeshCollector collector(materials);
      TessellationTargets targets;
      targets.zBuffer = &collector;
      const MaterialLookup lookup = [&s](const std::string& materialPath) -> const Material* {
        const auto it = s.patchMaterials.find(materialPath);
        return it == s.patchMaterials.end() ? nullptr : it->second.get();
      };
      const int code =
          DrawSegmentPatches(*s.segment, bake, 0, s.material.get(), lookup, subdivision, targets);
      if (code == render_error::kAborted) {
        return fail(kGlbStopped);
      }
      if (code != 0) {
        return fail("the patches could not be tessellated (error " + std::to_string(code) + ")");
      }
      ordered_json primitives = ordered_json::array();
      for (Primitive& p : collector.Primitives()) {
        if (p.indices.empty()) {
          continue;
        }
        const int position = binary.Vectors(p.positions, true);
        const int normal = binary.Vectors(p.normals, false);
        const int indices = binary.Indices(p.indices);
        primitives.push_back({{"attributes", {{"POSITION", position}, {"NORMAL", normal}}},
                              {"indices", indices},
                              {"material", p.material},
                              {"mode", 4}});
      }
      if (!primitives.empty()) {
        out["mesh"] = meshes.size();
        meshes.push_back({{"name", node.name}, {"primitives", primitives}});
      }
    }
    nodes.push_back(std::move(out));
    if (hasParent) {
      children[static_cast<std::size_t>(node.parent)].push_back(i);
    } else {
      topNodes.push_back(i);
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!children[i].empty()) {
      nodes[i]["children"] = children[i];
    }
  }

  ordered_json gltf;
  gltf["asset"] = {{"version", "2.0"}, {"generator", "Zentrope Studio"}};
  gltf["scene"] = 0;
  ordered_json sceneJson = {{"name", "frame"}};
  if (!topNodes.empty()) {
    sceneJson["nodes"] = topNodes;
  }
  gltf["scenes"] = ordered_json::array({sceneJson});
  if (!nodes.empty()) {
    gltf["nodes"] = nodes;
  }
  if (!meshes.empty()) {
    gltf["meshes"] = meshes;
  }
  if (!materials.empty()) {
    ordered_json list = ordered_json::array();
    for (std::size_t m = 0; m < materials.size(); ++m) {
      list.push_back(nullptr);
    }
    for (const auto& [key, number] : materials) {
      list[static_cast<std::size_t>(number)] = {
          {"name", key.name},
          {"pbrMetallicRoughness",
           {{"baseColorFactor", {key.rgb[0], key.rgb[1], key.rgb[2], 1.0}},
            {"metallicFactor", 0.0},
            {"roughnessFactor", 0.8}}}};
    }
    gltf["materials"] = list;
  }
  std::vector<unsigned char>& bin = binary.Bin();
  if (!bin.empty()) {
    gltf["accessors"] = binary.Accessors();
    gltf["bufferViews"] = binary.Views();
    gltf["buffers"] = ordered_json::array({{{"byteLength", bin.size()}}});
  }

  std::string json = gltf.dump();
  json.append((4 - json.size() % 4) % 4, ' ');
  bin.resize(bin.size() + (4 - bin.size() % 4) % 4, 0);
  const std::size_t total = 12 + 8 + json.size() + (bin.empty() ? 0 : 8 + bin.size());
  if (total > std::numeric_limits<std::uint32_t>::max()) {
    return fail("the scene is too large for one binary glTF file (4 GiB)");
  }
  std::vector<unsigned char> header;
  PutWord(header, 0x46546C67);  // "glTF"
  PutWord(header, 2);
  PutWord(header, static_cast<std::uint32_t>(total));
  PutWord(header, static_cast<std::uint32_t>(json.size()));
  PutWord(header, 0x4E4F534A);  // "JSON"

  ExportFile file;
  const std::string target = frame < 0 ? path : ExportFileName(path, frame, ".glb");
  if (!file.Open(target)) {
    return fail(file.Reason());
  }
  std::FILE* out = file.Stream();
  std::fwrite(header.data(), 1, header.size(), out);
  std::fwrite(json.data(), 1, json.size(), out);
  if (!bin.empty()) {
    std::vector<unsigned char> chunk;
    PutWord(chunk, static_cast<std::uint32_t>(bin.size()));
    PutWord(chunk, 0x004E4942);  // "BIN"
    std::fwrite(chunk.data(), 1, chunk.size(), out);
    std::fwrite(bin.data(), 1, bin.size(), out);
  }
  if (!file.Commit()) {
    return fail(file.Reason());
  }
  return true;
}

}  // namespace zentrope
