// Standard windowed controls: the push button and the multi-line text box.
#pragma once

#include <memory>

#include "Controls.h"
#include "StringList.h"

class TButton : public TWinControl {
  TAVRIX_CLASS(TButton)

 public:
  explicit TButton(TComponent* owner);

 protected:
  std::unique_ptr<TWinControlPeer> CreatePeer(TWidgetSet& widgetSet, TWinControlPeer* parent) final;
  void InitializePeer() override;
  void TextChanged() override;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A multi-line text box. Its lines live in Lines; the peer shows them. Word wrap is on by
// default, so it scrolls only vertically.
class TMemo : public TWinControl {
  TAVRIX_CLASS(TMemo)

 public:
  // The most text and the most lines a memo holds; more raises EInvalidOperation "Text exceeds
  // memo capacity", and the memo is left empty. A text set through Lines (SetText, LoadFromFile)
  // is checked before it is split into lines, so a text of millions of line breaks costs no more
  // than its own bytes. The line limit keeps what a backend makes of each line bounded too.
  static constexpr std::size_t Capacity = 64u * 1024u * 1024u;
  static constexpr std::size_t MaxLines = 100000;

  explicit TMemo(TComponent* owner);

  TStrings& Lines() { return *FLines; }
  TStrings* LinesPtr() const { return FLines.get(); }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value);
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle value);

 protected:
  std::unique_ptr<TWinControlPeer> CreatePeer(TWidgetSet& widgetSet, TWinControlPeer* parent) final;
  void InitializePeer() override;

 private:
  void LinesChanged();
  [[noreturn]] void RefuseText();
  void PushOptions();

  std::unique_ptr<TStrings> FLines;
  bool FReadOnly = false;
  bool FWordWrap = true;
  TScrollStyle FScrollBars = ssNone;
};

// A text label without a window of its own. With AutoSize it takes the size of its caption
// (keeping its right edge when right-aligned); it paints an opaque background in its colour
// unless Transparent, and a disabled label shows its text etched.
class TCustomLabel : public TGraphicControl {
  TAVRIX_CLASS(TCustomLabel)

 public:
  explicit TCustomLabel(TComponent* owner);

  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);
  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value);

  void Paint() override;
  void Loaded() override;

 protected:
  // Draws the caption in rect by DrawText flags on Canvas (with DT_CALCRECT: measures it).
  virtual void DoDrawText(TRect& rect, uint32_t flags);
  // Takes the caption's size when AutoSize is on and the form is not loading.
  void AdjustBounds();
  // The alignment and word-wrap flags of DrawText for the current settings.
  uint32_t TextFlags() const;
  void TextChanged() override;
  void FontChanged() override;

 private:
  TAlignment FAlignment = taLeftJustify;
  bool FAutoSize = true;
  bool FShowAccelChar = true;
  bool FTransparent = false;
  bool FWordWrap = false;
};

class TLabel : public TCustomLabel {
  TAVRIX_CLASS(TLabel)

 public:
  explicit TLabel(TComponent* owner) : TCustomLabel(owner) {}
};
