// Render and quick-render settings from and to the settings file.
#include <gtest/gtest.h>

#include "render/render_settings.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::TempDir;
using testing::WriteFile;
namespace rf = render_flags;

TEST(RenderSettingsTest, Defaults) {
  TempDir dir;
  SettingsFile file(dir / "none.ini");
  const RenderSettings s = load_render_settings(file);
  EXPECT_EQ(s.outputName, "Anim:preview.avi");
  EXPECT_EQ(s.ModeFlags(), rf::kWireframe | rf::kSmooth | rf::kShowDecals);
  EXPECT_EQ(s.OutputPreset(), 2);
  EXPECT_EQ(s.OutputWidth(), 320);
  EXPECT_EQ(s.OutputHeight(), 240);
  EXPECT_EQ(s.OutputAspect(), 1.0f);
  EXPECT_EQ(s.frameRate, 30);
  EXPECT_EQ(s.step, 1.0f);
  EXPECT_EQ(s.format, RenderFormat::kAvi);
  EXPECT_EQ(s.StereoFlags(), 0);
  const QuickRenderSettings q = load_quick_render_settings(file);
  EXPECT_EQ(q.ModeFlags(), rf::kZBuffer | rf::kSmooth | rf::kShowDecals);
  EXPECT_EQ(q.LightDirection(), (Vector3{0, 0, -1}));
}

TEST(RenderSettingsTest, WordsFlagsAndClamps) {
  TempDir dir;
  WriteFile(dir / "z.ini",
            "[RENDER]\nRenderMode=RAYTRACE\nZBufferMode=FLAT\nShadows=ON\nReflections=ON\n"
            "AntiAliasMode=HIGH\nShowDecals=OFF\nShowFrameNumber=ON\nOutputSizePreset=CUSTOM\n"
            "OutputWidth=0\nOutputHeight=1\nOutputAspectRatio=0\nStep=0\nRenderFormat=TGA\n"
            "StereoMode=LEFTEYE\nOutputMode=SELECTION\n"
            "[QUICKRENDER]\nRenderMode=WIREFRAME\nZBufferMode=PHONG\nAntiAliasMode=LOW\n"
            "DefaultLightSource=TOPRIGHT\n");
  SettingsFile file(dir / "z.ini");
  const RenderSettings s = load_render_settings(file);
  EXPECT_EQ(s.ModeFlags(), rf::kRaytrace | rf::kSmooth | rf::kFlat | rf::kShadows |
                               rf::kReflections | rf::kAntiAliasHigh | rf::kFrameNumber);
  EXPECT_EQ(s.AntiAliasLevel(), 2);
  EXPECT_EQ(s.OutputWidth(), 1);
  EXPECT_EQ(s.OutputHeight(), 1);
  EXPECT_EQ(s.OutputAspect(), 0.001f);
  EXPECT_EQ(s.step, 1.0f);
  EXPECT_EQ(s.format, RenderFormat::kTarga);
  EXPECT_EQ(s.StereoFlags(), kStereoLeftEye);
  EXPECT_EQ(s.OutputPreset(), 10);
  const QuickRenderSettings q = load_quick_render_settings(file);
  // Anything but RAYTRACE is the z-buffer in the quick set.
  EXPECT_EQ(q.ModeFlags(), rf::kZBuffer | rf::kPhong | rf::kAntiAliasLow | rf::kShowDecals);
  EXPECT_EQ(q.LightDirection(), (Vector3{0.577f, 0.577f, -0.577f}));
}

TEST(RenderSettingsTest, UnknownWordsFallBack) {
  TempDir dir;
  WriteFile(dir / "z.ini",
            "[RENDER]\nOutputSizePreset=HUGE\nRenderFormat=MPEG\nRenderMode=zbuffer\n"
            "[QUICKRENDER]\nDefaultLightSource=SIDEWAYS\n");
  SettingsFile file(dir / "z.ini");
  const RenderSettings s = load_render_settings(file);
  EXPECT_EQ(s.OutputPreset(), 2);
  EXPECT_EQ(s.format, RenderFormat::kAvi);
  EXPECT_TRUE(s.ModeFlags() & rf::kWireframe);
  EXPECT_EQ(load_quick_render_settings(file).light, LightSource::kCenter);
}

TEST(RenderSettingsTest, PresetsAndSavingBack) {
  TempDir dir;
  SettingsFile file(dir / "z.ini");
  RenderSettings s;
  s.sizePreset = 5;  // D1
  s.mode = RenderMode::kZBuffer;
  s.shading = Shading::kPhong;
  s.format = RenderFormat::kQtm;
  s.stereo = Stereo::kRightEye;
  s.step = 2.5f;
  s.frameRate = 24;
  ASSERT_TRUE(save_render_settings(file, s));
  EXPECT_EQ(file.read_setting_text("RENDER", "OutputSizePreset", ""), "D1");
  EXPECT_EQ(file.read_setting_text("RENDER", "Step", ""), "2.5");
  const RenderSettings back = load_render_settings(file);
  EXPECT_EQ(back.OutputWidth(), 720);
  EXPECT_EQ(back.OutputHeight(), 486);
  EXPECT_EQ(back.OutputAspect(), 0.909f);
  EXPECT_EQ(back.ModeFlags(), s.ModeFlags());
  EXPECT_EQ(back.format, RenderFormat::kQtm);
  EXPECT_EQ(back.StereoFlags(), kStereoRightEye);
  EXPECT_EQ(back.frameRate, 24);
  QuickRenderSettings q;
  q.light = LightSource::kBottom;
  q.mode = RenderMode::kRaytrace;
  ASSERT_TRUE(save_quick_render_settings(file, q));
  const QuickRenderSettings qb = load_quick_render_settings(file);
  EXPECT_EQ(qb.LightDirection(), (Vector3{0, -0.707f, -0.707f}));
  EXPECT_TRUE(qb.ModeFlags() & rf::kRaytrace);
}

}  // namespace
}  // namespace zentrope
