// What a backend sees of the controls: which factory makes each kind's peer, in what order peers
// are made, fed and destroyed, and which kind's calls a change reaches. A fake widget set records
// every call as "<control name>.<call>(<value>)".
#include "WidgetSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace {

using TLog = std::vector<std::string>;

std::string RectText(const TRect& r) {
  return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) +
         "," + std::to_string(r.Bottom);
}

// The calls that all kinds share, recorded under the control's name.
template <class TInterface>
class TRecordingPeer : public TInterface {
 public:
  TRecordingPeer(TLog& log, std::string name) : FLog(log), FName(std::move(name)) {}
  ~TRecordingPeer() override { Record("destroyed"); }

  void SetBounds(const TRect& bounds) override { Record("SetBounds", RectText(bounds)); }
  void SetVisible(bool visible) override { Record("SetVisible", visible ? "1" : "0"); }
  void SetEnabled(bool enabled) override { Record("SetEnabled", enabled ? "1" : "0"); }
  void SetFont(const TFont& font) override { Record("SetFont", font.Name()); }
  void SetColor(uint32_t rgb) override { Record("SetColor", std::to_string(rgb)); }
  void SetCursor(TCursor cursor) override { Record("SetCursor", std::to_string(cursor)); }
  void SetFocus() override { Record("SetFocus"); }
  bool Focused() const override { return false; }
  void Invalidate() override {}

 protected:
  void Record(const std::string& call, const std::string& value = "") {
    FLog.push_back(FName + "." + call + "(" + value + ")");
  }

 private:
  TLog& FLog;
  std::string FName;
};

class TFakeFormPeer : public TRecordingPeer<TFormPeer> {
 public:
  using TRecordingPeer<TFormPeer>::TRecordingPeer;
  void SetCaption(const std::string& caption) override { Record("SetCaption", caption); }
  void BringToFront() override { Record("BringToFront"); }
};

class TFakeContainerPeer : public TRecordingPeer<TContainerPeer> {
 public:
  using TRecordingPeer<TContainerPeer>::TRecordingPeer;
  void BringToFront() override { Record("BringToFront"); }
};

class TFakeButtonPeer : public TRecordingPeer<TButtonPeer> {
 public:
  using TRecordingPeer<TButtonPeer>::TRecordingPeer;
  void SetCaption(const std::string& caption) override { Record("SetCaption", caption); }
};

class TFakeMemoPeer : public TRecordingPeer<TMemoPeer> {
 public:
  using TRecordingPeer<TMemoPeer>::TRecordingPeer;
  void SetLines(const std::string& text) override { Record("SetLines", text); }
  void SetMemoOptions(bool readOnly, bool wordWrap, bool vertical, bool horizontal) override {
    Record("SetMemoOptions", std::string(readOnly ? "r" : "-") + (wordWrap ? "w" : "-") +
                                 (vertical ? "v" : "-") + (horizontal ? "h" : "-"));
  }
};

class TFakeWidgetSet : public TWidgetSet {
 public:
  TFakeWidgetSet() { SetWidgetSet(this); }
  ~TFakeWidgetSet() override { SetWidgetSet(nullptr); }

  // Each factory records the kind it made and the control whose peer is the parent.
  std::unique_ptr<TFormPeer> CreateFormPeer(TCustomForm& form) override {
    Log.push_back("form " + form.Name());
    return Made(std::make_unique<TFakeFormPeer>(Log, form.Name()), form);
  }
  std::unique_ptr<TContainerPeer> CreateContainerPeer(TWinControl& control,
                                                      TWinControlPeer& parent) override {
    Log.push_back("container " + control.Name() + " in " + NameOf(parent));
    return Made(std::make_unique<TFakeContainerPeer>(Log, control.Name()), control);
  }
  std::unique_ptr<TButtonPeer> CreateButtonPeer(TButton& button, TWinControlPeer& parent) override {
    Log.push_back("button " + button.Name() + " in " + NameOf(parent));
    return Made(std::make_unique<TFakeButtonPeer>(Log, button.Name()), button);
  }
  std::unique_ptr<TMemoPeer> CreateMemoPeer(TMemo& memo, TWinControlPeer& parent) override {
    Log.push_back("memo " + memo.Name() + " in " + NameOf(parent));
    return Made(std::make_unique<TFakeMemoPeer>(Log, memo.Name()), memo);
  }

  void Run() override {}
  void Quit() override {}
  void ProcessMessages() override {}
  int MessageBox(const std::string&, const std::string&, uint32_t) override { return 1; }
  TWinControl* FocusedControl() override { return nullptr; }
  void PopupMenu(TPopupMenu&, int32_t, int32_t) override {}
  void SetClipboardText(const std::string&) override {}
  std::string ClipboardText() override { return {}; }
  void SetApplicationIcon(const TBitmap&, uint32_t) override {}

  // The calls of one control, in order.
  TLog CallsOf(const std::string& name) const {
    TLog calls;
    for (const std::string& entry : Log) {
      if (entry.rfind(name + ".", 0) == 0) calls.push_back(entry.substr(name.size() + 1));
    }
    return calls;
  }

  TLog Log;

 private:
  template <class TPeer>
  std::unique_ptr<TPeer> Made(std::unique_ptr<TPeer> peer, TWinControl& control) {
    FNames.push_back({peer.get(), control.Name()});
    return peer;
  }
  std::string NameOf(TWinControlPeer& parent) const {
    for (const auto& [peer, name] : FNames) {
      if (peer == &parent) return name;
    }
    return "a peer of another widget set";
  }
  std::vector<std::pair<const TWinControlPeer*, std::string>> FNames;
};

// A form with a notebook of one page that holds a button and a memo, all named.
struct TSmallForm {
  explicit TSmallForm(TComponent* owner) {
    Form = new TForm(owner);
    Form->SetName("Form1");
    Form->SetCaption("Setup");
    Notebook = new TNotebook(Form);
    Notebook->SetName("Notebook1");
    Notebook->SetParent(Form);
    Page = new TPage(Notebook);
    Page->SetName("Page1");
    Page->SetParent(Notebook);
    Button = new TButton(Form);
    Button->SetName("Button1");
    Button->SetCaption("OK");
    Button->SetParent(Page);
    Memo = new TMemo(Form);
    Memo->SetName("Memo1");
    Memo->SetReadOnly(true);
    Memo->SetScrollBars(ssVertical);
    Memo->Lines().Add("one");
    Memo->Lines().Add("two");
    Memo->SetParent(Page);
  }
  TForm* Form;
  TNotebook* Notebook;
  TPage* Page;
  TButton* Button;
  TMemo* Memo;
};

TEST(WidgetSetTest, EachKindComesFromItsOwnFactoryParentsFirst) {
  TFakeWidgetSet widgetSet;
  TComponent owner(nullptr);
  TSmallForm small(&owner);
  small.Form->Show();

  TLog made;
  std::copy_if(widgetSet.Log.begin(), widgetSet.Log.end(), std::back_inserter(made),
               [](const std::string& entry) { return entry.find('.') == std::string::npos; });
  EXPECT_EQ(made,
            (TLog{"form Form1", "container Notebook1 in Form1", "container Page1 in Notebook1",
                  "button Button1 in Page1", "memo Memo1 in Page1"}));
}

TEST(WidgetSetTest, NewPeerTakesTheWholeStateWithItsKindsCallsAndVisibilityLast) {
  TFakeWidgetSet widgetSet;
  TComponent owner(nullptr);
  TSmallForm small(&owner);
  small.Button->SetBounds(10, 20, 75, 25);
  small.Button->SetEnabled(false);
  small.Form->Show();

  const std::string font = small.Form->Font().Name();
  const std::string face = std::to_string(ColorToRGB(clBtnFace));
  const std::string window = std::to_string(ColorToRGB(clWindow));
  const struct {
    const char* control;
    TLog calls;
  } cases[] = {
      // Forms are made hidden; Show makes them visible and brings them forward.
      {"Form1",
       {"SetBounds(0,0,0,0)", "SetFont(" + font + ")", "SetColor(" + face + ")", "SetCursor(0)",
        "SetEnabled(1)", "SetCaption(Setup)", "SetVisible(0)", "SetVisible(1)", "BringToFront()"}},
      {"Button1",
       {"SetBounds(10,20,85,45)", "SetFont(" + font + ")", "SetColor(" + face + ")", "SetCursor(0)",
        "SetEnabled(0)", "SetCaption(OK)", "SetVisible(1)"}},
      {"Memo1",
       {"SetBounds(0,0,185,89)", "SetFont(" + font + ")", "SetColor(" + window + ")",
        "SetCursor(0)", "SetEnabled(1)", "SetMemoOptions(rwv-)", "SetLines(one\ntwo)",
        "SetVisible(1)"}},
  };
  for (const auto& c : cases) {
    TLog calls = widgetSet.CallsOf(c.control);
    // The alignment of the page may move it after it is made; only the first pushes count.
    calls.resize(std::min(calls.size(), c.calls.size()));
    EXPECT_EQ(calls, c.calls) << c.control;
  }
}

TEST(WidgetSetTest, ChangesReachTheCallsOfTheControlsKind) {
  TFakeWidgetSet widgetSet;
  TComponent owner(nullptr);
  TSmallForm small(&owner);
  small.Form->Show();

  const struct {
    const char* what;
    void (*change)(TSmallForm&);
    const char* control;
    std::string call;
  } cases[] = {
      {"form caption", [](TSmallForm& f) { f.Form->SetCaption("Licence"); }, "Form1",
       "SetCaption(Licence)"},
      {"button caption", [](TSmallForm& f) { f.Button->SetCaption("&Accept"); }, "Button1",
       "SetCaption(&Accept)"},
      {"memo lines", [](TSmallForm& f) { f.Memo->Lines().Add("three"); }, "Memo1",
       "SetLines(one\ntwo\nthree)"},
      {"memo options", [](TSmallForm& f) { f.Memo->SetWordWrap(false); }, "Memo1",
       "SetMemoOptions(r-v-)"},
      {"cursor", [](TSmallForm& f) { f.Button->SetCursor(crHandPoint); }, "Button1",
       "SetCursor(-21)"},
      {"page shown", [](TSmallForm& f) { f.Page->BringToFront(); }, "Page1", "BringToFront()"},
  };
  for (const auto& c : cases) {
    widgetSet.Log.clear();
    c.change(small);
    TLog calls = widgetSet.CallsOf(c.control);
    EXPECT_NE(std::find(calls.begin(), calls.end(), c.call), calls.end()) << c.what;
  }
  // A caption of a control whose kind shows none goes nowhere.
  widgetSet.Log.clear();
  small.Page->SetCaption("Welcome");
  small.Memo->SetCaption("ignored");
  EXPECT_TRUE(widgetSet.Log.empty());
}

TEST(WidgetSetTest, ChildPeersGoBeforeTheirParentsAndTheFormsPeerBeforeItsControls) {
  TFakeWidgetSet widgetSet;
  auto owner = std::make_unique<TComponent>(nullptr);
  TSmallForm small(owner.get());
  small.Form->Show();
  widgetSet.Log.clear();
  owner.reset();
  EXPECT_EQ(widgetSet.Log, (TLog{"Button1.destroyed()", "Memo1.destroyed()", "Page1.destroyed()",
                                 "Notebook1.destroyed()", "Form1.destroyed()"}));
}

TEST(WidgetSetTest, ControlWithoutAParentGetsNoPeerButAFormDoes) {
  TFakeWidgetSet widgetSet;
  TButton button(nullptr);
  button.HandleNeeded();
  button.SetFocus();
  EXPECT_FALSE(button.HandleAllocated());
  TForm form(nullptr);
  form.HandleNeeded();
  EXPECT_TRUE(form.HandleAllocated());
  TButton inside(&form);
  inside.SetParent(&form);
  EXPECT_TRUE(inside.HandleAllocated()) << "made as soon as its parent has a peer";
}

}  // namespace
