// The mouse notifications of a control: the order in which presses, double-click presses and
// releases from the backend fire OnMouseDown, OnClick, OnDblClick and OnMouseUp, and the binding
// of these events by name from a form description.
#include "Controls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Forms.h"
#include "ObjectText.h"
#include "StdCtrls.h"

namespace {

std::string ButtonName(TMouseButton button) {
  static const char* const Names[] = {"L", "R", "M"};
  return Names[button];
}

// Shift bits other than the buttons', as letters.
std::string ShiftText(TShiftState shift) {
  std::string text;
  if (shift & ssShift) text += " shift";
  if (shift & ssDouble) text += " double";
  return text;
}

// A form class whose published handlers record every event they get, with its arguments.
class TEventForm : public TForm {
  TAVRIX_CLASS(TEventForm)

 public:
  explicit TEventForm(TComponent* owner) : TForm(owner) {}
  TLabel* Label1 = nullptr;
  std::vector<std::string> Events;

  void LabelClick(TObject* /*sender*/) { Events.push_back("click"); }
  void LabelDblClick(TObject* /*sender*/) { Events.push_back("dblclick"); }
  void LabelMouseDown(TObject* /*sender*/, TMouseButton button, TShiftState shift, int32_t x,
                      int32_t y) {
    Events.push_back("down " + ButtonName(button) + ShiftText(shift) + " at " + std::to_string(x) +
                     "," + std::to_string(y));
  }
  void LabelMouseUp(TObject* /*sender*/, TMouseButton button, TShiftState shift, int32_t x,
                    int32_t y) {
    Events.push_back("up " + ButtonName(button) + ShiftText(shift) + " at " + std::to_string(x) +
                     "," + std::to_string(y));
  }
  void LabelMouseMove(TObject* /*sender*/, TShiftState shift, int32_t x, int32_t y) {
    Events.push_back("move" + ShiftText(shift) + " at " + std::to_string(x) + "," +
                     std::to_string(y));
  }
};

const TClassInfo& TEventForm::StaticClassInfo() {
  static const TClassInfo info{
      "TEventForm",
      &TForm::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TEventForm(owner); },
      {},
      {TAVRIX_FIELD(TEventForm, Label1)},
      {TAVRIX_METHOD(TEventForm, LabelClick), TAVRIX_METHOD(TEventForm, LabelDblClick),
       TAVRIX_METHOD(TEventForm, LabelMouseDown), TAVRIX_METHOD(TEventForm, LabelMouseUp),
       TAVRIX_METHOD(TEventForm, LabelMouseMove)}};
  return info;
}

// Reads a description in text form into form.
void ReadText(const char* description, TComponent& form) {
  TMemoryStream text, binary;
  text.WriteBuffer(description, static_cast<int32_t>(std::strlen(description)));
  text.SetPosition(0);
  ObjectTextToBinary(text, binary);
  binary.SetPosition(0);
  ReadComponentFromStream(binary, &form);
}

// A label of 100 x 20 whose every mouse event is bound to the form's handlers.
const char* const BoundLabel = R"(object EventForm1: TEventForm
  object Label1: TLabel
    Left = 10
    Top = 10
    Width = 100
    Height = 20
    AutoSize = False
    Caption = 'Home page'
    OnClick = LabelClick
    OnDblClick = LabelDblClick
    OnMouseDown = LabelMouseDown
    OnMouseMove = LabelMouseMove
    OnMouseUp = LabelMouseUp
  end
end
)";

// One call from the backend.
struct TStep {
  enum { Press, DoublePress, Release, Move } What;
  TMouseButton Button = mbLeft;
  int32_t X = 5;
  TShiftState Shift = 0;
};
constexpr TStep Press{TStep::Press};
constexpr TStep DoublePress{TStep::DoublePress};
constexpr TStep Release{TStep::Release};
constexpr TStep ReleaseOutside{TStep::Release, mbLeft, 100};  // x = Width: just off the label
constexpr TStep RightPress{TStep::Press, mbRight};
constexpr TStep RightDoublePress{TStep::DoublePress, mbRight};
constexpr TStep RightRelease{TStep::Release, mbRight};

void Perform(TControl& control, const TStep& step) {
  switch (step.What) {
    case TStep::Press:
    case TStep::DoublePress:
      control.MousePressed(step.Button, step.Shift, step.X, 7, step.What == TStep::DoublePress);
      break;
    case TStep::Release:
      control.MouseReleased(step.Button, step.Shift, step.X, 7);
      break;
    case TStep::Move:
      control.MouseMove(step.Shift, step.X, 7);
      break;
  }
}

TEST(ControlMouseTest, PressesAndReleasesFireTheirEventsInThePlatformsOrder) {
  const struct {
    const char* what;
    std::vector<TStep> steps;
    std::vector<std::string> events;
  } cases[] = {
      {"a click", {Press, Release}, {"down L at 5,7", "click", "up L at 5,7"}},
      {"released off the label: no click",
       {Press, ReleaseOutside},
       {"down L at 5,7", "up L at 100,7"}},
      {"a double click: its second press is no click",
       {Press, Release, DoublePress, Release},
       {"down L at 5,7", "click", "up L at 5,7", "dblclick", "down L double at 5,7",
        "up L at 5,7"}},
      {"a triple click: a double click, then a click",
       {Press, Release, DoublePress, Release, Press, Release},
       {"down L at 5,7", "click", "up L at 5,7", "dblclick", "down L double at 5,7", "up L at 5,7",
        "down L at 5,7", "click", "up L at 5,7"}},
      {"a double click released off the label",
       {Press, Release, DoublePress, ReleaseOutside},
       {"down L at 5,7", "click", "up L at 5,7", "dblclick", "down L double at 5,7",
        "up L at 100,7"}},
      {"a release without a press clicks nothing", {Release}, {"up L at 5,7"}},
      {"the right button never clicks",
       {RightPress, RightRelease, RightDoublePress, RightRelease},
       {"down R at 5,7", "up R at 5,7", "down R double at 5,7", "up R at 5,7"}},
      {"a right press does not cancel the left click",
       {Press, RightPress, RightRelease, Release},
       {"down L at 5,7", "down R at 5,7", "up R at 5,7", "click", "up L at 5,7"}},
      {"keys held are passed on",
       {{TStep::Press, mbLeft, 5, ssShift}, {TStep::Move, mbLeft, 6, ssShift | ssLeft}},
       {"down L shift at 5,7", "move shift at 6,7"}},
  };
  for (const auto& c : cases) {
    TEventForm form(nullptr);
    ReadText(BoundLabel, form);
    ASSERT_NE(form.Label1, nullptr);
    for (const TStep& step : c.steps) Perform(*form.Label1, step);
    EXPECT_EQ(form.Events, c.events) << c.what;
  }
}

TEST(ControlMouseTest, DescriptionBindsTheMouseEventsByNameAndWritesThemBack) {
  TEventForm form(nullptr);
  ReadText(BoundLabel, form);
  ASSERT_NE(form.Label1, nullptr);
  EXPECT_TRUE(form.Label1->OnDblClick);
  EXPECT_TRUE(form.Label1->OnMouseDown);
  EXPECT_TRUE(form.Label1->OnMouseMove);
  EXPECT_TRUE(form.Label1->OnMouseUp);

  TMemoryStream written, text;
  WriteComponentToStream(written, &form);
  written.SetPosition(0);
  ObjectBinaryToText(written, text);
  const std::string out(reinterpret_cast<const char*>(text.Memory()),
                        static_cast<std::size_t>(text.Size()));
  for (const char* line : {"OnDblClick = LabelDblClick\n", "OnMouseDown = LabelMouseDown\n",
                           "OnMouseMove = LabelMouseMove\n", "OnMouseUp = LabelMouseUp\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  }
}

TEST(ControlMouseTest, HandlerOfOtherParametersIsAnInvalidPropertyValue) {
  const struct {
    const char* binding;
    const char* message;
  } cases[] = {
      {"OnMouseDown = LabelClick", "Error reading Label1.OnMouseDown: Invalid property value"},
      {"OnDblClick = LabelMouseDown", "Error reading Label1.OnDblClick: Invalid property value"},
      {"OnMouseMove = LabelMouseUp", "Error reading Label1.OnMouseMove: Invalid property value"},
      {"OnMouseUp = NoSuchHandler", "Error reading Label1.OnMouseUp: Invalid property value"},
  };
  for (const auto& c : cases) {
    const std::string description = std::string("object EventForm1: TEventForm\n") +
                                    "  object Label1: TLabel\n    " + c.binding + "\n  end\nend\n";
    TEventForm form(nullptr);
    try {
      ReadText(description.c_str(), form);
      ADD_FAILURE() << c.binding << " was accepted";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.binding;
    }
  }
}

TEST(ControlMouseTest, EventOfOtherParametersRefusesTheMethodInCode) {
  const TMethodInfo* click = TEventForm::StaticClassInfo().FindMethod("LabelClick");
  const TMethodInfo* down = TEventForm::StaticClassInfo().FindMethod("LabelMouseDown");
  TEventForm form(nullptr);
  EXPECT_NO_THROW(TMouseEvent(&form, down));
  EXPECT_THROW(TMouseEvent(&form, click), EInvalidOperation);
  EXPECT_THROW(TNotifyEvent(&form, down), EInvalidOperation);
}

}  // namespace
