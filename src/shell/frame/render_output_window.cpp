// Render output windows.
#include "shell/frame/render_output_window.h"

#include <imgui.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "image/image.h"
#include "image/image_file.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// The picture a written frame file holds (frame ≥ 1 picks a movie's frame).
std::optional<Picture> ReadBack(const std::string& file, int frame) {
  Image image;
  image.fileName = file;
  std::string error;
  if (!LoadImage(image, frame, 0, &error) || !image.HasPixels()) {
    return std::nullopt;
  }
  Picture picture;
  picture.Reset(image.width, image.height);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Pixel p = ImagePixel(image, x, y);
      std::uint8_t* out = picture.bgr.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
      out[0] = p.c0;
      out[1] = p.c1;
      out[2] = p.c2;
    }
  }
  return picture;
}

bool IsMovie(const std::string& file) {
  std::string ext = std::filesystem::path(file).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".avi";
}

int NextSerial() {
  static int serial = 0;
  return ++serial;
}

}  // namespace

RenderOutputWindow::RenderOutputWindow(std::string title)
    : serial_(NextSerial()), title_(std::move(title)) {}

void RenderOutputWindow::Show(Picture picture, const std::string& title) {
  picture_ = std::move(picture);
  upload_ = true;
  shown_ = true;
  if (!title.empty()) {
    title_ = title;
  }
}

void RenderOutputWindow::Finish(RenderTask::Finished done) {
  finished_ = true;
  if (!done.title.empty()) {
    title_ = done.title;
  }
  const RenderOutcome& o = done.outcome;
  if (o.messageId != 0) {
    failed_ = true;
    note_ = LoadString(o.messageId) + (o.detail.empty() ? "" : ": " + o.detail);
  } else if (o.stopped) {
    note_ =
        "Stopped after " + std::to_string(o.rendered) + (o.rendered == 1 ? " frame." : " frames.");
  } else if (!done.quick) {
    note_ = "Rendered " + std::to_string(o.rendered) + (o.rendered == 1 ? " frame" : " frames") +
            (o.files.empty() ? std::string() : " to " + o.files.back());
  }
  for (const std::string& p : o.problems) {
    note_ += (note_.empty() ? "" : "\n") + p;
  }
  if (done.picture) {
    Show(std::move(*done.picture), {});
  } else if (!done.lastFile.empty() && (!shown_ || IsMovie(done.lastFile))) {
    // A movie's samples are numbered from 1 in the order they were written.
    const int frame = IsMovie(done.lastFile) ? std::max(o.rendered, 1) : -1;
    if (std::optional<Picture> back = ReadBack(done.lastFile, frame)) {
      Show(std::move(*back), {});
    }
  }
}

void RenderOutputWindow::Draw() {
  if (!open_) {
    return;
  }
  if (upload_ && picture_.width > 0) {
    texture_.Upload(picture_);
    upload_ = false;
  }
  // Sized to the picture when it first arrives (and whenever its size
  // changes); the user's own sizing is kept otherwise.
  if (picture_.width != sizedWidth_ || picture_.height != sizedHeight_) {
    sizedWidth_ = picture_.width;
    sizedHeight_ = picture_.height;
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(std::max(picture_.width, 240) + 16),
                                    static_cast<float>(std::max(picture_.height, 60) + 64)));
  }
  const std::string title = title_ + "###render" + std::to_string(serial_);
  if (ImGui::Begin(title.c_str(), &open_, ImGuiWindowFlags_HorizontalScrollbar)) {
    if (!finished_) {
      ImGui::TextUnformatted("Rendering...");
    } else if (!note_.empty()) {
      ImGui::TextWrapped("%s", note_.c_str());
    }
    if (texture_.width() > 0) {
      ImGui::Image(texture_.Id(), ImVec2(static_cast<float>(texture_.width()),
                                         static_cast<float>(texture_.height())));
    }
  }
  ImGui::End();
}

}  // namespace zentrope
