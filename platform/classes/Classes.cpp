#include "Classes.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <new>

// --- Class records and registry ------------------------------------------------------------------

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c; c = c->Parent) {
    if (c == &other) return true;
  }
  return false;
}

const TPropInfo* TClassInfo::FindProp(std::string_view name) const {
  for (const TClassInfo* c = this; c; c = c->Parent) {
    for (const TPropInfo& p : c->Props) {
      if (SameText(p.Name, name)) return &p;
    }
  }
  return nullptr;
}

const TFieldInfo* TClassInfo::FindField(std::string_view name) const {
  for (const TClassInfo* c = this; c; c = c->Parent) {
    for (const TFieldInfo& f : c->Fields) {
      if (SameText(f.Name, name)) return &f;
    }
  }
  return nullptr;
}

const TMethodInfo* TClassInfo::FindMethod(std::string_view name) const {
  for (const TClassInfo* c = this; c; c = c->Parent) {
    for (const TMethodInfo& m : c->Methods) {
      if (SameText(m.Name, name)) return &m;
    }
  }
  return nullptr;
}

std::vector<const TPropInfo*> TClassInfo::AllProps() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = this; c; c = c->Parent) chain.push_back(c);
  std::vector<const TPropInfo*> props;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (const TPropInfo& p : (*it)->Props) {
      // A class that publishes a property again replaces the inherited entry in its place.
      auto same = std::find_if(props.begin(), props.end(),
                               [&](const TPropInfo* q) { return SameText(q->Name, p.Name); });
      if (same != props.end())
        *same = &p;
      else
        props.push_back(&p);
    }
  }
  return props;
}

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::map<std::string, const TClassInfo*>& Registry() {
  static std::map<std::string, const TClassInfo*> registry;
  return registry;
}

}  // namespace

void RegisterClass(const TClassInfo& info) { Registry()[Lower(info.Name)] = &info; }

void RegisterClasses(std::initializer_list<const TClassInfo*> infos) {
  for (const TClassInfo* info : infos) RegisterClass(*info);
}

const TClassInfo* GetClass(std::string_view name) {
  auto it = Registry().find(Lower(name));
  return it == Registry().end() ? nullptr : it->second;
}

const TClassInfo& FindClass(std::string_view name) {
  if (const TClassInfo* info = GetClass(name)) return *info;
  throw EClassNotFound(Format(SysConst::SClassNotFound, {name}));
}

// --- TPersistent ---------------------------------------------------------------------------------

const TClassInfo& TPersistent::StaticClassInfo() {
  static const TClassInfo info{"TPersistent", nullptr, nullptr, {}, {}, {}};
  return info;
}

void TPersistent::Assign(const TPersistent& source) { source.AssignTo(*this); }

void TPersistent::AssignTo(TPersistent& dest) const {
  throw EConvertError(Format(SysConst::SAssignError, {ClassName(), dest.ClassName()}));
}

void TPersistent::DefineProperties(TFiler& /*filer*/) {}

// --- TComponent ----------------------------------------------------------------------------------

const TClassInfo& TComponent::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TComponent",
      &TPersistent::StaticClassInfo(),
      [](TComponent* owner) { return new TComponent(owner); },
      {IntProp("Tag", &TComponent::Tag, &TComponent::SetTag).WithDefault(0)},
      {},
      {}};
  return info;
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  FComponentState |= csDestroying;
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    std::erase(other->FFreeNotifies, this);
    other->Notification(this, TOperation::opRemove);
  }
  for (TComponent* c : FComponents) c->FComponentState |= csDestroying;
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    delete last;  // leaves our list in its own destructor
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

bool IsValidIdent(std::string_view name) {
  if (name.empty()) return false;
  auto alpha = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
  if (!alpha(name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(), [&](char c) {
    return alpha(c) || std::isdigit(static_cast<unsigned char>(c));
  });
}

void TComponent::SetName(const std::string& name) {
  if (name == FName) return;
  if (!name.empty() && !IsValidIdent(name)) {
    throw EComponentError(Format(SysConst::SInvalidName, {name}));
  }
  if (!name.empty() && FOwner) {
    TComponent* other = FOwner->FindComponent(name);
    if (other && other != this) throw EComponentError(Format(SysConst::SDuplicateName, {name}));
  }
  SetReference(false);
  FName = name;
  SetReference(true);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents) {
    if (SameText(c->FName, name)) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component->FName.empty() && FindComponent(component->FName)) {
    throw EComponentError(Format(SysConst::SDuplicateName, {component->FName}));
  }
  FComponents.push_back(component);
  component->FOwner = this;
  component->SetReference(true);
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  Notification(component, TOperation::opRemove);
  component->SetReference(false);
  std::erase(FComponents, component);
  component->FOwner = nullptr;
}

void TComponent::SetReference(bool enable) {
  if (!FOwner || FName.empty()) return;
  if (const TFieldInfo* field = FOwner->ClassInfo().FindField(FName)) {
    // A component of another class than its field is simply not bound; the reader checks the
    // class before it names a component.
    field->Assign(*FOwner, enable ? this : nullptr);
  }
}

void TComponent::Loaded() { FComponentState &= ~csLoading; }

void TComponent::ReadState(TReader& reader) { reader.ReadData(this); }

void TComponent::WriteState(TWriter& writer) { writer.WriteData(this); }

void TComponent::GetChildren(const std::function<void(TComponent*)>& /*proc*/,
                             TComponent* /*root*/) {}

TComponent* TComponent::GetChildOwner() { return nullptr; }

TComponent* TComponent::GetChildParent() { return this; }

void TComponent::SetParentComponent(TComponent* /*parent*/) {}

void TComponent::Notification(TComponent* /*component*/, TOperation /*operation*/) {}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(component);
  }
  if (std::find(component->FFreeNotifies.begin(), component->FFreeNotifies.end(), this) ==
      component->FFreeNotifies.end()) {
    component->FFreeNotifies.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  std::erase(FFreeNotifies, component);
  std::erase(component->FFreeNotifies, this);
}

void TComponent::DefineProperties(TFiler& filer) {
  // Components that have no place of their own keep their position on the design surface.
  auto lo = [this] { return static_cast<int16_t>(FDesignInfo & 0xFFFF); };
  auto hi = [this] { return static_cast<int16_t>((FDesignInfo >> 16) & 0xFFFF); };
  auto setLo = [this](int64_t v) {
    FDesignInfo = static_cast<int32_t>((static_cast<uint32_t>(FDesignInfo) & 0xFFFF0000u) |
                                       (static_cast<uint32_t>(v) & 0xFFFFu));
  };
  auto setHi = [this](int64_t v) {
    FDesignInfo = static_cast<int32_t>((static_cast<uint32_t>(FDesignInfo) & 0x0000FFFFu) |
                                       ((static_cast<uint32_t>(v) & 0xFFFFu) << 16));
  };
  filer.DefineProperty(
      "Left", [setLo](TReader& r) { setLo(r.ReadInteger()); },
      [lo](TWriter& w) { w.WriteInteger(lo()); }, lo() != 0);
  filer.DefineProperty(
      "Top", [setHi](TReader& r) { setHi(r.ReadInteger()); },
      [hi](TWriter& w) { w.WriteInteger(hi()); }, hi() != 0);
}

// --- TReader -------------------------------------------------------------------------------------

namespace {

// Restores a value when the scope ends, on every path.
template <class T>
class TRestore {
 public:
  TRestore(T& ref, T value) : FRef(ref), FSaved(ref) { ref = std::move(value); }
  ~TRestore() { FRef = std::move(FSaved); }
  TRestore(const TRestore&) = delete;
  TRestore& operator=(const TRestore&) = delete;

 private:
  T& FRef;
  T FSaved;
};

class TDepthGuard {
 public:
  explicit TDepthGuard(int& depth) : FDepth(depth) {
    if (++FDepth > MaxFormNesting) {
      --FDepth;
      throw EReadError(SysConst::SNestedTooDeeply);
    }
  }
  ~TDepthGuard() { --FDepth; }
  TDepthGuard(const TDepthGuard&) = delete;
  TDepthGuard& operator=(const TDepthGuard&) = delete;

 private:
  int& FDepth;
};

long double ExtendedToLongDouble(const uint8_t bytes[10]) {
  static_assert(std::numeric_limits<long double>::digits == 64,
                "long double must be the 80-bit extended type");
  long double value = 0;
  std::memcpy(&value, bytes, 10);
  return value;
}

std::string WideToNarrow(const std::u16string& wide) {
  std::string out;
  out.reserve(wide.size());
  for (char16_t c : wide) out += c < 256 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

void TReader::ReadSignature() {
  char signature[4];
  FStream.ReadBuffer(signature, 4);
  if (std::memcmp(signature, FilerSignature, 4) != 0) throw EReadError(SysConst::SInvalidImage);
}

void TReader::ReadPrefix(uint8_t& flags, int32_t& childPos) {
  flags = 0;
  childPos = 0;
  if (NextValue() >= static_cast<TValueType>(0xF0)) {
    uint8_t prefix = 0;
    FStream.ReadBuffer(&prefix, 1);
    flags = prefix & 0x0F;
    if (flags & ffChildPos) childPos = static_cast<int32_t>(ReadInteger());
  }
}

int32_t TReader::ReadInt32() {
  uint8_t b[4];
  FStream.ReadBuffer(b, 4);
  return static_cast<int32_t>(LoadLE32(b));
}

void TReader::CheckRemaining(int64_t count) {
  // A length that the rest of the description cannot hold is refused before anything is
  // allocated for it.
  if (count < 0) throw EReadError(SysConst::SReadError);
  int64_t pos = FStream.Position();
  int64_t size = FStream.Size();
  if (pos >= 0 && size >= 0 && count > size - pos) throw EReadError(SysConst::SReadError);
}

void TReader::SkipBytes(int64_t count) {
  CheckRemaining(count);
  FStream.Seek(count, TSeekOrigin::soCurrent);
}

TValueType TReader::ReadValue() {
  uint8_t b = 0;
  FStream.ReadBuffer(&b, 1);
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  TValueType v = ReadValue();
  FStream.Seek(-1, TSeekOrigin::soCurrent);
  return v;
}

bool TReader::EndOfList() { return NextValue() == TValueType::vaNull; }

void TReader::ReadListBegin() {
  if (ReadValue() != TValueType::vaList) PropValueError();
}

void TReader::ReadListEnd() {
  if (ReadValue() != TValueType::vaNull) PropValueError();
}

std::string TReader::ReadStr() {
  uint8_t len = 0;
  FStream.ReadBuffer(&len, 1);
  std::string s(len, '\0');
  FStream.ReadBuffer(s.data(), len);
  return s;
}

int64_t TReader::ReadInteger() {
  switch (ReadValue()) {
    case TValueType::vaInt8: {
      int8_t v = 0;
      FStream.ReadBuffer(&v, 1);
      return v;
    }
    case TValueType::vaInt16: {
      uint8_t b[2];
      FStream.ReadBuffer(b, 2);
      return static_cast<int16_t>(LoadLE16(b));
    }
    case TValueType::vaInt32:
      return ReadInt32();
    case TValueType::vaInt64: {
      uint8_t b[8];
      FStream.ReadBuffer(b, 8);
      return static_cast<int64_t>(LoadLE64(b));
    }
    default:
      PropValueError();
  }
  return 0;
}

bool TReader::ReadBoolean() {
  TValueType v = ReadValue();
  if (v == TValueType::vaTrue) return true;
  if (v == TValueType::vaFalse) return false;
  PropValueError();
  return false;
}

std::string TReader::ReadString() {
  switch (ReadValue()) {
    case TValueType::vaString: {
      return ReadStr();
    }
    case TValueType::vaLString:
    case TValueType::vaUTF8String: {
      int32_t len = ReadInt32();
      CheckRemaining(len);
      std::string s(static_cast<std::size_t>(len), '\0');
      FStream.ReadBuffer(s.data(), len);
      return s;
    }
    case TValueType::vaWString: {
      int32_t count = ReadInt32();
      if (count < 0 || count > std::numeric_limits<int32_t>::max() / 2) {
        throw EReadError(SysConst::SReadError);
      }
      CheckRemaining(int64_t{count} * 2);
      std::u16string wide(static_cast<std::size_t>(count), u'\0');
      for (char16_t& c : wide) {
        uint8_t b[2];
        FStream.ReadBuffer(b, 2);
        c = static_cast<char16_t>(LoadLE16(b));
      }
      return WideToNarrow(wide);
    }
    default:
      PropValueError();
  }
  return {};
}

std::string TReader::ReadIdent() {
  switch (ReadValue()) {
    case TValueType::vaIdent:
      return ReadStr();
    case TValueType::vaFalse:
      return "False";
    case TValueType::vaTrue:
      return "True";
    case TValueType::vaNil:
      return "nil";
    case TValueType::vaNull:
      return "Null";
    default:
      PropValueError();
  }
  return {};
}

long double TReader::ReadFloat() {
  switch (NextValue()) {
    case TValueType::vaExtended: {
      ReadValue();
      uint8_t b[10];
      FStream.ReadBuffer(b, 10);
      return ExtendedToLongDouble(b);
    }
    case TValueType::vaSingle: {
      ReadValue();
      float f = 0;
      FStream.ReadBuffer(&f, 4);
      return f;
    }
    case TValueType::vaDate: {
      ReadValue();
      double d = 0;
      FStream.ReadBuffer(&d, 8);
      return d;
    }
    case TValueType::vaCurrency: {
      ReadValue();
      int64_t c = 0;
      FStream.ReadBuffer(&c, 8);
      return static_cast<long double>(c) / 10000.0L;
    }
    default:
      return static_cast<long double>(ReadInteger());
  }
}

void TReader::SkipValue() {
  TDepthGuard depth(FDepth);
  switch (ReadValue()) {
    case TValueType::vaNull:
    case TValueType::vaFalse:
    case TValueType::vaTrue:
    case TValueType::vaNil:
      break;
    case TValueType::vaList:
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      break;
    case TValueType::vaInt8:
      SkipBytes(1);
      break;
    case TValueType::vaInt16:
      SkipBytes(2);
      break;
    case TValueType::vaInt32:
    case TValueType::vaSingle:
      SkipBytes(4);
      break;
    case TValueType::vaInt64:
    case TValueType::vaCurrency:
    case TValueType::vaDate:
      SkipBytes(8);
      break;
    case TValueType::vaExtended:
      SkipBytes(10);
      break;
    case TValueType::vaString:
    case TValueType::vaIdent:
      ReadStr();
      break;
    case TValueType::vaBinary:
    case TValueType::vaLString:
    case TValueType::vaUTF8String:
      SkipBytes(ReadInt32());
      break;
    case TValueType::vaWString:
      SkipBytes(int64_t{ReadInt32()} * 2);
      break;
    case TValueType::vaSet:
      while (!ReadStr().empty()) {
      }
      break;
    case TValueType::vaCollection:
      while (!EndOfList()) {
        TValueType v = NextValue();
        if (v == TValueType::vaInt8 || v == TValueType::vaInt16 || v == TValueType::vaInt32) {
          ReadInteger();
        }
        ReadListBegin();
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      break;
    default:
      throw EReadError(SysConst::SInvalidImage);
  }
}

void TReader::PropValueError() { throw EReadError(SysConst::SInvalidPropertyValue); }

void TReader::DefineProperty(const std::string& name, const TReaderProc& readData,
                             const TWriterProc& /*writeData*/, bool /*hasData*/) {
  if (!FPropName.empty() && readData && SameText(name, FPropName)) {
    readData(*this);
    FPropName.clear();
  }
}

void TReader::DefineBinaryProperty(const std::string& name, const TStreamProc& readData,
                                   const TStreamProc& /*writeData*/, bool /*hasData*/) {
  if (FPropName.empty() || !readData || !SameText(name, FPropName)) return;
  if (ReadValue() != TValueType::vaBinary) PropValueError();
  int32_t length = ReadInt32();
  CheckRemaining(length);
  if (auto* memory = dynamic_cast<TReadOnlyMemoryStream*>(&FStream)) {
    // A description in memory hands the value over in place: the file sources of an installer
    // image unpack megabytes from here, and a copy would only cost start-up time.
    TReadOnlyMemoryStream value(memory->Memory() + memory->Position(), length);
    SkipBytes(length);
    readData(value);
  } else {
    TMemoryStream value;
    value.SetSize(length);
    FStream.ReadBuffer(value.Memory(), length);
    value.SetPosition(0);
    readData(value);
  }
  FPropName.clear();
}

const TClassInfo& TReader::FindComponentClass(const std::string& className) {
  // The classes of the root's published fields are known without registration.
  for (const TClassInfo* c = FRoot ? &FRoot->ClassInfo() : nullptr; c; c = c->Parent) {
    for (const TFieldInfo& f : c->Fields) {
      const TClassInfo& fieldClass = f.FieldClass();
      if (SameText(fieldClass.Name, className)) return fieldClass;
    }
  }
  return FindClass(className);
}

void TReader::ReadRootComponent(TComponent* root) {
  FRoot = root;
  FOwner = root;
  FParent = root;
  FLoaded.clear();
  FFixups.clear();
  try {
    ReadSignature();
    uint8_t flags = 0;
    int32_t childPos = 0;
    ReadPrefix(flags, childPos);
    ReadStr();  // the class name; the caller chose the class
    std::string name = ReadStr();
    root->SetLoadingState(csLoading | csReading, 0);
    FLoaded.push_back(root);
    if (root->Name().empty()) root->SetName(name);
    root->ReadState(*this);
    root->SetLoadingState(0, csReading);
    CheckRootFields();
    ResolveFixups();
    for (TComponent* c : FLoaded) c->Loaded();
    FLoaded.clear();
  } catch (...) {
    for (TComponent* c : FLoaded) c->SetLoadingState(0, csLoading | csReading);
    FLoaded.clear();
    FFixups.clear();
    throw;
  }
}

void TReader::CheckRootFields() {
  std::string missing;
  for (const TClassInfo* c = &FRoot->ClassInfo(); c; c = c->Parent) {
    for (const TFieldInfo& field : c->Fields) {
      if (FRoot->FindComponent(field.Name)) continue;
      if (!missing.empty()) missing += ", ";
      missing += field.Name;
    }
  }
  if (!missing.empty()) {
    throw EReadError(Format(SysConst::SMissingComponents, {FRoot->ClassName(), missing}));
  }
}

void TReader::ReadProperties(TComponent* instance) {
  while (!EndOfList()) ReadProperty(*instance, *instance);
  ReadListEnd();
}

void TReader::ReadData(TComponent* instance) {
  TDepthGuard depth(FDepth);
  ReadProperties(instance);
  TComponent* childOwner = instance->GetChildOwner();
  TRestore<TComponent*> owner(FOwner, childOwner ? childOwner : FRoot);
  TRestore<TComponent*> parent(FParent, instance->GetChildParent());
  while (!EndOfList()) ReadComponent();
  ReadListEnd();
}

TComponent* TReader::ReadComponent() {
  uint8_t flags = 0;
  int32_t childPos = 0;
  ReadPrefix(flags, childPos);
  std::string className = ReadStr();
  std::string name = ReadStr();
  const TClassInfo& info = FindComponentClass(className);
  if (!info.Create) throw EClassNotFound(Format(SysConst::SClassNotFound, {className}));
  if (FOwner && !name.empty()) {
    if (const TFieldInfo* field = FOwner->ClassInfo().FindField(name)) {
      if (!info.InheritsFrom(field->FieldClass())) {
        throw EReadError(Format(SysConst::SFieldClassMismatch, {name, field->FieldClass().Name}));
      }
    }
  }
  TComponent* component = info.Create(FOwner);
  try {
    component->SetLoadingState(csLoading | csReading, 0);
    component->SetParentComponent(FParent);
    component->SetName(name);
    FLoaded.push_back(component);
    component->ReadState(*this);
    component->SetLoadingState(0, csReading);
  } catch (...) {
    std::erase(FLoaded, component);
    std::erase_if(FFixups, [component](const TFixup& f) { return f.Instance == component; });
    delete component;
    throw;
  }
  return component;
}

void TReader::ReadProperty(TPersistent& instance, TComponent& component) {
  FPropName = ReadStr();
  const std::string path = FPropName;
  try {
    // "Font.Name": walk through the owned objects to the one that has the last name.
    TPersistent* target = &instance;
    std::string_view rest = path;
    for (std::size_t dot; (dot = rest.find('.')) != std::string_view::npos;) {
      std::string_view part = rest.substr(0, dot);
      const TPropInfo* prop = target->ClassInfo().FindProp(part);
      if (!prop || prop->Kind != TPropKind::Class || !prop->GetObject(*target)) {
        throw EReadError(Format(SysConst::SUnknownProperty, {path}));
      }
      target = prop->GetObject(*target);
      rest.remove_prefix(dot + 1);
    }
    FPropName = std::string(rest);
    if (const TPropInfo* prop = target->ClassInfo().FindProp(FPropName)) {
      ReadPropValue(*target, *prop);
    } else {
      target->DefineProperties(*this);
      if (!FPropName.empty()) throw EReadError(Format(SysConst::SUnknownProperty, {path}));
    }
    FPropName.clear();
  } catch (const Exception& e) {
    FPropName.clear();
    std::string name = component.Name().empty() ? component.ClassName() : component.Name();
    throw EReadError(Format(SysConst::SPropertyException, {name, path, e.Message()}), e.Reason());
  } catch (const std::bad_alloc&) {
    FPropName.clear();
    std::string name = component.Name().empty() ? component.ClassName() : component.Name();
    throw EReadError(Format(SysConst::SPropertyException, {name, path, SysConst::SOutOfMemory}));
  }
}

void TReader::ReadPropValue(TPersistent& instance, const TPropInfo& prop) {
  auto identValue = [&](const std::string& ident) -> int64_t {
    for (const TIdentMapEntry& e : prop.Idents) {
      if (SameText(e.Name, ident)) return e.Value;
    }
    PropValueError();
    return 0;
  };
  switch (prop.Kind) {
    case TPropKind::Integer:
      if (NextValue() == TValueType::vaIdent) {
        prop.SetOrd(instance, identValue(ReadIdent()));
      } else {
        prop.SetOrd(instance, ReadInteger());
      }
      break;
    case TPropKind::Boolean:
      prop.SetOrd(instance, ReadBoolean() ? 1 : 0);
      break;
    case TPropKind::Enumeration:
      if (NextValue() != TValueType::vaIdent && NextValue() != TValueType::vaFalse &&
          NextValue() != TValueType::vaTrue) {
        PropValueError();
      }
      prop.SetOrd(instance, identValue(ReadIdent()));
      break;
    case TPropKind::Set: {
      if (ReadValue() != TValueType::vaSet) PropValueError();
      int64_t bits = 0;
      for (std::string name = ReadStr(); !name.empty(); name = ReadStr()) {
        int64_t bit = identValue(name);
        if (bit < 0 || bit > 62) PropValueError();
        bits |= int64_t{1} << bit;
      }
      prop.SetOrd(instance, bits);
      break;
    }
    case TPropKind::String:
      prop.SetStr(instance, ReadString());
      break;
    case TPropKind::Float:
      prop.SetFloat(instance, ReadFloat());
      break;
    case TPropKind::Method: {
      if (NextValue() == TValueType::vaNil) {
        ReadValue();
        prop.SetMethod(instance, TMethod());
        break;
      }
      if (NextValue() != TValueType::vaIdent) PropValueError();
      std::string name = ReadIdent();
      const TMethodInfo* method = FRoot ? FRoot->ClassInfo().FindMethod(name) : nullptr;
      // A method of other parameters than the event passes would be called with the wrong ones.
      if (!method || method->Signature != prop.MethodSignature) PropValueError();
      prop.SetMethod(instance, TMethod{FRoot, method});
      break;
    }
    case TPropKind::Component: {
      if (NextValue() == TValueType::vaNil) {
        ReadValue();
        prop.SetComponent(instance, nullptr);
        break;
      }
      if (NextValue() != TValueType::vaIdent) PropValueError();
      // Resolved once the whole description is in, when every named component exists.
      FFixups.push_back({&instance, &prop, ReadIdent()});
      break;
    }
    case TPropKind::Class:
      // An owned object is stored through its own properties ("Font.Name"), never as a value.
      PropValueError();
      break;
  }
}

void TReader::ResolveFixups() {
  for (const TFixup& fixup : FFixups) {
    // A name that does not lead to a component (another form's, or an unnamed one) leaves the
    // property as the component set it.
    TComponent* target = FRoot && SameText(FRoot->Name(), fixup.Name) ? FRoot : nullptr;
    if (!target && FRoot) {
      TComponent* scope = FRoot;
      std::string_view rest = fixup.Name;
      while (scope) {
        std::size_t dot = rest.find('.');
        TComponent* next = scope->FindComponent(rest.substr(0, dot));
        if (dot == std::string_view::npos) {
          target = next;
          break;
        }
        scope = next;
        rest.remove_prefix(dot + 1);
      }
    }
    if (target) fixup.Prop->SetComponent(*fixup.Instance, target);
  }
  FFixups.clear();
}

// --- TWriter -------------------------------------------------------------------------------------

void TWriter::WriteValue(TValueType value) {
  auto b = static_cast<uint8_t>(value);
  FStream.WriteBuffer(&b, 1);
}

void TWriter::WriteStr(const std::string& value) {
  if (value.size() > 255) throw EWriteError("Name too long for a form description: " + value);
  auto len = static_cast<uint8_t>(value.size());
  FStream.WriteBuffer(&len, 1);
  FStream.WriteBuffer(value.data(), len);
}

namespace {
// The low bytes of v: a little-endian number of 1, 2, 4 or 8 bytes.
void PutLE(TStream& s, uint64_t v, int bytes) {
  uint8_t b[8];
  StoreLE64(b, v);
  s.WriteBuffer(b, bytes);
}
}  // namespace

void TWriter::WriteInteger(int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    WriteValue(TValueType::vaInt8);
    PutLE(FStream, static_cast<uint64_t>(value), 1);
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    WriteValue(TValueType::vaInt16);
    PutLE(FStream, static_cast<uint64_t>(value), 2);
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    WriteValue(TValueType::vaInt32);
    PutLE(FStream, static_cast<uint64_t>(value), 4);
  } else {
    WriteValue(TValueType::vaInt64);
    PutLE(FStream, static_cast<uint64_t>(value), 8);
  }
}

void TWriter::WriteBoolean(bool value) {
  WriteValue(value ? TValueType::vaTrue : TValueType::vaFalse);
}

void TWriter::WriteString(const std::string& value) {
  if (value.size() <= 255) {
    WriteValue(TValueType::vaString);
    WriteStr(value);
    return;
  }
  if (value.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    throw EWriteError(SysConst::SWriteError);
  }
  WriteValue(TValueType::vaLString);
  PutLE(FStream, value.size(), 4);
  FStream.WriteBuffer(value.data(), static_cast<int32_t>(value.size()));
}

void TWriter::WriteIdent(const std::string& ident) {
  if (SameText(ident, "False")) {
    WriteValue(TValueType::vaFalse);
  } else if (SameText(ident, "True")) {
    WriteValue(TValueType::vaTrue);
  } else if (SameText(ident, "nil")) {
    WriteValue(TValueType::vaNil);
  } else if (SameText(ident, "Null")) {
    WriteValue(TValueType::vaNull);
  } else {
    WriteValue(TValueType::vaIdent);
    WriteStr(ident);
  }
}

void TWriter::WriteFloat(long double value) {
  WriteValue(TValueType::vaExtended);
  uint8_t b[16] = {};
  std::memcpy(b, &value, sizeof value < 16 ? sizeof value : 16);
  FStream.WriteBuffer(b, 10);
}

void TWriter::WriteListBegin() { WriteValue(TValueType::vaList); }

void TWriter::WriteListEnd() { WriteValue(TValueType::vaNull); }

void TWriter::WritePropName(const std::string& name) { WriteStr(FPropPath + name); }

void TWriter::DefineProperty(const std::string& name, const TReaderProc& /*readData*/,
                             const TWriterProc& writeData, bool hasData) {
  if (!hasData || !writeData) return;
  WritePropName(name);
  writeData(*this);
}

void TWriter::DefineBinaryProperty(const std::string& name, const TStreamProc& /*readData*/,
                                   const TStreamProc& writeData, bool hasData) {
  if (!hasData || !writeData) return;
  // The value is produced first, so that a handler that fails leaves no half property behind
  // in the description.
  TMemoryStream value;
  writeData(value);
  if (value.Size() > std::numeric_limits<int32_t>::max()) throw EWriteError(SysConst::SWriteError);
  WritePropName(name);
  WriteValue(TValueType::vaBinary);
  PutLE(FStream, static_cast<uint64_t>(value.Size()), 4);
  FStream.WriteBuffer(value.Memory(), static_cast<int32_t>(value.Size()));
}

void TWriter::WriteRootComponent(TComponent* root) {
  FRoot = root;
  FStream.WriteBuffer(FilerSignature, 4);
  WriteComponent(root);
}

void TWriter::WriteComponent(TComponent* component) {
  component->SetLoadingState(csWriting, 0);
  try {
    component->WriteState(*this);
  } catch (...) {
    component->SetLoadingState(0, csWriting);
    throw;
  }
  component->SetLoadingState(0, csWriting);
}

void TWriter::WriteData(TComponent* instance) {
  WriteStr(instance->ClassName());
  WriteStr(instance->Name());
  WriteProperties(*instance);
  WriteListEnd();
  instance->GetChildren([this](TComponent* child) { WriteComponent(child); }, FRoot);
  WriteListEnd();
}

void TWriter::WriteProperties(TPersistent& instance) {
  for (const TPropInfo* prop : instance.ClassInfo().AllProps()) {
    if (prop->Stored && !prop->Stored(instance)) continue;
    WriteProperty(instance, *prop);
  }
  instance.DefineProperties(*this);
}

void TWriter::WriteProperty(TPersistent& instance, const TPropInfo& prop) {
  auto identOf = [&](int64_t value) -> const char* {
    for (const TIdentMapEntry& e : prop.Idents) {
      if (e.Value == value) return e.Name;
    }
    return nullptr;
  };
  switch (prop.Kind) {
    case TPropKind::Integer:
    case TPropKind::Boolean:
    case TPropKind::Enumeration:
    case TPropKind::Set: {
      int64_t value = prop.GetOrd(instance);
      if (prop.Default && *prop.Default == value) return;
      WritePropName(prop.Name);
      if (prop.Kind == TPropKind::Boolean) {
        WriteBoolean(value != 0);
      } else if (prop.Kind == TPropKind::Set) {
        WriteValue(TValueType::vaSet);
        for (const TIdentMapEntry& e : prop.Idents) {
          if (e.Value >= 0 && e.Value < 63 && (value & (int64_t{1} << e.Value))) WriteStr(e.Name);
        }
        WriteStr("");
      } else if (const char* ident = identOf(value)) {
        WriteIdent(ident);
      } else if (prop.Kind == TPropKind::Enumeration) {
        throw EWriteError(SysConst::SInvalidPropertyValue);
      } else {
        WriteInteger(value);
      }
      break;
    }
    case TPropKind::String: {
      std::string value = prop.GetStr(instance);
      if (value.empty()) return;
      WritePropName(prop.Name);
      WriteString(value);
      break;
    }
    case TPropKind::Float: {
      long double value = prop.GetFloat(instance);
      if (value == 0) return;
      WritePropName(prop.Name);
      WriteFloat(value);
      break;
    }
    case TPropKind::Method: {
      const TMethod value = prop.GetMethod(instance);
      if (!value.Method) return;
      WritePropName(prop.Name);
      WriteIdent(value.Method->Name);
      break;
    }
    case TPropKind::Component: {
      TComponent* value = prop.GetComponent(instance);
      if (!value) return;
      const bool ownedByRoot = value->Owner() == FRoot || value == FRoot || !value->Owner();
      // An unnamed component of another owner is still written, as "Owner." (a control's own
      // popup menu); reading it back finds nothing and leaves what the control made itself.
      if (ownedByRoot && value->Name().empty()) return;
      WritePropName(prop.Name);
      WriteIdent(ownedByRoot ? value->Name() : value->Owner()->Name() + "." + value->Name());
      break;
    }
    case TPropKind::Class: {
      TPersistent* object = prop.GetObject(instance);
      if (!object) return;
      TRestore<std::string> path(FPropPath, FPropPath + prop.Name + ".");
      WriteProperties(*object);
      break;
    }
  }
}

// --- Whole descriptions --------------------------------------------------------------------------

void ReadComponentFromStream(TStream& stream, TComponent* root) {
  TReader reader(stream);
  reader.ReadRootComponent(root);
}

void WriteComponentToStream(TStream& stream, TComponent* root) {
  TWriter writer(stream);
  writer.WriteRootComponent(root);
}
