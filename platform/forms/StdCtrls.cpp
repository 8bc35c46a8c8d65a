#include "StdCtrls.h"

namespace {

const TIdentMapEntry ScrollStyleNames[] = {{ssNone, "ssNone"},
                                           {ssHorizontal, "ssHorizontal"},
                                           {ssVertical, "ssVertical"},
                                           {ssBoth, "ssBoth"}};

}  // namespace

// --- TButton -------------------------------------------------------------------------------------

const TClassInfo& TButton::StaticClassInfo() {
  static const TClassInfo info{"TButton",
                               &TWinControl::StaticClassInfo(),
                               [](TComponent* owner) -> TComponent* { return new TButton(owner); },
                               {},
                               {},
                               {}};
  return info;
}

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 75, 25);
  SetTabStop(true);
}

// --- TMemo ---------------------------------------------------------------------------------------

const TClassInfo& TMemo::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TMemo",
      &TWinControl::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TMemo(owner); },
      {ClassProp("Lines", &TMemo::LinesPtr),
       BoolProp("ReadOnly", &TMemo::ReadOnly, &TMemo::SetReadOnly).WithDefault(0),
       EnumProp("ScrollBars", &TMemo::ScrollBars, &TMemo::SetScrollBars, ScrollStyleNames)
           .WithDefault(ssNone),
       BoolProp("WordWrap", &TMemo::WordWrap, &TMemo::SetWordWrap).WithDefault(1)},
      {},
      {}};
  return info;
}

TMemo::TMemo(TComponent* owner) : TWinControl(owner), FLines(std::make_unique<TStrings>()) {
  SetBounds(0, 0, 185, 89);
  SetTabStop(true);
  SetParentColor(false);
  SetColor(clWindow);
  FLines->OnChange = [this] { LinesChanged(); };
}

namespace {
// The peer shows the lines with one line feed between them.
std::string PeerText(const TStrings& lines) {
  std::string text;
  for (int i = 0; i < lines.Count(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}
}  // namespace

void TMemo::LinesChanged() {
  std::string text = PeerText(*FLines);
  if (text.size() > Capacity) {
    FLines->OnChange = nullptr;
    FLines->Clear();
    FLines->OnChange = [this] { LinesChanged(); };
    if (FPeer) FPeer->SetLines("");
    throw EInvalidOperation("Text exceeds memo capacity");
  }
  if (FPeer) FPeer->SetLines(text);
}

void TMemo::SetReadOnly(bool value) {
  if (value == FReadOnly) return;
  FReadOnly = value;
  PushOptions();
}

void TMemo::SetWordWrap(bool value) {
  if (value == FWordWrap) return;
  FWordWrap = value;
  PushOptions();
}

void TMemo::SetScrollBars(TScrollStyle value) {
  if (value == FScrollBars) return;
  FScrollBars = value;
  PushOptions();
}

void TMemo::PushOptions() {
  if (!FPeer) return;
  FPeer->SetMemoOptions(FReadOnly, FWordWrap, FScrollBars == ssVertical || FScrollBars == ssBoth,
                        FScrollBars == ssHorizontal || FScrollBars == ssBoth);
}

void TMemo::InitializePeer() {
  TWinControl::InitializePeer();
  PushOptions();
  FPeer->SetLines(PeerText(*FLines));
}
