#include "ProgramResources.h"

#include <array>
#include <string>

#include "Resources.h"

std::span<const TProgramResource> ProgramResources() {
  static const std::array<TProgramResource, 1> resources = {{
      {"HAND", HandCursorResource()},
  }};
  return resources;
}

void RegisterProgramResources() {
  for (const TProgramResource& resource : ProgramResources()) {
    RegisterResourceView(resource.Name, resource.Data, nullptr);
  }
}
