// A canvas that records what is drawn on it, for tests of controls that paint. Text is measured
// at a fixed pitch: each character 7 pixels wide, a line 13 high.
#pragma once

#include <string>
#include <vector>

#include "Graphics.h"

struct TDrawCall {
  // "fill", "line", "text" (TextOut), "draw" (DrawText), "push", "pop", "bitmap" (DrawBitmap)
  std::string Op;
  // fill, draw and bitmap: the rectangle; text: (x, y) in Left/Top; push: the box
  TRect Rect;
  std::string Text;
  uint32_t Rgb = 0;  // bitmap: the transparent colour, when Transparent
  TSize Source;      // bitmap: its width and height
  bool Transparent = false;
  uint32_t Flags = 0;
  int32_t Escapement = 0;
  bool Opaque = false;
};

class TRecordingCanvas : public TCanvasPeer {
 public:
  static constexpr int32_t CharWidth = 7;
  static constexpr int32_t LineHeight = 13;

  std::vector<TDrawCall> Calls;

  void FillRect(const TRect& rect, uint32_t rgb) override { Add("fill", rect, "", rgb); }
  void Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb) override {
    Add("line", {x1, y1, x2, y2}, "", rgb);
  }
  void TextOut(int32_t x, int32_t y, const std::string& text, const TFont& font, uint32_t rgb,
               bool opaque, uint32_t /*backgroundRgb*/) override {
    TDrawCall& call = Add("text", {x, y, x, y}, text, rgb);
    call.Escapement = font.Escapement();
    call.Opaque = opaque;
  }
  int32_t DrawText(const std::string& text, TRect& rect, uint32_t flags, const TFont& /*font*/,
                   uint32_t rgb) override {
    if (flags & DT_CALCRECT) {
      rect.Right = rect.Left + static_cast<int32_t>(text.size()) * CharWidth;
      rect.Bottom = rect.Top + LineHeight;
      return LineHeight;
    }
    Add("draw", rect, text, rgb).Flags = flags;
    return LineHeight;
  }
  TSize TextExtent(const std::string& text, const TFont& /*font*/) override {
    return {static_cast<int32_t>(text.size()) * CharWidth, LineHeight};
  }
  void PushState(int32_t x, int32_t y, int32_t width, int32_t height) override {
    Add("push", {x, y, x + width, y + height});
  }
  void PopState() override { Add("pop", {}); }
  void DrawBitmap(const TRect& dest, const TBitmap& bitmap, bool transparent,
                  uint32_t transparentRgb) override {
    TDrawCall& call = Add("bitmap", dest, "", transparent ? transparentRgb : 0);
    call.Source = {bitmap.Width(), bitmap.Height()};
    call.Transparent = transparent;
  }

 private:
  TDrawCall& Add(const char* op, const TRect& rect, const std::string& text = "",
                 uint32_t rgb = 0) {
    TDrawCall call;
    call.Op = op;
    call.Rect = rect;
    call.Text = text;
    call.Rgb = rgb;
    Calls.push_back(call);
    return Calls.back();
  }
};
