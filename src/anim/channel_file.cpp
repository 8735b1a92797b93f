// Channel set records.
#include "anim/channel_file.h"

#include <cmath>

#include "anim/channel_kinds.h"
#include "core/spline.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

constexpr int kLinesPerKey = 4;

bool ReadBiasLine(TextReader& r, Bias& bias) {
  float a = 0.0f, g = 0.0f, m = 1.0f;
  int fields = 0;
  if (!r.ScanLine(1, &fields, "%f %f %f", &a, &g, &m)) {
    return false;
  }
  if (fields < 3) {
    g = 0.0f;  // "0", or a line this program never writes: Alpha only
    m = 1.0f;
  }
  if (!std::isfinite(a) || !std::isfinite(g) || !std::isfinite(m)) {
    r.Fail("bias is not a number");
    return false;
  }
  bias = {a, g, m};
  return true;
}

void WriteBiasLine(TextWriter& w, const Bias& b) {
  if (b == kNeutralBias) {
    w.Line("0");
  } else {
    w.Line("%g %g %g", static_cast<double>(b.alpha), static_cast<double>(b.gamma),
           static_cast<double>(b.magnitude));
  }
}

Failure ChannelFailure(const TextReader& r, int messageId = str::kTroubleOpeningChannel) {
  return {LoadString(messageId), r.Error()};
}

}  // namespace

bool ReadKeyList(TextReader& r, ChannelSet& set, Channel& channel, float frameScale,
                 float valueScale) {
  return ReadKeyList(r, set.Arena(), channel.keys, frameScale, valueScale);
}

bool ReadKeyList(TextReader& r, PointArena& arena, ControlPoint*& first, float frameScale,
                 float valueScale) {
  short count = 0;
  if (!r.ScanLine(1, nullptr, "%hd", &count)) {
    return false;
  }
  if (count < 0 || static_cast<std::size_t>(count) * kLinesPerKey > r.LinesRemaining()) {
    r.Fail("impossible key count " + std::to_string(count));
    return false;
  }
  ControlPoint* last = nullptr;
  for (int i = 0; i < count; ++i) {
    short flags = 0;
    Vector3 p;
    Bias in, out;
    if (!r.ScanLine(1, nullptr, "%hd", &flags) ||
        !r.ScanLine(3, nullptr, "%f %f %f", &p.x, &p.y, &p.z) || !ReadBiasLine(r, in) ||
        !ReadBiasLine(r, out)) {
      return false;
    }
    p.x *= frameScale;
    p.y *= valueScale;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      r.Fail("key is not a number");
      return false;
    }
    ControlPoint* k = arena.Create();
    if (!k) {
      r.Fail("out of memory");
      return false;
    }
    k->flags = static_cast<std::uint16_t>(flags) & static_cast<std::uint16_t>(~kPointEditingFlags);
    k->position = p;
    k->SetInBias(in);
    k->SetOutBias(out);
    k->number = NextKeySerial();
    k->prev = last;
    if (last) {
      last->next = k;
    } else {
      first = k;
    }
    last = k;
    if (k->ClosesLoop()) {
      if (k != first) {
        k->next = first;
        first->prev = k;
      } else {
        k->Set(kPointLoopClosing, false);
      }
      break;
    }
  }
  ComputeSplineTangents(first);
  return true;
}

void WriteKeyList(TextWriter& w, const ControlPoint* first) {
  short count = 0;
  for (const ControlPoint* k = first; k; k = NextInTraversal(k)) {
    ++count;
  }
  w.Line("%hd", count);
  for (const ControlPoint* k = first; k; k = NextInTraversal(k)) {
    w.Line("%hd", static_cast<short>(k->flags & ~kPointEditingFlags));
    w.Line("%g %g %g", static_cast<double>(k->position.x), static_cast<double>(k->position.y),
           static_cast<double>(k->position.z));
    WriteBiasLine(w, k->InBias());
    WriteBiasLine(w, k->OutBias());
  }
}

bool ReadNamedKeyList(TextReader& r, ChannelSet& set, std::string& name, Channel& channel) {
  return r.Next(name) && ReadKeyList(r, set, channel);
}

void WriteNamedKeyList(TextWriter& w, const std::string& name, const ControlPoint* first) {
  w.Line("%s", name.c_str());
  WriteKeyList(w, first);
}

Result<std::unique_ptr<ChannelSet>> ReadChannelSet(TextReader& r, const ReferenceLookup& lookup) {
  std::unique_ptr<ChannelSet> first;
  ChannelSet* tail = nullptr;
  std::vector<ChannelSet*> chain;
  for (;;) {
    std::string line;
    if (!r.Next(line)) {
      return ChannelFailure(r);
    }
    short v[5] = {};
    const int fields = ScanText(line, "%hd %hd %hd %hd %hd", &v[0], &v[1], &v[2], &v[3], &v[4]);
    int version;
    float frameScale = 1.0f, valueDivisor = 1.0f;
    if (fields == 5) {
      version = 0;
      frameScale = v[2] != 0 ? 1.0f / static_cast<float>(v[2]) : 1.0f;
      valueDivisor = v[4] != 0 ? static_cast<float>(v[4]) : 1.0f;
    } else if (fields == 3) {
      version = v[2];
    } else {
      r.Fail("channel set line with " + std::to_string(fields) + " fields");
      return ChannelFailure(r);
    }
    if (version >= 3) {
      r.Fail("channel set version " + std::to_string(version));
      return ChannelFailure(r, str::kRequiresNewerSoftware);
    }
    if (v[0] < 0 || v[0] > 255 || static_cast<std::size_t>(v[0]) > r.LinesRemaining()) {
      r.Fail("impossible channel count " + std::to_string(v[0]));
      return ChannelFailure(r);
    }
    const auto kind = static_cast<std::uint8_t>(v[1]);
    auto set = std::make_unique<ChannelSet>(std::string(), static_cast<std::uint8_t>(v[0]), kind,
                                            KindDefaults(kind));
    if (version == 2) {
      short place[4] = {};
      long reserved = 0;
      if (!r.ScanLine(9, nullptr, "%hd %hd %hd %hd %ld %f %f %f %f", &place[0], &place[1],
                      &place[2], &place[3], &reserved, &set->view[0], &set->view[1], &set->view[2],
                      &set->view[3])) {
        return ChannelFailure(r);
      }
      for (int i = 0; i < 4; ++i) {
        set->placement[i] = place[i];
      }
      set->reserved = static_cast<std::int32_t>(reserved);
    }
    std::string referenceName;
    if (!r.Next(set->name) || !r.Next(referenceName)) {
      return ChannelFailure(r);
    }
    set->referenceName = referenceName == "dummypathname" ? std::string() : referenceName;
    for (Channel& c : set->channels) {
      short flags = 0, multiplier = 1, ignored = 0;
      float valueScale = 1.0f;
      if (version == 0 && fields == 5) {
        if (!r.ScanLine(3, nullptr, "%hd %hd %hd", &flags, &multiplier, &ignored)) {
          return ChannelFailure(r);
        }
        valueScale = static_cast<float>(multiplier) / valueDivisor;
      } else if (!r.ScanLine(1, nullptr, "%hd", &flags)) {
        return ChannelFailure(r);
      }
      c.flags = static_cast<std::uint16_t>(flags);
      if (!ReadKeyList(r, *set, c, frameScale, valueScale)) {
        return ChannelFailure(r);
      }
    }
    short more = 0;
    if (!r.ScanLine(1, nullptr, "%hd", &more)) {
      return ChannelFailure(r);
    }
    ChannelSet* raw = set.get();
    if (!first) {
      first = std::move(set);
    } else {
      tail->next = std::move(set);
    }
    tail = raw;
    chain.push_back(raw);
    if (more != 1) {
      break;
    }
  }
  if (lookup) {
    for (ChannelSet* s : chain) {
      if (!s->referenceName.empty()) {
        s->reference = lookup(s->referenceName);
      }
    }
  }
  return first;
}

void WriteChannelSet(TextWriter& w, const ChannelSet& first) {
  for (const ChannelSet* set = &first; set; set = set->next.get()) {
    w.Line("%hd %hd %hd", static_cast<short>(set->Count()), static_cast<short>(set->kind),
           static_cast<short>(kChannelSetVersion));
    w.Line("%hd %hd %hd %hd %ld %g %g %g %g", set->placement[0], set->placement[1],
           set->placement[2], set->placement[3], static_cast<long>(set->reserved),
           static_cast<double>(set->view[0]), static_cast<double>(set->view[1]),
           static_cast<double>(set->view[2]), static_cast<double>(set->view[3]));
    w.Line("%s", set->name.c_str());
    w.Line("%s", set->referenceName.empty() ? "dummypathname" : set->referenceName.c_str());
    for (const Channel& c : set->channels) {
      w.Line("%hd", static_cast<short>(c.flags));
      WriteKeyList(w, c.keys);
    }
    w.Line("%hd", static_cast<short>(set->next ? 1 : 0));
  }
}

bool IsNewerSoftware(const Failure& failure) {
  return failure.message == LoadString(str::kRequiresNewerSoftware);
}

}  // namespace zentrope
