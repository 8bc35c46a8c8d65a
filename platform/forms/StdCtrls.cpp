#include "StdCtrls.h"

namespace {

const TIdentMapEntry AlignmentNames[] = {
    {taLeftJustify, "taLeftJustify"}, {taRightJustify, "taRightJustify"}, {taCenter, "taCenter"}};

// DrawText flags by alignment and by word wrap.
constexpr uint32_t AlignmentFlags[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
constexpr uint32_t WordWrapFlags[] = {0, DT_WORDBREAK};

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

std::unique_ptr<TWinControlPeer> TButton::CreatePeer(TWidgetSet& widgetSet,
                                                     TWinControlPeer* parent) {
  if (!parent) return nullptr;
  return widgetSet.CreateButtonPeer(*this, *parent);
}

void TButton::InitializePeer() {
  TWinControl::InitializePeer();
  KindPeer<TButtonPeer>()->SetCaption(Caption());
}

void TButton::TextChanged() {
  if (auto* peer = KindPeer<TButtonPeer>()) peer->SetCaption(Caption());
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
  FLines->OnCheckText = [this](const TStrings::TTextMeasure& text) {
    if (text.Characters > Capacity || text.Lines > MaxLines) RefuseText();
  };
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
  if (static_cast<std::size_t>(FLines->Count()) > MaxLines) RefuseText();
  std::string text = PeerText(*FLines);
  if (text.size() > Capacity) RefuseText();
  if (auto* peer = KindPeer<TMemoPeer>()) peer->SetLines(text);
}

void TMemo::RefuseText() {
  FLines->OnChange = nullptr;
  FLines->Clear();
  FLines->OnChange = [this] { LinesChanged(); };
  if (auto* peer = KindPeer<TMemoPeer>()) peer->SetLines("");
  throw EInvalidOperation("Text exceeds memo capacity");
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
  auto* peer = KindPeer<TMemoPeer>();
  if (!peer) return;
  peer->SetMemoOptions(FReadOnly, FWordWrap, FScrollBars == ssVertical || FScrollBars == ssBoth,
                       FScrollBars == ssHorizontal || FScrollBars == ssBoth);
}

std::unique_ptr<TWinControlPeer> TMemo::CreatePeer(TWidgetSet& widgetSet, TWinControlPeer* parent) {
  if (!parent) return nullptr;
  return widgetSet.CreateMemoPeer(*this, *parent);
}

void TMemo::InitializePeer() {
  TWinControl::InitializePeer();
  PushOptions();
  KindPeer<TMemoPeer>()->SetLines(PeerText(*FLines));
}

// --- TCustomLabel --------------------------------------------------------------------------------

const TClassInfo& TCustomLabel::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TCustomLabel",
      &TGraphicControl::StaticClassInfo(),
      nullptr,
      {EnumProp("Alignment", &TCustomLabel::Alignment, &TCustomLabel::SetAlignment, AlignmentNames)
           .WithDefault(taLeftJustify),
       BoolProp("AutoSize", &TCustomLabel::AutoSize, &TCustomLabel::SetAutoSize).WithDefault(1),
       BoolProp("ShowAccelChar", &TCustomLabel::ShowAccelChar, &TCustomLabel::SetShowAccelChar)
           .WithDefault(1),
       BoolProp("Transparent", &TCustomLabel::Transparent, &TCustomLabel::SetTransparent)
           .WithDefault(0),
       BoolProp("WordWrap", &TCustomLabel::WordWrap, &TCustomLabel::SetWordWrap).WithDefault(0),
       // The mouse events that labels publish beside the OnClick of every control.
       EventProp("OnDblClick", &TCustomLabel::OnDblClick),
       EventProp("OnMouseDown", &TCustomLabel::OnMouseDown),
       EventProp("OnMouseMove", &TCustomLabel::OnMouseMove),
       EventProp("OnMouseUp", &TCustomLabel::OnMouseUp)},
      {},
      {}};
  return info;
}

TCustomLabel::TCustomLabel(TComponent* owner) : TGraphicControl(owner) { SetBounds(0, 0, 65, 17); }

void TCustomLabel::SetAlignment(TAlignment value) {
  if (value == FAlignment) return;
  FAlignment = value;
  Invalidate();
}

void TCustomLabel::SetAutoSize(bool value) {
  if (value == FAutoSize) return;
  FAutoSize = value;
  AdjustBounds();
}

void TCustomLabel::SetShowAccelChar(bool value) {
  if (value == FShowAccelChar) return;
  FShowAccelChar = value;
  Invalidate();
}

void TCustomLabel::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  Invalidate();
}

void TCustomLabel::SetWordWrap(bool value) {
  if (value == FWordWrap) return;
  FWordWrap = value;
  AdjustBounds();
  Invalidate();
}

uint32_t TCustomLabel::TextFlags() const {
  return AlignmentFlags[FAlignment] | WordWrapFlags[FWordWrap ? 1 : 0];
}

void TCustomLabel::DoDrawText(TRect& rect, uint32_t flags) {
  std::string text = Caption();
  // An empty caption (or a lone accelerator mark) still measures one line high.
  if ((flags & DT_CALCRECT) && (text.empty() || (FShowAccelChar && text == "&"))) text += ' ';
  if (!FShowAccelChar) flags |= DT_NOPREFIX;
  Canvas().Font().Assign(Font());
  if (!Enabled() && !(flags & DT_CALCRECT)) {
    OffsetRect(rect, 1, 1);
    Canvas().Font().SetColor(clBtnHighlight);
    Canvas().DrawText(text, rect, flags);
    OffsetRect(rect, -1, -1);
    Canvas().Font().SetColor(clBtnShadow);
    Canvas().DrawText(text, rect, flags);
  } else {
    Canvas().DrawText(text, rect, flags);
  }
}

void TCustomLabel::Paint() {
  TRect rect = ClientRect();
  if (!FTransparent) {
    Canvas().Brush().SetColor(Color());
    Canvas().Brush().SetStyle(bsSolid);
    Canvas().FillRect(rect);
  }
  Canvas().Brush().SetStyle(bsClear);
  DoDrawText(rect, DT_EXPANDTABS | TextFlags());
}

void TCustomLabel::AdjustBounds() {
  if ((ComponentState() & csLoading) || !FAutoSize) return;
  TRect rect = ClientRect();
  DoDrawText(rect, DT_EXPANDTABS | DT_CALCRECT | WordWrapFlags[FWordWrap ? 1 : 0]);
  int32_t left = Left();
  // A right-aligned label keeps its right edge where it is.
  if (FAlignment == taRightJustify) left += Width() - rect.Right;
  SetBounds(left, Top(), rect.Right, rect.Bottom);
}

void TCustomLabel::TextChanged() {
  Invalidate();
  AdjustBounds();
}

void TCustomLabel::FontChanged() {
  TGraphicControl::FontChanged();
  AdjustBounds();
}

void TCustomLabel::Loaded() {
  TGraphicControl::Loaded();
  AdjustBounds();
}

const TClassInfo& TLabel::StaticClassInfo() {
  static const TClassInfo info{"TLabel",
                               &TCustomLabel::StaticClassInfo(),
                               [](TComponent* owner) -> TComponent* { return new TLabel(owner); },
                               {},
                               {},
                               {}};
  return info;
}
