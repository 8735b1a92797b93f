// libFuzzer entry for the project list (PROJECTS.BRX): any file must load
// without a crash, and a list saved must load back as the same entries and
// save again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "shell/project_paths.h"

using namespace zentrope;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::Put("PROJECTS.BRX", data, size);
  const ProjectList list = ProjectList::Load(path);
  // Every name the list holds resolves through it.
  for (const ProjectList::Entry& e : list.Entries()) {
    if (!list.Find(e.name)) {
      fuzz::Finding("a listed project is not found: " + e.name);
    }
    (void)resolve_path(e.name + "a/b.seg", list);
  }
  if (!list.Save()) {
    fuzz::Finding("a project list could not be saved");
  }
  const std::string first = fuzz::Slurp(path);
  const ProjectList again = ProjectList::Load(path);
  if (again.Entries().size() != list.Entries().size()) {
    fuzz::Finding("a saved project list loads back with another number of entries");
  }
  for (std::size_t i = 0; i < list.Entries().size(); ++i) {
    const ProjectList::Entry &a = list.Entries()[i], &b = again.Entries()[i];
    if (a.name != b.name || a.directory != b.directory) {
      fuzz::Finding("a saved project list loads back otherwise: " + a.name);
    }
  }
  if (!again.Save() || fuzz::Slurp(path) != first) {
    fuzz::Finding("a project list saves otherwise the second time");
  }
  return 0;
}
