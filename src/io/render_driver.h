// The render driver: renders a range of frames of a choreography (as the
// direction window's camera sees it) or of one action on one figure (the
// skeletal window's case) and writes each frame as a Targa or PNG picture,
// an AVI movie frame, a DXF, OBJ or glTF file, or a frame of a QTM file.
// Frames are posed, rendered and handed to a writer that runs while the
// next frame renders; the caller watches through RenderProgress.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/vector3.h"
#include "io/avi_compression.h"
#include "render/render_settings.h"
#include "render/tessellation.h"
#include "render/zbuffer.h"

namespace zentrope {

// What a range is written as.
enum class DriverFormat { kTarga, kPng, kAvi, kDxf, kQtm, kObj, kGlb };

// "tga", "png", "avi", "dxf", "qtm", "obj", "glb"; nothing for other words.
std::optional<DriverFormat> DriverFormatNamed(const std::string& word);
const char* DriverFormatWord(DriverFormat format);
// By the name's extension, whatever its case; a name without one of the
// known extensions is a Targa sequence.
DriverFormat DriverFormatForOutput(const std::string& outputName);
// One file per frame (pictures and geometry) rather than one for the range.
bool FramePerFile(DriverFormat format);

// The window the frames come from: the direction window renders a
// choreography through its camera, with its lights; the skeletal window
// renders one action on one figure with the Front view and the default
// light.
enum class RenderWindow { kDirection = 3, kSkeletal = 6 };

// The selected rectangle of the window (inclusive corners, in the window's
// pixels): OutputMode "SELECTION" renders exactly it.
struct SelectionRect {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int Width() const { return x2 - x1 + 1; }
  int Height() const { return y2 - y1 + 1; }
};

struct RenderJob {
  RenderWindow window = RenderWindow::kDirection;
  std::string document;       // the .cho, or the figure of an action render
  std::string action;         // the action of the skeletal window
  std::vector<float> frames;  // the frames to render, in order

  RenderMode mode = RenderMode::kZBuffer;
  Shading shading = Shading::kGouraud;
  bool shadows = false;
  bool reflections = false;
  AntiAlias antiAlias = AntiAlias::kNone;
  bool showDecals = true;
  bool frameNumber = false;  // stamp the frame number
  // Towards the default light, in the view's axes: the z-buffer's light,
  // and the raytracer's outside the direction window.
  Vector3 defaultLight{0.0f, 0.0f, -1.0f};

  int width = 320;  // the window's size (the output size unless a selection)
  int height = 240;
  std::optional<SelectionRect> selection;

  DriverFormat format = DriverFormat::kTarga;
  std::string outputName;
  int frameRate = 30;
  AviCompression compression;
  SubdivisionSettings subdivision;
  int threads = 0;            // 0: every core the process may use
  bool skipExisting = false;  // leave frames whose file is complete
};

// The file a frame goes to: the numbered picture or geometry file, or the
// movie or QTM file of the range.
std::string FrameOutputFile(const RenderJob& job, float frame);
// The render window's title for a frame.
std::string RenderWindowTitle(const RenderJob& job, float frame);

struct FrameDone {
  int index = 0;  // in job.frames
  float frame = 0.0f;
  std::string file;
  double seconds = 0.0;  // posing, rendering and writing it
  bool skipped = false;  // its file was already complete
  // The frame's picture as written (picture formats and movies), for a
  // window that shows frames as they finish; valid only during the call.
  const Picture* picture = nullptr;
};

// Where a range's time went, in milliseconds. Writing overlaps the next
// frame's rendering; waiting is the time the loop stood still for a write.
struct RenderTimes {
  double evaluation = 0.0;    // frames evaluated and posed, patches found
  double tessellation = 0.0;  // patches cut into pieces and set up
  double rendering = 0.0;     // pieces drawn, rays traced, lines drawn
  double writing = 0.0;       // files and movie frames written
  double waiting = 0.0;
  double total = 0.0;
};

class RenderProgress {
 public:
  virtual ~RenderProgress() = default;
  // A frame starts (index of count). The title is the render window's:
  // "RENDER: " and the numbered file for a picture sequence, else "RENDER: "
  // the output name, " Frame: " and the frame.
  virtual void FrameStarted(int /*index*/, int /*count*/, float /*frame*/,
                            const std::string& /*title*/) {}
  // A frame's file is complete (or was left as it was).
  virtual void FrameFinished(const FrameDone& /*done*/, int /*count*/) {}
  // A document the frames need could not be read: said once per file.
  virtual void Warning(const std::string& /*text*/) {}
  // Polled between frames: Escape ends the range after the current frame.
  virtual bool StopRequested() { return false; }
};

struct RenderOutcome {
  int messageId = 0;   // 0, or the message: 3, 60, 566, 246, 107, 111
  std::string detail;  // the file and the system's reason
  bool stopped = false;
  int rendered = 0;
  int skipped = 0;
  std::vector<std::string> files;     // put in place, in order
  std::vector<std::string> problems;  // documents that could not be read, once each
  RenderTimes times;
  bool ok() const { return messageId == 0 && !stopped; }
};

// The frame loop: prepares the renderer, then for each frame of the job
// (until Escape) poses the scene, renders or exports it and writes it;
// finally closes a movie or QTM file and removes its working pictures.
RenderOutcome render_frames(const RenderJob& job, RenderProgress& progress);

// One frame with the quick-render look: the picture is returned, not
// written (the window shows it).
struct QuickRender {
  RenderOutcome outcome;
  Picture picture;
};
QuickRender quick_render(const RenderJob& job, float frame, RenderProgress& progress);

// The files the job's frames go to that are not complete yet, by frame.
std::vector<float> MissingFrames(const RenderJob& job);

// Every document the job reaches that cannot be found or read ("DOC:LINE:
// cannot find NAME"), for a render that must not go ahead without them.
std::vector<std::string> MissingDocuments(const RenderJob& job);

}  // namespace zentrope
