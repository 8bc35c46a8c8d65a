// The hand-pointer cursor, drawn pixel by pixel: 'X' black, 'o' white, '.' transparent. The
// drawing is turned into the cursor image's bytes while the program is compiled; a bad row
// stops the build.
#include <array>
#include <string_view>

#include "CursorImage.h"
#include "ProgramResources.h"

namespace {

// clang-format off
constexpr std::array<std::string_view, 32> HandDrawing = {
    ".....XX.........................",  // the fingertip, with the hot spot on its left pixel
    "....XooX........................",
    "....XooX........................",
    "....XooX........................",
    "....XooX........................",
    "....XooXXX......................",  // the middle finger's tip
    "....XooXooXXX...................",  // the ring finger's tip
    "....XooXooXooXXX................",  // the little finger's tip
    "....XooXooXooXooX...............",
    "....XooXooXooXooX...............",
    ".XX.XooXooXooXooX...............",  // the thumb's tip
    "XooXXooXooXooXooX...............",
    "XoooXoooooooooooX...............",  // the palm
    ".XooXoooooooooooX...............",
    ".XooooooooooooooX...............",
    "..XoooooooooooooX...............",
    "..XoooooooooooooX...............",
    "...XooooooooooooX...............",
    "...XoooooooooooX................",
    "....XooooooooooX................",
    "....XooooooooooX................",
    ".....XoooooooooX................",  // the wrist
    ".....XXXXXXXXXXX................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
};
// clang-format on

constexpr int HandHotX = 5;
constexpr int HandHotY = 0;

constexpr auto HandBytes = CursorImageFromArt<32, 32>(HandDrawing, HandHotX, HandHotY);

}  // namespace

std::string_view HandCursorResource() {
  return {reinterpret_cast<const char*>(HandBytes.data()), HandBytes.size()};
}
