// zentrope.ini reading and writing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "shell/settings.h"
#include "support/processes.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::InTwoProcesses;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(SettingsTest, MissingFileGivesDefaults) {
  TempDir dir;
  SettingsFile s(dir / "zentrope.ini");
  EXPECT_EQ(s.read_setting_text("RENDER", "RenderMode", "WIREFRAME"), "WIREFRAME");
  EXPECT_EQ(s.read_setting_short("DIRECTION", "DefaultFrames", 30), 30);
  EXPECT_EQ(s.read_setting_float("MEMORY", "MaxMemory", -1.0f), -1.0f);
  EXPECT_TRUE(s.read_setting_switch("CHANNEL", "UnlimitedUndo", true));
  EXPECT_FALSE(std::filesystem::exists(s.path()));
}

TEST(SettingsTest, WriteCreatesFileAndSectionAndReplacesKeys) {
  TempDir dir;
  SettingsFile s(dir / "sub" / "zentrope.ini");
  ASSERT_TRUE(s.write_setting("DIRECTION", "GridSpacing", "150"));
  EXPECT_EQ(s.read_setting_float("DIRECTION", "GridSpacing", 200.0f), 150.0f);
  ASSERT_TRUE(s.write_setting("RENDER", "Step", "2"));
  ASSERT_TRUE(s.write_setting("DIRECTION", "Grid", "OFF"));
  ASSERT_TRUE(s.write_setting("direction", "gridspacing", "175"));
  EXPECT_EQ(ReadFile(s.path()), "[DIRECTION]\ngridspacing=175\nGrid=OFF\n\n[RENDER]\nStep=2\n");
  EXPECT_EQ(s.read_setting_text("Direction", "GRIDSPACING", ""), "175");
}

// Catches: a key meant for an empty section inserted above its header or
// after the next section's header, or a second header for the section
// appended because an empty section went unnoticed.
TEST(SettingsTest, KeyWrittenIntoAnEmptySectionStaysInIt) {
  struct Case {
    const char* before;
    const char* after;
  };
  // The key goes on the line after the header, before whatever follows; the
  // rest of the file is kept line for line.
  const Case cases[] = {
      // An empty section followed directly by another.
      {"[RENDER]\n[DIRECTION]\nGrid=OFF\n", "[RENDER]\nStep=2\n[DIRECTION]\nGrid=OFF\n"},
      // An empty section followed by a blank line and another.
      {"[RENDER]\n\n[DIRECTION]\nGrid=OFF\n", "[RENDER]\nStep=2\n\n[DIRECTION]\nGrid=OFF\n"},
      // An empty section last in the file.
      {"[GLOBAL]\nErrorLog=ON\n\n[RENDER]\n", "[GLOBAL]\nErrorLog=ON\n\n[RENDER]\nStep=2\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "z.ini", c.before);
    SettingsFile s(dir / "z.ini");
    // The section is named in another case: it is still the same section.
    ASSERT_TRUE(s.write_setting("render", "Step", "2"));
    const std::string text = ReadFile(s.path());
    EXPECT_EQ(text, c.after);
    EXPECT_EQ(text.find("[RENDER]"), text.rfind("[RENDER]")) << "section header repeated";
    EXPECT_EQ(s.Stored("RENDER", "Step"), "2");
    EXPECT_EQ(s.Stored("DIRECTION", "Step"), std::nullopt);
    EXPECT_EQ(s.Stored("GLOBAL", "Step"), std::nullopt);
  }
}

TEST(SettingsTest, ParseRules) {
  TempDir dir;
  WriteFile(dir / "z.ini",
            "; comment\r\n[GLOBAL]\r\nErrorLog=on\r\nSubDivisions = 16 \r\n"
            "SubDivisionMultiplier=abc\r\n[CUSTOMCOLORS]\r\nred3=70000\r\n"
            "[RENDER]\r\nStep=0.5x\r\n");
  SettingsFile s(dir / "z.ini");
  // A switch written in lower case does not count as "ON".
  EXPECT_FALSE(s.read_setting_switch("GLOBAL", "ErrorLog", false));
  EXPECT_EQ(s.read_setting_short("GLOBAL", "SubDivisions", 4), 16);
  // Text that does not parse leaves the default.
  EXPECT_EQ(s.read_setting_short("GLOBAL", "SubDivisionMultiplier", 7), 7);
  // "%hd" keeps the low 16 bits.
  EXPECT_EQ(s.read_setting_short("CUSTOMCOLORS", "red3", 48), static_cast<std::int16_t>(70000));
  // As much of a number as there is.
  EXPECT_EQ(s.read_setting_float("RENDER", "Step", 1.0f), 0.5f);
  // A key of another section is not seen.
  EXPECT_EQ(s.read_setting_text("RENDER", "ErrorLog", "OFF"), "OFF");
}

TEST(SettingsTest, LongValuesAreCutAt255) {
  TempDir dir;
  SettingsFile s(dir / "z.ini");
  ASSERT_TRUE(s.write_setting("FILES", "LastSEGName", std::string(300, 'a')));
  EXPECT_EQ(s.read_setting_text("FILES", "LastSEGName", "*.seg").size(), 255u);
}

// Catches: every line rewritten through "%s", so that writing one key cut
// another key's value at a NUL byte an old file held.
TEST(SettingsTest, WritingOneKeyKeepsEveryOtherLineWhole) {
  TempDir dir;
  const std::string held("a\0b.seg", 7);
  WriteFile(dir / "z.ini", "[FILES]\nFile1=" + held + "\n");
  SettingsFile s(dir / "z.ini");
  ASSERT_TRUE(s.write_setting("FILES", "File2", "c.seg"));
  EXPECT_EQ(s.Stored("FILES", "File1"), held);
  EXPECT_EQ(ReadFile(dir / "z.ini"), "[FILES]\nFile1=" + held + "\nFile2=c.seg\n");
}

// Catches: settings read with a stream that waits on a FIFO for ever, and a
// write that replaced a file it could not read with just the new key.
TEST(SettingsTest, ASettingsFileThatIsNoFileIsNeitherReadNorReplaced) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "z.ini").c_str(), 0600), 0);
  SettingsFile s(dir / "z.ini");
  EXPECT_EQ(s.read_setting_int("RENDER", "Step", 7), 7);  // returns at once
  std::string why;
  EXPECT_FALSE(s.write_setting("RENDER", "Step", "2", &why));
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
  struct stat st {};
  ASSERT_EQ(stat((dir / "z.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(SettingsTest, DocumentedDefaults) {
  EXPECT_EQ(DefaultFor("RENDER", "Filename"), "Anim:preview.avi");
  EXPECT_EQ(DefaultFor("render", "outputsizepreset"), "LORES");
  EXPECT_EQ(DefaultFor("QUICKRENDER", "DefaultLightSource"), "CENTER");
  EXPECT_EQ(DefaultFor("STATE", "WindowPosition"), "Bogus");
  EXPECT_EQ(DefaultFor("CUSTOMCOLORS", "blue15"), "240");
  EXPECT_EQ(DefaultFor("CUSTOMCOLORS", "green0"), "0");
  EXPECT_EQ(DefaultFor("FILES", "LastCHOName"), "*.cho");
  EXPECT_EQ(DefaultFor("FONT", "Height"), "-13");
  EXPECT_EQ(DefaultFor("AVI", "Quality"), "7500");
  EXPECT_EQ(DefaultFor("MEMORY", "MaxMemory"), "-1");
  EXPECT_FALSE(DefaultFor("RENDER", "NoSuchKey").has_value());
  // Each documented key appears once.
  std::set<std::string> seen;
  for (const SettingDefault& d : SettingDefaults()) {
    EXPECT_TRUE(seen.insert(d.section + "/" + d.key).second) << d.section << " " << d.key;
  }
}

TEST(SettingsTest, PathFromEnvironment) {
  setenv("ZENTROPE_INI", "/elsewhere/z.ini", 1);
  EXPECT_EQ(DefaultSettingsPath(), std::filesystem::path("/elsewhere/z.ini"));
  unsetenv("ZENTROPE_INI");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(DefaultSettingsPath(), std::filesystem::path("/cfg/zentrope/zentrope.ini"));
  unsetenv("XDG_CONFIG_HOME");
  const std::filesystem::path home = std::filesystem::temp_directory_path() / "someone";
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(DefaultSettingsPath(), home / ".config" / "zentrope" / "zentrope.ini");
}

// Catches: two processes reading the file, each adding its key and renaming
// its copy over the other's, so that one of the writes is lost.
TEST(SettingsTest, ConcurrentWritersLoseNothing) {
  TempDir dir;
  constexpr int kWrites = 50;
  ASSERT_TRUE(InTwoProcesses([&](int c) {
    SettingsFile s(dir / "zentrope.ini");
    for (int i = 0; i < kWrites; ++i) {
      const std::string n = std::to_string(i);
      if (!s.write_setting(c == 0 ? "FIRST" : "SECOND", "Key" + n, n)) {
        return false;
      }
    }
    return true;
  }));
  SettingsFile s(dir / "zentrope.ini");
  for (int i = 0; i < kWrites; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(s.Stored("FIRST", "Key" + n), n) << i;
    EXPECT_EQ(s.Stored("SECOND", "Key" + n), n) << i;
  }
  EXPECT_EQ(s.StoredLines().size(), 2u * kWrites);
}

// Catches: a line break in any field (or brackets and "=" where they end a
// section or a key) stored as is, so that one setting writes another.
TEST(SettingsTest, FieldsThatWouldBreakTheFileAreRefused) {
  TempDir dir;
  SettingsFile s(dir / "zentrope.ini");
  ASSERT_TRUE(s.write_setting("RENDER", "Step", "2"));
  const std::string before = ReadFile(s.path());
  struct Case {
    std::string section, key, value;
  };
  const Case refused[] = {
      {"RENDER", "Step", "3\n[MEMORY]\nMaxMemory=1"},
      {"RENDER", "Step", "3\rMaxMemory=1"},
      {"RENDER", "Step", std::string("3\0x", 3)},
      {"RENDER\n[MEMORY", "Step", "3"},
      {"REN]DER", "Step", "3"},
      {"[RENDER", "Step", "3"},
      {"RENDER", "Max=Memory", "3"},
      {"RENDER", "[Step]", "3"},
      {"RENDER", ";Step", "3"},
      {"", "Step", "3"},
      {"RENDER", " ", "3"},
      // Catches: blanks around a field written, then dropped on reading: " Step"
      // added a second line read as "Step", and "3 " read back as "3".
      {"RENDER", " Step", "3"},
      {"RENDER ", "Step", "3"},
      {"RENDER", "Step", "3 "},
      {"RENDER", "Step", "\t3"},
  };
  for (const Case& c : refused) {
    std::string detail;
    EXPECT_FALSE(s.write_setting(c.section, c.key, c.value, &detail)) << c.section << c.key;
    EXPECT_FALSE(detail.empty()) << "a refusal says why";
    EXPECT_TRUE(SettingRefusal(c.section, c.key, c.value).has_value());
  }
  EXPECT_EQ(ReadFile(s.path()), before);
  // What the layout allows stays allowed: "=" and brackets inside a value
  // are read back whole (the key ends at the first "=").
  ASSERT_TRUE(s.write_setting("RENDER", "OutputName", "shot[1]=a.tga"));
  EXPECT_EQ(s.Stored("RENDER", "OutputName"), "shot[1]=a.tga");
}

}  // namespace
}  // namespace zentrope
