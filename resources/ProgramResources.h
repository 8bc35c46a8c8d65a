// The resources compiled into the setup program: a table of names and bytes, registered in the
// program's resource table (Resources.h) where the form descriptions of an installer image are
// looked up too.
#pragma once

#include <span>
#include <string_view>

struct TProgramResource {
  std::string_view Name;
  std::string_view Data;
};

// Every compiled-in resource. The bytes live as long as the program.
std::span<const TProgramResource> ProgramResources();

// Registers the compiled-in resources by name, replacing resources of the same names. Call at
// start-up before the first form is made (and again after ClearResources).
void RegisterProgramResources();

// "HAND": the hand-pointer cursor, a 32 x 32 cursor image (CursorImage.h) of a white hand with
// a black outline, its index finger pointing up, the hot spot (5, 0) at the fingertip.
std::string_view HandCursorResource();

// "MAINICON": the program's icon, a 32 x 32 Windows bitmap of 16 colours (a globe behind a
// computer screen); its bottom-left colour, aqua, is not drawn.
std::string_view MainIconResource();
