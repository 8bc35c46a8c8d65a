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
  TPeerKind PeerKind() const override { return TPeerKind::Button; }
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A multi-line text box. Its lines live in Lines; the peer shows them. Word wrap is on by
// default, so it scrolls only vertically.
class TMemo : public TWinControl {
  TAVRIX_CLASS(TMemo)

 public:
  // The most text a memo holds; more raises EInvalidOperation "Text exceeds memo capacity".
  static constexpr std::size_t Capacity = 64u * 1024u * 1024u;

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
  TPeerKind PeerKind() const override { return TPeerKind::Memo; }
  void InitializePeer() override;

 private:
  void LinesChanged();
  void PushOptions();

  std::unique_ptr<TStrings> FLines;
  bool FReadOnly = false;
  bool FWordWrap = true;
  TScrollStyle FScrollBars = ssNone;
};
