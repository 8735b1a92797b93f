// Reading and writing material and particle material files.
#include "material/material_file.h"

#include <filesystem>

#include "anim/channel_file.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// Why a read stopped: the message the user sees and the reader's
// "file:line: what".
struct ReadTrouble {
  int message = str::kTroubleOpeningMaterial;
  std::string detail;
};

Failure MaterialFailure(const ReadTrouble& trouble) {
  log_line(trouble.detail);
  return Failure{LoadString(trouble.message), trouble.detail};
}

// The header: a first word that passes tagOk and seven fields; a version
// above the channel-format version this program writes is newer software.
bool ReadMaterialHeader(TextReader& r, bool particle, int& version, ReadTrouble& trouble) {
  std::string line;
  if (!r.Next(line)) {
    trouble.detail = r.Error();
    return false;
  }
  char word[256] = {};
  short v = 0, a = 0, b = 0, c = 0, d = 0, e = 0;
  const bool parsed =
      ScanText(line, "%255s %hd %hd %hd %hd %hd %hd", word, &v, &a, &b, &c, &d, &e) == 7;
  const bool tagOk =
      particle ? std::string_view(word) == kParticleMaterialTag : IsMaterialTag(word);
  if (!parsed || !tagOk) {
    r.Fail(particle ? "not an IMAT document" : "not a MATE document");
    trouble.detail = r.Error();
    return false;
  }
  if (v > kChannelSetVersion || v < 0) {
    r.Fail("material version " + std::to_string(v));
    trouble = {v > kChannelSetVersion ? str::kRequiresNewerSoftware : str::kTroubleOpeningMaterial,
               r.Error()};
    return false;
  }
  version = v;
  return true;
}

// A channel set record with the table of its owner.
std::unique_ptr<ChannelSet> ReadOwnedSet(TextReader& r, std::span<const float> defaults,
                                         ReadTrouble& trouble) {
  Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(r);
  if (!set) {
    trouble = {
        IsNewerSoftware(set.failure()) ? str::kRequiresNewerSoftware : str::kTroubleOpeningMaterial,
        set.failure().detail};
    return nullptr;
  }
  (*set)->defaults = defaults;
  return std::move(*set);
}

bool ReadFlag(TextReader& r, short& flag, ReadTrouble& trouble) {
  if (!r.ScanLine(1, nullptr, "%hd", &flag)) {
    trouble.detail = r.Error();
    return false;
  }
  return true;
}

std::unique_ptr<MaterialNode> ReadNode(TextReader& r, int depth, MaterialNode* parent,
                                       ReadTrouble& trouble) {
  if (depth >= kMaxMaterialDepth) {
    r.Fail("material tree deeper than " + std::to_string(kMaxMaterialDepth) + " levels");
    trouble.detail = r.Error();
    return nullptr;
  }
  short type = 0, flags = 0;
  if (!ReadFlag(r, type, trouble)) {
    return nullptr;
  }
  if (!IsMaterialNodeCode(type)) {
    r.Fail("unknown material node type " + std::to_string(type));
    trouble.detail = r.Error();
    return nullptr;
  }
  if (!ReadFlag(r, flags, trouble)) {
    return nullptr;
  }
  auto node = std::make_unique<MaterialNode>();
  node->kind = static_cast<NodeKind>(type);
  node->flags = flags;
  node->parent = parent;
  node->channels = ReadOwnedSet(r, NodeDefaults(node->kind), trouble);
  if (!node->channels) {
    return nullptr;
  }
  if (node->kind == NodeKind::kChecker || node->kind == NodeKind::kSpherical) {
    short turbulent = 0;
    if (!ReadFlag(r, turbulent, trouble)) {
      return nullptr;
    }
    if (turbulent != 0) {
      node->turbulence = std::make_unique<TurbulenceRecord>();
      node->turbulence->channels = ReadOwnedSet(r, kTurbulenceDefaults, trouble);
      if (!node->turbulence->channels) {
        return nullptr;
      }
    }
  }
  for (std::unique_ptr<MaterialNode>* child : {&node->first, &node->second}) {
    short present = 0;
    if (!ReadFlag(r, present, trouble)) {
      return nullptr;
    }
    if (present != 0) {
      *child = ReadNode(r, depth + 1, node.get(), trouble);
      if (!*child) {
        return nullptr;
      }
    }
  }
  return node;
}

std::int16_t TypeCode(NodeKind kind) {
  return static_cast<std::int16_t>(kind);
}

// The node's channel set, or an empty one of its kind when it has none.
void WriteOwnedSet(TextWriter& w, const ChannelSet* set, const std::string& name, std::uint8_t kind,
                   std::span<const float> defaults) {
  if (set) {
    WriteChannelSet(w, *set);
    return;
  }
  const std::unique_ptr<ChannelSet> empty =
      CreateChannelSet(name, static_cast<std::uint8_t>(defaults.size()), kind, defaults);
  WriteChannelSet(w, *empty);
}

// Depth-first, the first child before the second. The depth is bounded as
// the reader's is, so a tree built in memory cannot overflow the stack.
void WriteNode(TextWriter& w, const MaterialNode& node, int depth) {
  if (depth >= kMaxMaterialDepth) {
    w.Fail("material tree deeper than " + std::to_string(kMaxMaterialDepth) + " levels");
    return;
  }
  w.Line("%hd", TypeCode(node.kind));
  w.Line("%hd", node.flags);
  WriteOwnedSet(w, node.channels.get(), node.name,
                node.kind == NodeKind::kAttribute ? kAttributeNodeKind : kPatternNodeKind,
                NodeDefaults(node.kind));
  if (node.kind == NodeKind::kChecker || node.kind == NodeKind::kSpherical) {
    w.Line("%hd", static_cast<short>(node.turbulence ? 1 : 0));
    if (node.turbulence) {
      WriteOwnedSet(w, node.turbulence->channels.get(), "turbulence", kPatternNodeKind,
                    kTurbulenceDefaults);
    }
  }
  for (const MaterialNode* child : {node.first.get(), node.second.get()}) {
    w.Line("%hd", static_cast<short>(child ? 1 : 0));
    if (child) {
      WriteNode(w, *child, depth + 1);
    }
  }
}

}  // namespace

bool IsMaterialTag(std::string_view tag) {
  return tag.substr(0, 4) == kMaterialTag;
}

Result<Material> ParseMaterial(std::string contents, const std::string& name) {
  TextReader r(std::move(contents), name);
  ReadTrouble trouble;
  Material material;
  material.name = name;
  if (!ReadMaterialHeader(r, /*particle=*/false, material.version, trouble)) {
    return MaterialFailure(trouble);
  }
  material.root = ReadNode(r, 0, nullptr, trouble);
  if (!material.root) {
    return MaterialFailure(trouble);
  }
  if (!r.ExpectEnd()) {
    return MaterialFailure({str::kTroubleOpeningMaterial, r.Error()});
  }
  material.root->name = name;
  EvaluateChannels(*material.root, 1.0f);
  return material;
}

Result<Material> ReadMaterialFile(const std::string& name) {
  std::string contents, error;
  if (!LoadDocumentText(name, contents, &error)) {
    return MaterialFailure({str::kTroubleOpeningMaterial, error});
  }
  return ParseMaterial(std::move(contents), name);
}

Result<Material> ParseParticleMaterial(std::string contents, const std::string& name) {
  TextReader r(std::move(contents), name);
  ReadTrouble trouble;
  Material material;
  material.name = name;
  if (!ReadMaterialHeader(r, /*particle=*/true, material.version, trouble)) {
    return MaterialFailure(trouble);
  }
  short type = 0, flags = 0;
  if (!ReadFlag(r, type, trouble)) {
    return MaterialFailure(trouble);
  }
  if (type != TypeCode(NodeKind::kParticle)) {
    r.Fail("particle material type " + std::to_string(type));
    return MaterialFailure({str::kTroubleOpeningMaterial, r.Error()});
  }
  if (!ReadFlag(r, flags, trouble)) {
    return MaterialFailure(trouble);
  }
  auto node = std::make_unique<MaterialNode>();
  node->kind = NodeKind::kParticle;
  node->name = "default";
  node->flags = flags;
  node->channels = ReadOwnedSet(r, kParticleDefaults, trouble);
  if (!node->channels) {
    return MaterialFailure(trouble);
  }
  if (!r.ExpectEnd()) {
    return MaterialFailure({str::kTroubleOpeningMaterial, r.Error()});
  }
  material.root = std::move(node);
  EvaluateChannels(*material.root, 1.0f);
  return material;
}

Result<Material> ReadParticleMaterialFile(const std::string& name) {
  const std::string path = std::filesystem::path(name).replace_extension(".mat").string();
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    return MaterialFailure({str::kTroubleOpeningMaterial, error});
  }
  return ParseParticleMaterial(std::move(contents), path);
}

Result<Material> ReadAnyMaterialFile(const std::string& name) {
  std::string contents, error;
  if (!LoadDocumentText(name, contents, &error)) {
    return MaterialFailure({str::kTroubleOpeningMaterial, error});
  }
  char word[256] = {};
  if (ScanText(contents.substr(0, contents.find('\n')), "%255s", word) == 1 &&
      std::string_view(word) == kParticleMaterialTag) {
    return ParseParticleMaterial(std::move(contents), name);
  }
  return ParseMaterial(std::move(contents), name);
}

SaveStatus WriteMaterialFile(const Material& material, const std::string& name,
                             std::string* detail) {
  if (!material.root) {
    if (detail) {
      *detail = "material without nodes";
    }
    return SaveStatus::kWriteError;
  }
  const bool particle = material.Particle();
  return WriteDocument(
      name, particle ? kParticleMaterialTag : kMaterialTag, kMaterialVersion,
      [&](TextWriter& w, const std::filesystem::path&) {
        if (particle) {
          const MaterialNode& node = *material.root;
          w.Line("%hd", TypeCode(node.kind));
          w.Line("%hd", node.flags);
          WriteOwnedSet(w, node.channels.get(), node.name, kParticleMaterialKind,
                        kParticleDefaults);
        } else {
          WriteNode(w, *material.root, 0);
        }
      },
      detail, /*reservedLine=*/false);
}

}  // namespace zentrope
