#include "ProgramResources.h"

#include <array>
#include <string>

#include "Resources.h"

std::span<const TProgramResource> ProgramResources() {
  static const std::array<TProgramResource, 2> resources = {{
      {"HAND", HandCursorResource()},
      {"MAINICON", MainIconResource()},
  }};
  return resources;
}

void RegisterProgramResources() {
  for (const TProgramResource& resource : ProgramResources()) {
    RegisterResourceView(resource.Name, resource.Data, nullptr);
  }
}
