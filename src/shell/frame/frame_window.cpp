// The frame window on SDL2, OpenGL and Dear ImGui.
#include "shell/frame/frame_window.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <backends/imgui_impl_opengl2.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "render/picture_file.h"
#include "shell/frame/document_window.h"
#include "shell/frame/frame_commands.h"
#include "shell/frame/render_output_window.h"
#include "shell/frame/window_placement.h"
#include "shell/interrupt.h"
#include "shell/settings.h"
#include "shell/string_table.h"
#include "shell/version.h"

extern char** environ;

namespace zentrope {

namespace {

// The interface font: a variable-pitch sans-serif face 12 points high when
// the machine has one, the interface library's own otherwise.
constexpr const char* kFontFiles[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
};
constexpr float kFontPixels = 13.0f;
constexpr float kToolPanelWidth = 110.0f;

// Starts a program without waiting for it; false when it cannot be started
// or ends at once with a failure (xdg-open says so when nothing can show
// the file).
bool Launch(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
    return false;
  }
  int status = 0;
  // xdg-open hands the file to the viewer and returns: its status says
  // whether one was found.
  for (int i = 0; i < 200; ++i) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    SDL_Delay(10);
  }
  return true;  // still running: a viewer took it
}

class FrameApp {
 public:
  explicit FrameApp(const FrameOptions& options) : options_(options) {}
  ~FrameApp();
  int Run();

 private:
  void Trace(int step, const char* what) const {
    if (options_.traceStartUp) {
      std::cerr << "start-up: " << step << ' ' << what << '\n';
    }
  }
  bool CreateFrame();
  void RestorePlacement();
  void Loop();
  void DrawFrame();
  void DrawMenuBar();
  void MenuCommand(int id, bool enabled = true, bool* checked = nullptr);
  void Command(int id);
  void DrawToolStrip();
  void DrawStatusLine();
  void DrawPanels();
  void DrawDialogs();
  void DrawRenderOutputWindows();
  void ShortcutKeys();
  void OpenDocument(const std::string& path, const std::string& action = {});
  void Tile(bool vertically);
  void Cascade();
  void RequestClose();
  void FinishClose();
  bool TakeScreenshot(const std::string& path);
  // A message box in the frame, and on standard error as the program's
  // other messages are.
  void ShowMessage(const std::string& text) {
    message_box(text);
    messageText_ = text;
    messagePending_ = true;
  }
  DocumentWindow* Active();
  ImVec4 ClientRect() const;  // x, y, w, h

  FrameOptions options_;
  SDL_Window* window_ = nullptr;
  SDL_GLContext gl_ = nullptr;
  bool imgui_ = false;
  bool backends_ = false;
  FrameState state_;
  std::vector<std::unique_ptr<DocumentWindow>> documents_;
  std::vector<std::shared_ptr<RenderOutputWindow>> renders_;
  int activeDocument_ = -1;
  int helpId_ = 0;
  std::string statusText_ = "Ready";
  bool running_ = true;
  bool closing_ = false;
  int closeIndex_ = -1;  // the document whose changes are being asked about
  bool openDialog_ = false, prefsDialog_ = false, aboutDialog_ = false, snapDialog_ = false;
  bool messagePending_ = false;
  std::string messageText_;
  char openPath_[1024] = {};
  char openAction_[1024] = {};
  std::string browseFolder_;
  char snapName_[64] = {};
  std::vector<std::pair<std::string, std::string>> prefs_;  // GLOBAL keys being edited
  int framesDrawn_ = 0;
  int exitStatus_ = 0;
  float menuHeight_ = 0.0f;
  bool maximisedAtStart_ = false;
  bool tilePending_ = false;  // tiled once the frame's layout is known
  int settled_ = 0;           // frames drawn since the last render ended
};

FrameApp::~FrameApp() {
  documents_.clear();
  renders_.clear();
  if (backends_) {
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplSDL2_Shutdown();
  }
  if (imgui_) {
    ImGui::DestroyContext();
  }
  if (gl_) {
    SDL_GL_DeleteContext(gl_);
  }
  if (window_) {
    SDL_DestroyWindow(window_);
  }
  SDL_Quit();
}

int FrameApp::Run() {
  // 1. The window kinds: the display and its windowing layer; the frame's
  // shortcut keys are a fixed table (ShortcutKeys).
  Trace(1, "window kinds");
  if (const std::optional<std::string> why = NoDisplayReason()) {
    std::cerr << "zentrope view: " << *why << '\n';
    return 1;
  }
  // Only a real display will do: without the choice SDL falls back to
  // drawing off-screen, where no one would ever see the frame.
  const char* chosen = std::getenv("SDL_VIDEODRIVER");
  const bool userChose = chosen != nullptr && *chosen != 0;
  const char* display = std::getenv("DISPLAY");
  const bool x11 = display != nullptr && *display != 0;
  if (!userChose) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, x11 ? "x11" : "wayland");
  }
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
    std::cerr << "zentrope view: cannot open the display"
              << (x11 ? std::string(" ") + display : std::string()) << ": " << SDL_GetError()
              << '\n';
    return 1;
  }
  // 2 to 5: project list, memory limit, noise table, temporary folder and
  // the settings.
  StartUpOptions startup = options_.startup;
  int step = 1;
  startup.trace = [&](const char* what) { Trace(++step, what); };
  if (!StartUp(startup)) {
    return 1;
  }
  // Ctrl-C, and SIGTERM when the session ends, close the frame as Exit
  // does (asking about a changed choreography); a second one ends the
  // program at once.
  StopAfterFrame(true);
  ClearStopRequest();
  // 6. The menu (drawn each frame from the command table).
  Trace(6, "menu");
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  imgui_ = true;
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;  // window state lives in zentrope.ini, not imgui.ini
  io.ConfigWindowsMoveFromTitleBarOnly = true;
  // Dialogs answer the keyboard: arrows move, Space presses, Enter types.
  io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
  // 7. The interface font.
  Trace(7, "font");
  for (const char* file : kFontFiles) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec) &&
        io.Fonts->AddFontFromFileTTF(file, kFontPixels) != nullptr) {
      break;
    }
  }
  ImGui::StyleColorsLight();
  ImGui::GetStyle().WindowRounding = 0.0f;
  // 8. The frame with its status line and tool strip.
  Trace(8, "frame window");
  if (!CreateFrame()) {
    return 1;
  }
  // 9. The stored placement and panels.
  Trace(9, "placement and panels");
  RestorePlacement();
  // 10. Show and run.
  Trace(10, "show and run");
  SDL_ShowWindow(window_);
  for (const std::string& file : options_.files) {
    // The action poses the figures among the files.
    OpenDocument(file,
                 ModuleKindFor(file) == ModuleKind::kCharacter ? options_.action : std::string());
  }
  for (const auto& d : documents_) {
    if (options_.view && !d->SetView(*options_.view)) {
      std::cerr << "zentrope view: " << d->path() << ": the " << ViewKindTitle(*options_.view)
                << " view is a choreography's; showing its Front view\n";
    }
    if (options_.frame) {
      d->SetFrame(*options_.frame);
    }
    if (options_.render != FrameOptions::StartRender::kNone) {
      if (d->kind() != ModuleKind::kDirection) {
        std::cerr << "zentrope view: " << d->path()
                  << ": only a choreography renders from its window\n";
        exitStatus_ = 1;
      } else {
        d->Render(options_.render == FrameOptions::StartRender::kQuick);
      }
    }
  }
  Loop();
  return exitStatus_;
}

bool FrameApp::CreateFrame() {
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  window_ = SDL_CreateWindow(
      LoadString(str::kProductName).c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1024,
      768, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI);
  if (!window_) {
    std::cerr << "zentrope view: cannot create the frame window: " << SDL_GetError() << '\n';
    return false;
  }
  gl_ = SDL_GL_CreateContext(window_);
  if (!gl_) {
    std::cerr << "zentrope view: no OpenGL for the frame window: " << SDL_GetError() << '\n';
    return false;
  }
  SDL_GL_MakeCurrent(window_, gl_);
  SDL_GL_SetSwapInterval(options_.quitAfter > 0 ? 0 : 1);
  ImGui_ImplSDL2_InitForOpenGL(window_, gl_);
  ImGui_ImplOpenGL2_Init();
  backends_ = true;
  return true;
}

void FrameApp::RestorePlacement() {
  state_ = ReadFrameState(Settings());
  SDL_Rect bounds{0, 0, 0, 0};
  const bool screen = SDL_GetDisplayUsableBounds(0, &bounds) == 0 && bounds.w > 0 && bounds.h > 0;
  if (state_.placement) {
    const WindowPlacement p =
        screen ? FitPlacement(*state_.placement, {bounds.x, bounds.y, bounds.w, bounds.h})
               : *state_.placement;
    SDL_SetWindowPosition(window_, p.left, p.top);
    SDL_SetWindowSize(window_, p.Width(), p.Height());
    if (p.Maximised()) {
      SDL_MaximizeWindow(window_);
    }
    return;
  }
  // "Bogus": the whole usable screen, maximised where a window manager
  // can do it.
  if (screen) {
    SDL_SetWindowPosition(window_, bounds.x, bounds.y);
    SDL_SetWindowSize(window_, bounds.w, bounds.h);
  }
  SDL_MaximizeWindow(window_);
  maximisedAtStart_ = true;
}

DocumentWindow* FrameApp::Active() {
  if (activeDocument_ < 0 || activeDocument_ >= static_cast<int>(documents_.size())) {
    activeDocument_ = documents_.empty() ? -1 : 0;
  }
  return activeDocument_ < 0 ? nullptr
                             : documents_[static_cast<std::size_t>(activeDocument_)].get();
}

ImVec4 FrameApp::ClientRect() const {
  const ImVec2 size = ImGui::GetIO().DisplaySize;
  const float top = menuHeight_ + kToolStripHeight;
  // A tool panel at the left edge keeps its strip of the client area.
  const PanelState& tools = state_.Of(Panel::kTool);
  const float left = tools.shown && tools.left < 20 ? kToolPanelWidth : 0.0f;
  return ImVec4(left, top, std::max(size.x - left, 1.0f),
                std::max(size.y - top - kStatusLineHeight, 1.0f));
}

void FrameApp::OpenDocument(const std::string& path, const std::string& action) {
  Result<std::unique_ptr<DocumentWindow>> opened = DocumentWindow::Open(path, action);
  if (!opened) {
    const std::string line =
        path + ": " + opened.failure().message +
        (opened.failure().detail.empty() ? "" : " (" + opened.failure().detail + ")");
    std::cerr << "zentrope view: " << line << '\n';
    ShowMessage(line);
    statusText_ = opened.failure().message;
    return;
  }
  for (const std::string& problem : (*opened)->problems()) {
    std::cerr << "zentrope view: " << path << ": " << problem << '\n';
  }
  documents_.push_back(std::move(*opened));
  activeDocument_ = static_cast<int>(documents_.size()) - 1;
  statusText_ = "Opened " + path;
  tilePending_ = true;
}

void FrameApp::Tile(bool vertically) {
  const ImVec4 r = ClientRect();
  const int n = static_cast<int>(documents_.size());
  if (n == 0) {
    return;
  }
  // Tile: a grid as square as the count allows; vertically: side by side.
  int columns = vertically ? n : 1;
  while (!vertically && columns * columns < n) {
    ++columns;
  }
  const int rows = (n + columns - 1) / columns;
  const float w = r.z / columns, h = r.w / rows;
  for (int i = 0; i < n; ++i) {
    documents_[static_cast<std::size_t>(i)]->Place(r.x + (i % columns) * w, r.y + (i / columns) * h,
                                                   w, h);
  }
}

void FrameApp::Cascade() {
  const ImVec4 r = ClientRect();
  const float step = 24.0f;
  const float w = r.z * 0.7f, h = r.w * 0.7f;
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    documents_[i]->Place(r.x + step * static_cast<float>(i), r.y + step * static_cast<float>(i), w,
                         h);
  }
}

void FrameApp::Command(int id) {
  switch (id) {
    case command::kNew:
    case command::kNewButton:
      documents_.push_back(DocumentWindow::NewChoreography(
          Settings().read_setting_short("DIRECTION", "DefaultFrames", 30)));
      activeDocument_ = static_cast<int>(documents_.size()) - 1;
      tilePending_ = true;
      break;
    case command::kOpen:
    case command::kOpenButton:
      openDialog_ = true;
      break;
    case command::kGlobalPreferences:
      prefs_.clear();
      for (const SettingDefault& d : SettingDefaults()) {
        if (d.section == "GLOBAL") {
          prefs_.emplace_back(std::string(d.key),
                              Settings().read_setting_text("GLOBAL", d.key, d.defaultValue));
        }
      }
      prefsDialog_ = true;
      break;
    case command::kExit:
      RequestClose();
      break;
    case command::kContents:
    case command::kUsingHelp: {
      std::error_code ec;
      const bool there =
          !options_.helpFile.empty() && std::filesystem::is_regular_file(options_.helpFile, ec);
      if (!there || !Launch({"xdg-open", options_.helpFile})) {
        ShowMessage(LoadString(str::kCouldNotOpenHelp));
      }
      break;
    }
    case command::kAbout:
      aboutDialog_ = true;
      break;
    case command::kCloseAll:
      // Every window with nothing unsaved closes (its render stopped); a
      // changed choreography is asked about.
      for (std::size_t i = documents_.size(); i-- > 0;) {
        if (!documents_[i]->Changed()) {
          documents_.erase(documents_.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
      if (!documents_.empty() && closeIndex_ < 0) {
        closeIndex_ = 0;
      }
      break;
    case command::kTile:
      Tile(false);
      break;
    case command::kTileVertically:
      Tile(true);
      break;
    case command::kCascade:
    case command::kArrangeIcons:  // no minimised windows here: the windows cascade
      Cascade();
      break;
    case command::kSnapShot:
      snapDialog_ = true;
      break;
    case command::kTwinView:
      if (DocumentWindow* d = Active()) {
        d->SetLayout(2);
      }
      break;
    case command::kQuadView:
      if (DocumentWindow* d = Active()) {
        d->SetLayout(4);
      }
      break;
    case command::kToolPanel:
      state_.Of(Panel::kTool).shown = !state_.Of(Panel::kTool).shown;
      break;
    case command::kInfoPanel:
      state_.Of(Panel::kInfo).shown = !state_.Of(Panel::kInfo).shown;
      break;
    default:
      break;
  }
}

void FrameApp::MenuCommand(int id, bool enabled, bool* checked) {
  const FrameCommand* c = FindFrameCommand(id);
  if (!c) {
    return;
  }
  const MenuLabel label = SplitMenuText(c->menuText);
  const bool chosen = ImGui::MenuItem(label.label.c_str(),
                                      label.shortcut.empty() ? nullptr : label.shortcut.c_str(),
                                      checked != nullptr && *checked, enabled);
  if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
    helpId_ = id;
  }
  if (chosen) {
    Command(id);
  }
}

void FrameApp::DrawMenuBar() {
  if (!ImGui::BeginMainMenuBar()) {
    return;
  }
  menuHeight_ = ImGui::GetWindowSize().y;
  const auto menu = [&](const char* name) {
    if (ImGui::BeginMenu(name)) {
      for (const FrameCommand& c : FrameCommands()) {
        if (std::strcmp(c.menu, name) != 0) {
          continue;
        }
        const bool needsWindow = c.id == command::kTwinView || c.id == command::kQuadView;
        bool shown = false;
        bool* check = nullptr;
        if (c.id == command::kToolPanel) {
          shown = state_.Of(Panel::kTool).shown;
          check = &shown;
        } else if (c.id == command::kInfoPanel) {
          shown = state_.Of(Panel::kInfo).shown;
          check = &shown;
        }
        if (c.id == command::kExit || c.id == command::kContents || c.id == command::kToolPanel) {
          ImGui::Separator();
        }
        MenuCommand(c.id, !needsWindow || Active() != nullptr, check);
      }
      if (std::strcmp(name, "Window") == 0 && !documents_.empty()) {
        ImGui::Separator();
        for (std::size_t i = 0; i < documents_.size(); ++i) {
          const std::string item = std::to_string(i + 1) + " " + documents_[i]->Title();
          if (ImGui::MenuItem(item.c_str(), nullptr, static_cast<int>(i) == activeDocument_)) {
            activeDocument_ = static_cast<int>(i);
            ImGui::SetWindowFocus(documents_[i]->WindowName().c_str());
          }
        }
      }
      ImGui::EndMenu();
    }
  };
  menu("File");
  menu("Window");
  menu("Help");
  ImGui::EndMainMenuBar();
}

// A fixed band of the frame, full width: the tool strip and the status line.
// The body runs between its Begin and End.
template <typename Body>
void DrawBand(const char* id, float top, int height, ImVec2 padding, Body body) {
  ImGui::SetNextWindowPos(ImVec2(0.0f, top));
  ImGui::SetNextWindowSize(ImVec2(ImGui::GetIO().DisplaySize.x, static_cast<float>(height)));
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, padding);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
  ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(212, 208, 200, 255));
  const ImGuiWindowFlags flags =
      ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
      ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoFocusOnAppearing;
  if (ImGui::Begin(id, nullptr, flags)) {
    body();
  }
  ImGui::End();
  ImGui::PopStyleColor();
  ImGui::PopStyleVar(2);
}

void FrameApp::DrawToolStrip() {
  DrawBand("##toolstrip", menuHeight_, kToolStripHeight, ImVec2(4.0f, 3.0f), [&] {
    const auto button = [&](const char* label, int id) {
      const std::string key = ToolButtonShortcut(id);
      const std::string text = std::string(label) + (key.empty() ? "" : "  (" + key + ")");
      if (ImGui::Button(text.c_str())) {
        Command(id);
      }
      if (ImGui::IsItemHovered()) {
        helpId_ = id;
      }
      ImGui::SameLine();
    };
    button("New", command::kNewButton);
    button("Open", command::kOpenButton);
    if (DocumentWindow* d = Active()) {
      ImGui::TextUnformatted(d->Title().c_str());
    }
  });
}

void FrameApp::DrawStatusLine() {
  DrawBand("##statusline", ImGui::GetIO().DisplaySize.y - kStatusLineHeight, kStatusLineHeight,
           ImVec2(6.0f, 2.0f), [&] {
             const std::string help = helpId_ != 0 ? HelpLine(helpId_) : std::string();
             ImGui::TextUnformatted(help.empty() ? statusText_.c_str() : help.c_str());
           });
}

void FrameApp::DrawPanels() {
  // Panels are placed from the client area's corner, below the tool strip.
  const ImVec2 r(0.0f, menuHeight_ + kToolStripHeight);
  if (state_.Of(Panel::kTool).shown) {
    PanelState& p = state_.Of(Panel::kTool);
    ImGui::SetNextWindowPos(ImVec2(r.x + p.left, r.y + p.top), ImGuiCond_Appearing);
    ImGui::SetNextWindowSize(ImVec2(kToolPanelWidth, 0.0f), ImGuiCond_Appearing);
    bool open = true;
    if (ImGui::Begin("Tools", &open, ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse)) {
      DocumentWindow* d = Active();
      if (!d) {
        ImGui::BeginDisabled();
      }
      for (ViewKind k : kAllViewKinds) {
        const bool eye = k == ViewKind::kCamera || k == ViewKind::kLight;
        const bool can = d && (!eye || d->kind() == ModuleKind::kDirection);
        if (d && !can) {
          ImGui::BeginDisabled();
        }
        if (ImGui::Button(ViewKindTitle(k), ImVec2(-1.0f, 0.0f)) && can) {
          d->SetView(k);
        }
        if (d && !can) {
          ImGui::EndDisabled();
        }
      }
      ImGui::Separator();
      if (ImGui::Button("Single", ImVec2(-1.0f, 0.0f)) && d) {
        d->SetLayout(1);
      }
      if (ImGui::Button("Twin", ImVec2(-1.0f, 0.0f)) && d) {
        d->SetLayout(2);
      }
      if (ImGui::Button("Quad", ImVec2(-1.0f, 0.0f)) && d) {
        d->SetLayout(4);
      }
      if (!d) {
        ImGui::EndDisabled();
      }
      const ImVec2 at = ImGui::GetWindowPos();
      p.left = static_cast<int>(at.x - r.x);
      p.top = static_cast<int>(at.y - r.y);
    }
    ImGui::End();
    if (!open) {
      state_.Of(Panel::kTool).shown = false;
    }
  }
  if (state_.Of(Panel::kInfo).shown) {
    PanelState& p = state_.Of(Panel::kInfo);
    ImGui::SetNextWindowPos(ImVec2(r.x + p.left, r.y + p.top), ImGuiCond_Appearing);
    ImGui::SetNextWindowSize(ImVec2(260.0f, 0.0f), ImGuiCond_Appearing);
    bool open = true;
    if (ImGui::Begin("Info", &open, ImGuiWindowFlags_NoCollapse)) {
      if (DocumentWindow* d = Active()) {
        ImGui::TextWrapped("%s", d->path().c_str());
        ImGui::Text("Frame %g", static_cast<double>(d->frame()));
        for (const std::string& problem : d->problems()) {
          ImGui::TextWrapped("%s", problem.c_str());
        }
      } else {
        ImGui::TextUnformatted("No document open.");
      }
      const ImVec2 at = ImGui::GetWindowPos();
      p.left = static_cast<int>(at.x - r.x);
      p.top = static_cast<int>(at.y - r.y);
    }
    ImGui::End();
    if (!open) {
      state_.Of(Panel::kInfo).shown = false;
    }
  }
}

void FrameApp::DrawRenderOutputWindows() {
  for (auto& view : renders_) {
    view->Draw();
  }
  renders_.erase(
      std::remove_if(renders_.begin(), renders_.end(), [](const auto& v) { return !v->open(); }),
      renders_.end());
}

void FrameApp::DrawDialogs() {
  // Open: a path and the files of a folder.
  if (openDialog_) {
    ImGui::OpenPopup("Open");
    openDialog_ = false;
    if (browseFolder_.empty()) {
      std::error_code ec;
      browseFolder_ = std::filesystem::current_path(ec).string();
    }
  }
  ImGui::SetNextWindowSize(ImVec2(560.0f, 420.0f), ImGuiCond_Appearing);
  if (ImGui::BeginPopupModal("Open")) {
    ImGui::TextWrapped("%s", browseFolder_.c_str());
    ImGui::BeginChild("files", ImVec2(0.0f, -3.0f * ImGui::GetFrameHeightWithSpacing()), true);
    std::error_code ec;
    std::vector<std::filesystem::directory_entry> entries;
    for (std::filesystem::directory_iterator it(browseFolder_, ec), end; !ec && it != end;
         it.increment(ec)) {
      entries.push_back(*it);
      if (entries.size() > 2000) {
        break;
      }
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      return a.path().filename() < b.path().filename();
    });
    if (ImGui::Selectable("..", false, ImGuiSelectableFlags_AllowDoubleClick) &&
        ImGui::IsMouseDoubleClicked(0)) {
      browseFolder_ = std::filesystem::path(browseFolder_).parent_path().string();
    }
    for (const auto& e : entries) {
      const std::string name = e.path().filename().string();
      std::error_code dirEc;
      const bool folder = e.is_directory(dirEc);
      if (!folder && !ModuleKindFor(name) && std::filesystem::path(name).extension() != ".act") {
        continue;
      }
      const std::string label = folder ? name + "/" : name;
      if (ImGui::Selectable(label.c_str(), e.path().string() == openPath_,
                            ImGuiSelectableFlags_AllowDoubleClick)) {
        if (folder) {
          if (ImGui::IsMouseDoubleClicked(0)) {
            browseFolder_ = e.path().string();
          }
        } else if (std::filesystem::path(name).extension() == ".act") {
          std::snprintf(openAction_, sizeof openAction_, "%s", e.path().string().c_str());
        } else {
          std::snprintf(openPath_, sizeof openPath_, "%s", e.path().string().c_str());
        }
      }
    }
    ImGui::EndChild();
    ImGui::InputText("File", openPath_, sizeof openPath_);
    ImGui::InputText("Action (figures)", openAction_, sizeof openAction_);
    if (ImGui::Button("Open") && openPath_[0] != 0) {
      ImGui::CloseCurrentPopup();
      OpenDocument(openPath_, openAction_);
      openAction_[0] = 0;
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel")) {
      ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
  }

  // Global Preferences: the GLOBAL keys.
  if (prefsDialog_) {
    ImGui::OpenPopup("Global Preferences");
    prefsDialog_ = false;
  }
  if (ImGui::BeginPopupModal("Global Preferences", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
    for (auto& [key, value] : prefs_) {
      const bool isSwitch = value == "ON" || value == "OFF";
      if (isSwitch) {
        bool on = value == "ON";
        if (ImGui::Checkbox(key.c_str(), &on)) {
          value = on ? "ON" : "OFF";
        }
      } else {
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, "%s", value.c_str());
        if (ImGui::InputText(key.c_str(), buffer, sizeof buffer)) {
          value = buffer;
        }
      }
    }
    if (ImGui::Button("OK")) {
      std::string why;
      for (const auto& [key, value] : prefs_) {
        if (!Settings().write_setting("GLOBAL", key, value, &why)) {
          ShowMessage("GLOBAL " + key + ": " + why);
        }
      }
      ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel")) {
      ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
  }

  if (aboutDialog_) {
    ImGui::OpenPopup("About");
    aboutDialog_ = false;
  }
  if (ImGui::BeginPopupModal("About", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
    ImGui::Text("%s %s", LoadString(str::kProductName).c_str(), std::string(Version()).c_str());
    ImGui::TextUnformatted("Spline-patch modelling, character animation and rendering.");
    if (ImGui::Button("OK")) {
      ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
  }

  // Snap Shot: every window's place under a name, in the SNAPSHOT section.
  if (snapDialog_) {
    ImGui::OpenPopup("Snap Shot");
    snapDialog_ = false;
  }
  if (ImGui::BeginPopupModal("Snap Shot", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
    ImGui::InputText("Name", snapName_, sizeof snapName_);
    if (ImGui::Button("Store") && snapName_[0] != 0) {
      // "file x y w h" per window, as many as the line holds.
      std::string value;
      for (const auto& d : documents_) {
        const std::array<float, 4> r = d->Rect();
        char item[320];
        std::snprintf(item, sizeof item, "%s%s %d %d %d %d", value.empty() ? "" : "; ",
                      std::filesystem::path(d->path()).filename().string().c_str(),
                      static_cast<int>(r[0]), static_cast<int>(r[1]), static_cast<int>(r[2]),
                      static_cast<int>(r[3]));
        if (value.size() + std::strlen(item) > 255) {
          break;
        }
        value += item;
      }
      std::string why;
      if (!Settings().write_setting("SNAPSHOT", snapName_, value, &why)) {
        ShowMessage(std::string("Snap Shot: ") + why);
      }
      ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel")) {
      ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
  }

  // Messages, titled with the product name.
  if (messagePending_) {
    ImGui::OpenPopup("##message");
    messagePending_ = false;
  }
  if (ImGui::BeginPopupModal("##message", nullptr,
                             ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoTitleBar)) {
    ImGui::TextUnformatted(LoadString(str::kProductName).c_str());
    ImGui::Separator();
    ImGui::TextWrapped("%s", messageText_.c_str());
    if (ImGui::Button("OK")) {
      ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
  }

  // Closing a changed choreography: save, discard or keep running.
  if (closeIndex_ >= 0 && closeIndex_ < static_cast<int>(documents_.size())) {
    DocumentWindow& d = *documents_[static_cast<std::size_t>(closeIndex_)];
    ImGui::OpenPopup("Save Choreography");
    if (ImGui::BeginPopupModal("Save Choreography", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
      ImGui::Text("%s has changed. Save it before closing?", d.path().c_str());
      const auto finish = [&](bool close) {
        ImGui::CloseCurrentPopup();
        if (close) {
          documents_.erase(documents_.begin() + closeIndex_);
          closeIndex_ = -1;
          if (closing_) {
            RequestClose();
          }
        } else {
          // A refusal keeps the system running.
          d.CancelClose();
          closeIndex_ = -1;
          closing_ = false;
        }
      };
      // S saves, N does not, Escape cancels.
      const auto key = [](SDL_Scancode k) { return ImGui::IsKeyPressed(k, false); };
      if (ImGui::Button("Save (S)") || key(SDL_SCANCODE_S)) {
        std::string why;
        if (d.Save(&why)) {
          finish(true);
        } else {
          ShowMessage(why);
          finish(false);
        }
      } else if (ImGui::SameLine(), ImGui::Button("Don't Save (N)") || key(SDL_SCANCODE_N)) {
        finish(true);
      } else if (ImGui::SameLine(), ImGui::Button("Cancel (Esc)") || key(SDL_SCANCODE_ESCAPE)) {
        finish(false);
      }
      ImGui::EndPopup();
    }
  }
}

void FrameApp::ShortcutKeys() {
  ImGuiIO& io = ImGui::GetIO();
  if (io.WantTextInput) {
    return;
  }
  const auto pressed = [](SDL_Scancode key) { return ImGui::IsKeyPressed(key, false); };
  if (io.KeyCtrl && pressed(SDL_SCANCODE_N)) {
    Command(command::kNew);
  } else if (io.KeyCtrl && pressed(SDL_SCANCODE_O)) {
    Command(command::kOpen);
  } else if (io.KeyCtrl && pressed(SDL_SCANCODE_G)) {
    Command(command::kGlobalPreferences);
  } else if (io.KeyCtrl && pressed(SDL_SCANCODE_H)) {
    Command(command::kSnapShot);
  } else if (io.KeyAlt && pressed(SDL_SCANCODE_F4)) {
    Command(command::kExit);
  } else if (pressed(SDL_SCANCODE_F1)) {
    Command(command::kContents);
  }
}

void FrameApp::RequestClose() {
  closing_ = true;
  // The changed choreographies are asked about one at a time; a refusal
  // ends the close.
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    if (documents_[i]->Changed()) {
      closeIndex_ = static_cast<int>(i);
      return;
    }
  }
  for (auto& d : documents_) {
    d->StopRendering();
  }
  FinishClose();
}

void FrameApp::FinishClose() {
  // The placement and the panels go back to STATE.
  WindowPlacement p;
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(window_, &x, &y);
  SDL_GetWindowSize(window_, &w, &h);
  const Uint32 flags = SDL_GetWindowFlags(window_);
  p.show = (flags & SDL_WINDOW_MAXIMIZED) != 0 || maximisedAtStart_ ? kShowMaximised : kShowNormal;
  p.left = x;
  p.top = y;
  p.right = x + w;
  p.bottom = y + h;
  state_.placement = p;
  std::string why;
  if (!WriteFrameState(Settings(), state_, &why)) {
    std::cerr << "zentrope view: the window state was not saved: " << why << '\n';
  }
  running_ = false;
}

bool FrameApp::TakeScreenshot(const std::string& path) {
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window_, &w, &h);
  if (w <= 0 || h <= 0) {
    return false;
  }
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  Picture picture;
  picture.Reset(w, h);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* from = rgb.data() + static_cast<std::size_t>(h - 1 - y) * w * 3;
    std::uint8_t* to = picture.bgr.data() + static_cast<std::size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      to[3 * x] = from[3 * x + 2];
      to[3 * x + 1] = from[3 * x + 1];
      to[3 * x + 2] = from[3 * x];
    }
  }
  const PictureWrite written = WritePicture(picture, path);
  if (written.code != 0) {
    std::cerr << "zentrope view: " << path << ": the screenshot could not be written"
              << (written.reason.empty() ? "" : ": " + written.reason) << '\n';
    return false;
  }
  return true;
}

void FrameApp::DrawFrame() {
  helpId_ = 0;
  DrawMenuBar();
  DrawToolStrip();
  if (tilePending_) {
    Tile(false);
    tilePending_ = false;
  }

  WindowContext context;
  context.options.grid = Settings().read_setting_switch("DIRECTION", "Grid", true);
  context.options.gridSpacing = Settings().read_setting_float("DIRECTION", "GridSpacing", 200.0f);
  context.options.perspectiveBirdsEye =
      Settings().read_setting_switch("GLOBAL", "PerspectiveBirdsEye", false);
  context.showHelp = [this](int id) { helpId_ = id; };
  context.openRender = [this] {
    renders_.push_back(std::make_shared<RenderOutputWindow>("RENDER"));
    return renders_.back();
  };
  context.renderFinished = [this](const RenderOutputWindow& out) {
    if (out.failed()) {
      ShowMessage(out.note());
    }
    statusText_ = out.note().empty() ? out.title() : out.note().substr(0, out.note().find('\n'));
  };

  for (std::size_t i = 0; i < documents_.size(); ++i) {
    // The focused document window is the one the menus act on.
    if (documents_[i]->Draw(context)) {
      activeDocument_ = static_cast<int>(i);
    }
  }
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    if (documents_[i]->WantsClose()) {
      if (documents_[i]->Changed()) {
        if (closeIndex_ < 0) {
          closeIndex_ = static_cast<int>(i);
        }
      } else {
        documents_[i]->StopRendering();
        documents_.erase(documents_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }
  DrawRenderOutputWindows();
  DrawPanels();
  DrawDialogs();
  ShortcutKeys();
  DrawStatusLine();
}

void FrameApp::Loop() {
  ImGuiIO& io = ImGui::GetIO();
  while (running_) {
    // Wait for an event: briefly while a window plays or renders, else up
    // to a quarter of a second (signals are looked at between waits).
    if (options_.quitAfter == 0) {
      const bool moving = std::any_of(documents_.begin(), documents_.end(),
                                      [](const auto& d) { return d->Rendering() || d->Playing(); });
      SDL_WaitEventTimeout(nullptr, moving ? 15 : 250);
    }
    // A press and its release never reach the interface in the same frame,
    // or it would not see the press: the release waits for the next frame.
    SDL_PumpEvents();
    bool pressed = false;
    SDL_Event event;
    while (SDL_PeepEvents(&event, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
      const bool release = event.type == SDL_KEYUP || event.type == SDL_MOUSEBUTTONUP;
      if (release && pressed) {
        break;
      }
      SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
      pressed = pressed || event.type == SDL_KEYDOWN || event.type == SDL_MOUSEBUTTONDOWN;
      ImGui_ImplSDL2_ProcessEvent(&event);
      if (event.type == SDL_QUIT ||
          (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE &&
           event.window.windowID == SDL_GetWindowID(window_))) {
        RequestClose();
      }
      if (event.type == SDL_WINDOWEVENT && (event.window.event == SDL_WINDOWEVENT_RESIZED ||
                                            event.window.event == SDL_WINDOWEVENT_RESTORED)) {
        maximisedAtStart_ = false;
      }
    }
    if (stop_requested()) {
      ClearStopRequest();
      RequestClose();
    }
    if (!running_) {
      break;
    }
    ImGui_ImplOpenGL2_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    DrawFrame();
    ImGui::Render();
    glViewport(0, 0, static_cast<int>(io.DisplaySize.x * io.DisplayFramebufferScale.x),
               static_cast<int>(io.DisplaySize.y * io.DisplayFramebufferScale.y));
    glClearColor(0.50f, 0.50f, 0.56f, 1.0f);  // the client area's background
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    // Frames are counted once renders have finished and their windows
    // have had a few frames to settle.
    const bool busy = std::any_of(documents_.begin(), documents_.end(),
                                  [](const auto& d) { return d->Rendering(); });
    settled_ = busy ? 0 : settled_ + 1;
    if (settled_ > 2 || framesDrawn_ < options_.quitAfter - 1) {
      ++framesDrawn_;
    }
    const bool last = options_.quitAfter > 0 && framesDrawn_ >= options_.quitAfter;
    if (last && !options_.screenshot.empty() && !TakeScreenshot(options_.screenshot)) {
      exitStatus_ = 1;
    }
    SDL_GL_SwapWindow(window_);
    if (busy && options_.quitAfter > 0) {
      SDL_Delay(10);
    }
    if (last) {
      RequestClose();
      if (running_) {
        // A changed choreography would ask; headless there is no one to.
        FinishClose();
      }
    }
  }
}

}  // namespace

std::optional<std::string> NoDisplayReason() {
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (driver != nullptr && *driver != 0) {
    return std::nullopt;  // the user chose the windowing layer
  }
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 == nullptr || *x11 == 0) && (wayland == nullptr || *wayland == 0)) {
    return std::string(
        "no display: DISPLAY and WAYLAND_DISPLAY are not set (run it on a desktop, or under "
        "xvfb-run for screenshots)");
  }
  return std::nullopt;
}

int RunFrameWindow(const FrameOptions& options) {
  FrameOptions o = options;
  if (!o.screenshot.empty() && o.quitAfter <= 0) {
    o.quitAfter = 5;
  }
  FrameApp app(o);
  return app.Run();
}

}  // namespace zentrope
