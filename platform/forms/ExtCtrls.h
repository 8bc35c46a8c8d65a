// The notebook (pages stacked in one place, one shown at a time), and two windowless decorations:
// the bevel (frames and etched lines) and the image.
#pragma once

#include <memory>
#include <string>

#include "Controls.h"

// One page of a notebook. Pages belong to their notebook and fill it.
class TPage : public TWinControl {
  TAVRIX_CLASS(TPage)

 public:
  explicit TPage(TComponent* owner);

  // Raises the page's window above its siblings, when it has one.
  void BringToFront();

 protected:
  std::unique_ptr<TWinControlPeer> CreatePeer(TWidgetSet& widgetSet, TWinControlPeer* parent) final;
};

class TNotebook : public TWinControl {
  TAVRIX_CLASS(TNotebook)

 public:
  explicit TNotebook(TComponent* owner);

  int PageCount() const;
  TPage* Pages(int index) const;
  int PageIndex() const { return FPageIndex; }
  // Shows that page and hides the others; an index out of range changes nothing. When the
  // focus was inside the notebook it moves to the first control of the new page in tab order.
  void SetPageIndex(int value);
  // The caption of the page shown.
  std::string ActivePage() const;
  // Shows the page of that caption (compared without regard to case); a caption that no page
  // has, or the page already shown, changes nothing.
  void SetActivePage(const std::string& caption);

  void ReadState(TReader& reader) override;
  TComponent* GetChildOwner() override { return this; }
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void Loaded() override;

 private:
  // The page index says it all; the caption is for reading descriptions that give it.
  bool IsActivePageStored() const { return false; }
  int FPageIndex = -1;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// Frames and lines in the button-shadow and button-highlight colours, all within the control's
// box; it paints nothing else, so what lies below shows between its lines. Lowered, the shadow
// is on top and left (sunken); raised swaps the two colours. In the box's own pixels, W by H:
// - bsBox: shadow along row 0 (columns 0 to W-2) and column 0 (rows 0 to H-2), highlight along
//   row H-1 and column W-1 in full.
// - bsFrame (etched): an outline in highlight from (1, 1) to (W-1, H-1), then over it one in
//   shadow from (0, 0) to (W-2, H-2), corners included.
// - bsTopLine: shadow on row 0, highlight on row 1; bsBottomLine: shadow on row H-2,
//   highlight on row H-1; both across the full width.
// - bsLeftLine: shadow on column 0, highlight on column 1; bsRightLine: shadow on column W-2,
//   highlight on column W-1; both down the full height.
// - bsSpacer: nothing.
class TBevel : public TGraphicControl {
  TAVRIX_CLASS(TBevel)

 public:
  explicit TBevel(TComponent* owner);

  TBevelShape Shape() const { return FShape; }
  void SetShape(TBevelShape value);
  TBevelStyle Style() const { return FStyle; }
  void SetStyle(TBevelStyle value);

  void Paint() override;

 private:
  TBevelShape FShape = bsBox;
  TBevelStyle FStyle = bsLowered;
};

// Shows a picture: unscaled at the top-left corner, or in the middle of the box with Center
// (the half pixel dropped), or scaled to the whole box with Stretch. With Transparent the
// picture's transparent colour (for a bitmap, that of its bottom-left pixel) is not drawn.
// The picture is owned by the image; it is stored as "Picture.Data" when it holds a graphic.
class TImage : public TGraphicControl {
  TAVRIX_CLASS(TImage)

 public:
  explicit TImage(TComponent* owner);
  ~TImage() override;

  TPicture& Picture() const { return *FPicture; }
  void SetPicture(const TPicture& value) { FPicture->Assign(value); }
  bool Center() const { return FCenter; }
  void SetCenter(bool value);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);

  // Where the picture goes in the control's own coordinates: its own size at (0, 0) or
  // centred, or the whole box when stretched.
  TRect DestRect() const;
  void Paint() override;

 private:
  TPicture* PicturePtr() const { return FPicture.get(); }
  bool IsPictureStored() const { return FPicture->Graphic() != nullptr; }
  void PictureChanged();

  std::unique_ptr<TPicture> FPicture;
  bool FCenter = false;
  bool FStretch = false;
  bool FTransparent = false;
};
