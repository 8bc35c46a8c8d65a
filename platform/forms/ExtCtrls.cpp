#include "ExtCtrls.h"

#include <algorithm>

namespace {

const bool GRegistered = (RegisterClasses({&TPage::StaticClassInfo(), &TBevel::StaticClassInfo(),
                                           &TImage::StaticClassInfo()}),
                          true);

const TIdentMapEntry BevelShapeNames[] = {
    {bsBox, "bsBox"},           {bsFrame, "bsFrame"},
    {bsTopLine, "bsTopLine"},   {bsBottomLine, "bsBottomLine"},
    {bsLeftLine, "bsLeftLine"}, {bsRightLine, "bsRightLine"},
    {bsSpacer, "bsSpacer"}};

const TIdentMapEntry BevelStyleNames[] = {{bsLowered, "bsLowered"}, {bsRaised, "bsRaised"}};

}  // namespace

// --- TPage ---------------------------------------------------------------------------------------

const TClassInfo& TPage::StaticClassInfo() {
  static const TClassInfo info{"TPage",
                               &TWinControl::StaticClassInfo(),
                               [](TComponent* owner) -> TComponent* { return new TPage(owner); },
                               {},
                               {},
                               {}};
  return info;
}

TPage::TPage(TComponent* owner) : TWinControl(owner) {
  SetVisible(false);
  SetAlign(alClient);
}

std::unique_ptr<TWinControlPeer> TPage::CreatePeer(TWidgetSet& widgetSet, TWinControlPeer* parent) {
  if (!parent) return nullptr;
  return widgetSet.CreateContainerPeer(*this, *parent);
}

void TPage::BringToFront() {
  if (auto* peer = KindPeer<TContainerPeer>()) peer->BringToFront();
}

// --- TNotebook -----------------------------------------------------------------------------------

const TClassInfo& TNotebook::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TNotebook",
      &TWinControl::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TNotebook(owner); },
      {IntProp("PageIndex", &TNotebook::PageIndex, &TNotebook::SetPageIndex).WithDefault(0),
       StrProp("ActivePage", &TNotebook::ActivePage, &TNotebook::SetActivePage)
           .StoredIf(&TNotebook::IsActivePageStored)},
      {},
      {}};
  return info;
}

TNotebook::TNotebook(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 150, 150); }

int TNotebook::PageCount() const {
  int count = 0;
  for (int i = 0; i < ControlCount(); ++i) count += dynamic_cast<TPage*>(Controls(i)) != nullptr;
  return count;
}

TPage* TNotebook::Pages(int index) const {
  int n = 0;
  for (int i = 0; i < ControlCount(); ++i) {
    if (auto* page = dynamic_cast<TPage*>(Controls(i))) {
      if (n++ == index) return page;
    }
  }
  return nullptr;
}

void TNotebook::SetPageIndex(int value) {
  if (ComponentState() & csLoading) {
    FPageIndex = value;  // applied once the pages are in
    return;
  }
  TPage* next = Pages(value);
  if (!next || value == FPageIndex) return;
  TWinControl* focused = WidgetSet() ? WidgetSet()->FocusedControl() : nullptr;
  bool focusInside = focused && ContainsControl(focused);
  next->SetVisible(true);
  next->BringToFront();
  for (int i = 0; i < PageCount(); ++i) {
    if (Pages(i) != next) Pages(i)->SetVisible(false);
  }
  FPageIndex = value;
  if (focusInside) {
    if (TWinControl* first = next->FindFirstFocusable()) first->SetFocus();
  }
}

std::string TNotebook::ActivePage() const {
  TPage* page = Pages(FPageIndex);
  return page ? page->Caption() : std::string();
}

void TNotebook::SetActivePage(const std::string& caption) {
  for (int i = 0; i < PageCount(); ++i) {
    if (SameText(Pages(i)->Caption(), caption)) {
      SetPageIndex(i);
      return;
    }
  }
}

void TNotebook::ReadState(TReader& reader) {
  // The pages come from the description; none is made by default.
  FPageIndex = -1;
  TWinControl::ReadState(reader);
}

void TNotebook::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* /*root*/) {
  for (int i = 0; i < PageCount(); ++i) proc(Pages(i));
}

void TNotebook::Loaded() {
  TWinControl::Loaded();
  int index = FPageIndex < 0 ? 0 : FPageIndex;
  FPageIndex = -1;
  SetPageIndex(index);
}

// --- TBevel --------------------------------------------------------------------------------------

const TClassInfo& TBevel::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TBevel",
      &TGraphicControl::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TBevel(owner); },
      {EnumProp("Shape", &TBevel::Shape, &TBevel::SetShape, BevelShapeNames).WithDefault(bsBox),
       EnumProp("Style", &TBevel::Style, &TBevel::SetStyle, BevelStyleNames)
           .WithDefault(bsLowered)},
      {},
      {}};
  return info;
}

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner) { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape value) {
  if (value == FShape) return;
  FShape = value;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle value) {
  if (value == FStyle) return;
  FStyle = value;
  Invalidate();
}

void TBevel::Paint() {
  // Every edge is a filled rectangle of one pixel's thickness with both ends given, so which
  // end pixels belong to it does not depend on how a backend draws lines.
  TCanvas& canvas = Canvas();
  const int32_t w = Width();
  const int32_t h = Height();
  auto edge = [&canvas, w, h](TColor color, int32_t left, int32_t top, int32_t right,
                              int32_t bottom) {
    // In a box too small for it an edge is cut to the box, or left out.
    TRect r = Rect(std::max(left, 0), std::max(top, 0), std::min(right, w), std::min(bottom, h));
    if (r.Right <= r.Left || r.Bottom <= r.Top) return;
    canvas.Brush().SetStyle(bsSolid);
    canvas.Brush().SetColor(color);
    canvas.FillRect(r);
  };
  // The outline of the pixels from (left, top) to (right, bottom), both corners included.
  auto outline = [&edge](TColor color, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    edge(color, left, top, right + 1, top + 1);
    edge(color, left, bottom, right + 1, bottom + 1);
    edge(color, left, top, left + 1, bottom + 1);
    edge(color, right, top, right + 1, bottom + 1);
  };
  const TColor first = FStyle == bsLowered ? clBtnShadow : clBtnHighlight;
  const TColor second = FStyle == bsLowered ? clBtnHighlight : clBtnShadow;
  switch (FShape) {
    case bsBox:
      edge(first, 0, 0, w - 1, 1);
      edge(first, 0, 0, 1, h - 1);
      edge(second, 0, h - 1, w, h);
      edge(second, w - 1, 0, w, h);
      break;
    case bsFrame:
      outline(second, 1, 1, w - 1, h - 1);
      outline(first, 0, 0, w - 2, h - 2);
      break;
    case bsTopLine:
      edge(first, 0, 0, w, 1);
      edge(second, 0, 1, w, 2);
      break;
    case bsBottomLine:
      edge(first, 0, h - 2, w, h - 1);
      edge(second, 0, h - 1, w, h);
      break;
    case bsLeftLine:
      edge(first, 0, 0, 1, h);
      edge(second, 1, 0, 2, h);
      break;
    case bsRightLine:
      edge(first, w - 2, 0, w - 1, h);
      edge(second, w - 1, 0, w, h);
      break;
    case bsSpacer:
      break;
  }
}

// --- TImage --------------------------------------------------------------------------------------

const TClassInfo& TImage::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TImage",
      &TGraphicControl::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TImage(owner); },
      {BoolProp("Center", &TImage::Center, &TImage::SetCenter).WithDefault(0),
       ClassProp("Picture", &TImage::PicturePtr).StoredIf(&TImage::IsPictureStored),
       BoolProp("Stretch", &TImage::Stretch, &TImage::SetStretch).WithDefault(0),
       BoolProp("Transparent", &TImage::Transparent, &TImage::SetTransparent).WithDefault(0)},
      {},
      {}};
  return info;
}

TImage::TImage(TComponent* owner) : TGraphicControl(owner), FPicture(std::make_unique<TPicture>()) {
  FPicture->OnChange = [this] { PictureChanged(); };
  SetBounds(0, 0, 105, 105);
}

TImage::~TImage() { FPicture->OnChange = nullptr; }

void TImage::SetCenter(bool value) {
  if (value == FCenter) return;
  FCenter = value;
  Invalidate();
}

void TImage::SetStretch(bool value) {
  if (value == FStretch) return;
  FStretch = value;
  Invalidate();
}

void TImage::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  PictureChanged();
}

void TImage::PictureChanged() {
  // A graphic read or assigned later takes the image's setting too.
  if (TGraphic* graphic = FPicture->Graphic()) graphic->SetTransparent(FTransparent);
  Invalidate();
}

TRect TImage::DestRect() const {
  if (FStretch) return ClientRect();
  const int32_t pw = FPicture->Width();
  const int32_t ph = FPicture->Height();
  if (!FCenter) return Rect(0, 0, pw, ph);
  const int32_t left = (Width() - pw) / 2;
  const int32_t top = (Height() - ph) / 2;
  return Rect(left, top, left + pw, top + ph);
}

void TImage::Paint() {
  if (TGraphic* graphic = FPicture->Graphic()) Canvas().StretchDraw(DestRect(), *graphic);
}
