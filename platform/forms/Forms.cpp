#include "Forms.h"

#include <cctype>

#include "Resources.h"

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

const TIdentMapEntry BorderStyleNames[] = {
    {bsNone, "bsNone"},     {bsSingle, "bsSingle"},         {bsSizeable, "bsSizeable"},
    {bsDialog, "bsDialog"}, {bsToolWindow, "bsToolWindow"}, {bsSizeToolWin, "bsSizeToolWin"}};
const TIdentMapEntry PositionNames[] = {
    {poDesigned, "poDesigned"}, {poDefault, "poDefault"}, {poScreenCenter, "poScreenCenter"}};

void ReportGuardedException(const Exception& e) {
  if (Application) Application->ShowException(e);
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string MessageWithPeriod(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

// --- TCustomForm ---------------------------------------------------------------------------------

const TClassInfo& TCustomForm::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TCustomForm",
      &TWinControl::StaticClassInfo(),
      nullptr,
      {EnumProp("BorderStyle", &TCustomForm::BorderStyle, &TCustomForm::SetBorderStyle,
                BorderStyleNames)
           .WithDefault(bsSizeable),
       IntProp("ClientHeight", &TCustomForm::GetClientHeight, &TCustomForm::SetClientHeight),
       IntProp("ClientWidth", &TCustomForm::GetClientWidth, &TCustomForm::SetClientWidth),
       EnumProp("Position", &TCustomForm::Position, &TCustomForm::SetPosition, PositionNames)
           .WithDefault(poDesigned),
       IntProp("PixelsPerInch", &TCustomForm::PixelsPerInch, &TCustomForm::SetPixelsPerInch),
       IntProp("TextHeight", &TCustomForm::TextHeight, &TCustomForm::SetTextHeight),
       EventProp("OnCreate", &TCustomForm::OnCreate),
       EventProp("OnDestroy", &TCustomForm::OnDestroy)},
      {},
      {}};
  return info;
}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  SetVisible(false);
  SetParentFont(false);
  SetParentColor(false);
  SetColor(clBtnFace);
}

TCustomForm::~TCustomForm() {
  // The window goes while the form is still whole, so that no toolkit event reaches a form
  // that is half destroyed.
  DestroyHandle();
  if (OnDestroy) GuardedCall([this] { OnDestroy(this); });
}

void TCustomForm::Show() {
  FClosing = false;
  HandleNeeded();
  SetVisible(true);
  if (auto* peer = KindPeer<TFormPeer>()) peer->BringToFront();
}

std::unique_ptr<TWinControlPeer> TCustomForm::CreatePeer(TWidgetSet& widgetSet,
                                                         TWinControlPeer* /*parent*/) {
  return widgetSet.CreateFormPeer(*this);
}

void TCustomForm::InitializePeer() {
  TWinControl::InitializePeer();
  KindPeer<TFormPeer>()->SetCaption(Caption());
}

void TCustomForm::TextChanged() {
  if (auto* peer = KindPeer<TFormPeer>()) peer->SetCaption(Caption());
}

void TCustomForm::Close() {
  FClosing = true;
  SetVisible(false);
  if (Application && Application->MainForm() == this) Application->Terminate();
}

void TCustomForm::DoCreate() {
  if (OnCreate) GuardedCall([this] { OnCreate(this); });
}

void TCustomForm::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  // Controls first, in their parents' order, then the components that have no place.
  TWinControl::GetChildren(proc, root);
  for (int i = 0; i < ComponentCount(); ++i) {
    TComponent* c = Components(i);
    if (!dynamic_cast<TControl*>(c)) proc(c);
  }
}

const TClassInfo& TForm::StaticClassInfo() {
  static const TClassInfo info{"TForm",
                               &TCustomForm::StaticClassInfo(),
                               [](TComponent* owner) -> TComponent* { return new TForm(owner); },
                               {},
                               {},
                               {}};
  return info;
}

// --- TScreen -------------------------------------------------------------------------------------

const TClassInfo& TScreen::StaticClassInfo() {
  static const TClassInfo info{"TScreen", &TComponent::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

void TScreen::SetCursorShape(TCursor cursor, std::string shape) {
  FCursors.erase(cursor);
  if (!shape.empty()) FCursors.emplace(cursor, std::move(shape));
}

const std::string* TScreen::CursorShape(TCursor cursor) const {
  auto it = FCursors.find(cursor);
  return it == FCursors.end() ? nullptr : &it->second;
}

// --- TApplication --------------------------------------------------------------------------------

const TClassInfo& TApplication::StaticClassInfo() {
  static const TClassInfo info{"TApplication", &TComponent::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

TApplication::TApplication(TComponent* owner) : TComponent(owner) {}

TApplication::~TApplication() {
  FMainForm = nullptr;
  SetGuardExceptionHandler(nullptr);
}

void TApplication::SetExeName(const std::string& path) {
  FExeName = path;
  std::string name = BaseName(path);
  name = name.substr(0, name.find('.'));
  for (std::size_t i = 1; i < name.size(); ++i) {
    name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  }
  FTitle = name;
}

void TApplication::Initialize() {
  FTerminated = false;
  SetGuardExceptionHandler(&ReportGuardedException);
  LoadIcon();
}

void TApplication::LoadIcon() {
  const std::optional<std::string_view> icon = FindResource("MAINICON");
  if (!icon || !WidgetSet()) return;
  TBitmap bitmap;
  try {
    bitmap.LoadFromMemory(reinterpret_cast<const uint8_t*>(icon->data()), icon->size());
  } catch (const Exception&) {
    return;  // a damaged icon leaves the windows with the system's
  }
  if (!bitmap.Empty()) WidgetSet()->SetApplicationIcon(bitmap, bitmap.TransparentColor());
}

TCustomForm* TApplication::CreateForm(const TClassInfo& formClass) {
  if (!formClass.Create || !formClass.InheritsFrom(TCustomForm::StaticClassInfo())) {
    throw EInvalidOperation(std::string("Cannot create a form of class ") + formClass.Name);
  }
  std::string resourceName = formClass.Name;
  for (char& c : resourceName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::optional<std::string_view> description = FindResource(resourceName);
  if (!description) throw EReadError("Resource " + resourceName + " not found");

  auto* form = static_cast<TCustomForm*>(formClass.Create(this));
  try {
    // Read in place: a description that carries large files is not copied first.
    TReadOnlyMemoryStream stream(description->data(), static_cast<int64_t>(description->size()));
    ReadComponentFromStream(stream, form);
  } catch (...) {
    // Destroying the half-built form destroys what was made so far, temporary files included.
    delete form;
    throw;
  }
  if (!FMainForm) FMainForm = form;
  form->DoCreate();
  return form;
}

void TApplication::Run() {
  if (!FMainForm || FTerminated) return;
  FMainForm->Show();
  if (!FTerminated && WidgetSet()) WidgetSet()->Run();
}

void TApplication::Terminate() {
  FTerminated = true;
  if (WidgetSet()) WidgetSet()->Quit();
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  if (MessageBoxHook) return MessageBoxHook(text, caption, flags);
  if (WidgetSet()) return WidgetSet()->MessageBox(text, caption, flags);
  return 0;
}

void TApplication::ShowException(const Exception& e) {
  MessageBox(MessageWithPeriod(e.Message()), FTitle, MB_OK | MB_ICONSTOP);
}

void TApplication::ShowLastChanceException(const Exception& e) {
  std::string message = e.Message();
  if (message.empty() || message.back() != '.') message += '.';
  // A C++ exception carries no code address; the box keeps its place with a null one.
  std::string text =
      Format("Exception %s in module %s at %p.\n",
             {e.ClassName(), BaseName(FExeName), static_cast<const void*>(nullptr)}) +
      message;
  MessageBox(text, "Application Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

void TApplication::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == FMainForm) FMainForm = nullptr;
}

TApplication& InitApplicationObjects() {
  if (!Application) {
    Application = new TApplication(nullptr);
    Screen = new TScreen(nullptr);
  }
  return *Application;
}

void DoneApplicationObjects() {
  delete Application;
  Application = nullptr;
  delete Screen;
  Screen = nullptr;
}
