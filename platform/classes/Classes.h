// The component model: TPersistent and TComponent, the class records with their published
// properties, fields and methods, the class registry, and the form reader and writer
// (TFiler, TReader, TWriter) for the binary form format of FormFormat.h.
//
// C++ has no run-time information about properties, so each class keeps it explicitly in one
// TClassInfo record (see TAVRIX_CLASS). The reader and writer work only through those records:
// they never switch on class names.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "FormFormat.h"
#include "Streams.h"
#include "SysUtils.h"

class TPersistent;
class TComponent;
class TFiler;
class TReader;
class TWriter;
struct TClassInfo;

TAVRIX_DECLARE_EXCEPTION(EComponentError, Exception);

namespace SysConst {
inline constexpr const char* SInvalidImage = "Invalid stream format";
inline constexpr const char* SInvalidPropertyValue = "Invalid property value";
inline constexpr const char* SUnknownProperty = "Property %s does not exist";
inline constexpr const char* SPropertyException = "Error reading %s.%s: %s";
inline constexpr const char* SClassNotFound = "Class %s not found";
inline constexpr const char* SInvalidName = "''%s'' is not a valid component name";
inline constexpr const char* SDuplicateName = "A component named %s already exists";
inline constexpr const char* SAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* SNestedTooDeeply = "Form description is nested too deeply";
inline constexpr const char* SFieldClassMismatch =
    "Component %s does not fit its field of class %s";
inline constexpr const char* SMissingComponents =
    "The form description lacks components that %s declares: %s";
}  // namespace SysConst

// --- Published methods and events ----------------------------------------------------------------

// The parameters of a published method after its sender. One object per parameter list, told
// apart by its address: an event binds only a method of its own list.
struct TMethodSignature {
  // Not constant, so that no two lists can share one address.
  char Tag = 0;
};
template <class... Args>
inline TMethodSignature MethodSignature;

// A published method: its name, its parameters after the sender, and a trampoline that calls it
// on an object of its class. The trampoline's type is erased; only an event of the same
// signature casts it back (to void (*)(TObject* self, TObject* sender, Args...)).
struct TMethodInfo {
  const char* Name;
  const TMethodSignature* Signature;
  void (*Invoke)();
};

// An event's binding without its parameter types, as the form reader and writer handle it.
struct TMethod {
  TObject* Data = nullptr;
  const TMethodInfo* Method = nullptr;
};

// An event handler: a published method, taking the sender and Args, bound to the object it runs
// on. Empty by default; calling an empty one does nothing.
template <class... Args>
class TMethodEvent {
 public:
  TMethodEvent() = default;
  // Raises EInvalidOperation when the method takes other parameters than the event passes.
  TMethodEvent(TObject* data, const TMethodInfo* method) : FData(data), FMethod(method) {
    if (!Fits(method)) {
      throw EInvalidOperation(std::string("Method ") + method->Name +
                              " does not take the parameters of the event");
    }
  }
  // Whether the event can call method (nullptr fits: it empties the event).
  static bool Fits(const TMethodInfo* method) {
    return !method || method->Signature == &MethodSignature<Args...>;
  }

  explicit operator bool() const { return FMethod != nullptr; }
  void operator()(TObject* sender, Args... args) const {
    if (FMethod) {
      reinterpret_cast<void (*)(TObject*, TObject*, Args...)>(FMethod->Invoke)(FData, sender,
                                                                               args...);
    }
  }
  TObject* Data() const { return FData; }
  const TMethodInfo* Method() const { return FMethod; }
  bool operator==(const TMethodEvent&) const = default;

 private:
  TObject* FData = nullptr;
  const TMethodInfo* FMethod = nullptr;
};

// The event that passes only its sender (a click).
using TNotifyEvent = TMethodEvent<>;

// The record of the published method Method (see TAVRIX_METHOD).
template <auto Method, class TRoot, class... Args>
TMethodInfo MakeMethodInfo(const char* name, void (TRoot::*)(TObject*, Args...)) {
  void (*invoke)(TObject*, TObject*, Args...) = [](TObject* self, TObject* sender, Args... args) {
    (static_cast<TRoot*>(self)->*Method)(sender, args...);
  };
  return TMethodInfo{name, &MethodSignature<Args...>, reinterpret_cast<void (*)()>(invoke)};
}

// --- Published properties
// -------------------------------------------------------------------------

enum class TPropKind {
  Integer,      // a number, or one of the named constants of Idents (colours, cursors)
  Boolean,      // False / True
  Enumeration,  // one name of Idents, by ordinal
  Set,          // names of Idents, one bit each (Value is the bit number)
  String,
  Float,
  Class,      // an owned object whose own properties are stored with "Name." before them
  Method,     // an event, bound by name to a published method of the root
  Component,  // a reference to another component, by name
};

struct TIdentMapEntry {
  int64_t Value;
  const char* Name;
};

// One published property. Accessors not matching Kind stay empty.
struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::Integer;
  std::function<int64_t(const TPersistent&)> GetOrd;
  std::function<void(TPersistent&, int64_t)> SetOrd;
  std::function<std::string(const TPersistent&)> GetStr;
  std::function<void(TPersistent&, const std::string&)> SetStr;
  std::function<long double(const TPersistent&)> GetFloat;
  std::function<void(TPersistent&, long double)> SetFloat;
  std::function<TPersistent*(TPersistent&)> GetObject;
  // Events: the parameters their methods must take, and the binding.
  const TMethodSignature* MethodSignature = nullptr;
  std::function<TMethod(const TPersistent&)> GetMethod;
  std::function<void(TPersistent&, const TMethod&)> SetMethod;
  std::function<TComponent*(const TPersistent&)> GetComponent;
  std::function<void(TPersistent&, TComponent*)> SetComponent;
  std::span<const TIdentMapEntry> Idents;
  // The recorded default: a value equal to it is not written. Without one, ordinal values are
  // always written; strings, floats, events and references are written when not empty.
  std::optional<int64_t> Default;
  // Whether the value is written at all; always when empty.
  std::function<bool(const TPersistent&)> Stored;

  TPropInfo&& WithDefault(int64_t value) && {
    Default = value;
    return std::move(*this);
  }
  TPropInfo&& WithIdents(std::span<const TIdentMapEntry> idents) && {
    Idents = idents;
    return std::move(*this);
  }
  template <class T>
  TPropInfo&& StoredIf(bool (T::*test)() const) && {
    Stored = [test](const TPersistent& o) { return (static_cast<const T&>(o).*test)(); };
    return std::move(*this);
  }
};

// A published field: the form binds the component of the same name to it.
struct TFieldInfo {
  const char* Name;
  const TClassInfo& (*FieldClass)();
  // Stores the component (or nullptr) in the field of root; false when it is of another class.
  bool (*Assign)(TPersistent& root, TComponent* component);
};

// The class record: name, parent, factory and the published tables.
struct TClassInfo {
  const char* Name;
  const TClassInfo* Parent;
  // Creates an instance owned by owner; empty for classes that cannot be made by the reader.
  TComponent* (*Create)(TComponent* owner);
  std::vector<TPropInfo> Props;
  std::vector<TFieldInfo> Fields;
  std::vector<TMethodInfo> Methods;

  bool InheritsFrom(const TClassInfo& other) const;
  // Lookups walk up to the parents; names compare without regard to case.
  const TPropInfo* FindProp(std::string_view name) const;
  const TFieldInfo* FindField(std::string_view name) const;
  const TMethodInfo* FindMethod(std::string_view name) const;
  // Every published property, the root ancestor's first, in declaration order.
  std::vector<const TPropInfo*> AllProps() const;
};

// Adds the class record members to a class. Put it at the top of the class body; define
// StaticClassInfo() in the class's source file.
#define TAVRIX_CLASS(TName)                                                  \
 public:                                                                     \
  static const TClassInfo& StaticClassInfo();                                \
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); } \
                                                                             \
 private:

// The class registry, for classes that the reader meets without a published field to name them.
void RegisterClass(const TClassInfo& info);
void RegisterClasses(std::initializer_list<const TClassInfo*> infos);
// nullptr when unknown.
const TClassInfo* GetClass(std::string_view name);
// EClassNotFound "Class %s not found" when unknown.
const TClassInfo& FindClass(std::string_view name);

// --- Builders for property, field and method tables --------------------------------------------

namespace PropBuilders {

template <class T, class V, class A>
TPropInfo OrdProp(const char* name, TPropKind kind, V (T::*get)() const, void (T::*set)(A)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = kind;
  p.GetOrd = [get](const TPersistent& o) {
    return static_cast<int64_t>((static_cast<const T&>(o).*get)());
  };
  p.SetOrd = [set](TPersistent& o, int64_t v) {
    (static_cast<T&>(o).*set)(static_cast<std::remove_cvref_t<A>>(v));
  };
  return p;
}

template <class T, class V, class A>
TPropInfo IntProp(const char* name, V (T::*get)() const, void (T::*set)(A)) {
  return OrdProp(name, TPropKind::Integer, get, set);
}
template <class T, class A>
TPropInfo BoolProp(const char* name, bool (T::*get)() const, void (T::*set)(A)) {
  return OrdProp(name, TPropKind::Boolean, get, set);
}
template <class T, class V, class A>
TPropInfo EnumProp(const char* name, V (T::*get)() const, void (T::*set)(A),
                   std::span<const TIdentMapEntry> names) {
  return OrdProp(name, TPropKind::Enumeration, get, set).WithIdents(names);
}
template <class T, class V, class A>
TPropInfo SetProp(const char* name, V (T::*get)() const, void (T::*set)(A),
                  std::span<const TIdentMapEntry> names) {
  return OrdProp(name, TPropKind::Set, get, set).WithIdents(names);
}

template <class T, class G, class A>
TPropInfo StrProp(const char* name, G (T::*get)() const, void (T::*set)(A)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TPropKind::String;
  p.GetStr = [get](const TPersistent& o) { return std::string((static_cast<const T&>(o).*get)()); };
  p.SetStr = [set](TPersistent& o, const std::string& v) { (static_cast<T&>(o).*set)(v); };
  return p;
}

template <class T, class A>
TPropInfo FloatProp(const char* name, long double (T::*get)() const, void (T::*set)(A)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TPropKind::Float;
  p.GetFloat = [get](const TPersistent& o) { return (static_cast<const T&>(o).*get)(); };
  p.SetFloat = [set](TPersistent& o, long double v) { (static_cast<T&>(o).*set)(v); };
  return p;
}

// An owned object (a font, a picture) whose properties are stored under "Name.".
template <class T, class V>
TPropInfo ClassProp(const char* name, V* (T::*get)() const) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TPropKind::Class;
  p.GetObject = [get](TPersistent& o) -> TPersistent* { return (static_cast<const T&>(o).*get)(); };
  return p;
}

template <class T, class... Args>
TPropInfo EventProp(const char* name, TMethodEvent<Args...> T::*field) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TPropKind::Method;
  p.MethodSignature = &MethodSignature<Args...>;
  p.GetMethod = [field](const TPersistent& o) {
    const TMethodEvent<Args...>& event = static_cast<const T&>(o).*field;
    return TMethod{event.Data(), event.Method()};
  };
  p.SetMethod = [field](TPersistent& o, const TMethod& v) {
    static_cast<T&>(o).*field = TMethodEvent<Args...>(v.Data, v.Method);
  };
  return p;
}

template <class T, class V, class A>
TPropInfo ComponentProp(const char* name, V* (T::*get)() const, void (T::*set)(A)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TPropKind::Component;
  p.GetComponent = [get](const TPersistent& o) -> TComponent* {
    return (static_cast<const T&>(o).*get)();
  };
  p.SetComponent = [set](TPersistent& o, TComponent* v) {
    (static_cast<T&>(o).*set)(dynamic_cast<std::remove_pointer_t<std::remove_cvref_t<A>>*>(v));
  };
  return p;
}

}  // namespace PropBuilders

// A published field `Member` of class `TRoot`, holding a component of class `TField`.
#define TAVRIX_FIELD(TRoot, Member)                                                       \
  TFieldInfo {                                                                            \
#Member, &std::remove_pointer_t<decltype(TRoot::Member)>::StaticClassInfo,              \
        [](TPersistent& root, TComponent* c) -> bool {                                      \
          using TField = std::remove_pointer_t<decltype(TRoot::Member)>;                    \
          auto* typed = dynamic_cast<TField*>(c);                                           \
          if (c && !typed) return false;                                                    \
          static_cast<TRoot&>(root).Member = typed;                                         \
          return true;                                                                      \
        } \
  }

// A published method `Method(TObject* sender, ...)` of class `TRoot`: a TMethodInfo that events
// with the same parameters after the sender can bind.
#define TAVRIX_METHOD(TRoot, Method) MakeMethodInfo<&TRoot::Method>(#Method, &TRoot::Method)

// --- TPersistent ---------------------------------------------------------------------------------

class TPersistent : public TObject {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  ~TPersistent() override = default;

  static const TClassInfo& StaticClassInfo();
  virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
  const char* ClassName() const { return ClassInfo().Name; }

  // Copies the state of source; raises EConvertError "Cannot assign a %s to a %s" when the
  // classes do not fit.
  virtual void Assign(const TPersistent& source);

  // Declares properties that are not published (DefineProperty, DefineBinaryProperty). The
  // reader calls it to find a property it does not know; the writer to write them after the
  // published ones.
  virtual void DefineProperties(TFiler& filer);

 protected:
  virtual void AssignTo(TPersistent& dest) const;
};

// --- TComponent ----------------------------------------------------------------------------------

enum TComponentStateFlag : uint32_t {
  csLoading = 0x01,
  csReading = 0x02,
  csWriting = 0x04,
  csDestroying = 0x08,
};

enum class TOperation { opInsert, opRemove };

// A component has an owner, which destroys it, and a name that is unique among the components
// of that owner. When the owner publishes a field of the same name, the field points at the
// component while it exists.
class TComponent : public TPersistent {
  TAVRIX_CLASS(TComponent)

 public:
  explicit TComponent(TComponent* owner);
  // Destroys every owned component, the last first, then leaves the owner.
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  // Raises EComponentError for a name that is not an identifier, or that another component of
  // the same owner already has.
  void SetName(const std::string& name);
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t tag) { FTag = tag; }
  uint32_t ComponentState() const { return FComponentState; }
  // The design-surface position kept for components without a place of their own: the low
  // 16 bits hold Left, the high 16 bits Top.
  int32_t DesignInfo() const { return FDesignInfo; }
  void SetDesignInfo(int32_t info) { FDesignInfo = info; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const {
    return FComponents.at(static_cast<std::size_t>(index));
  }
  // The owned component of that name (case-insensitive), or nullptr.
  TComponent* FindComponent(std::string_view name) const;
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  // Called once when the description that created the component has been read completely.
  virtual void Loaded();
  // Reads the component's properties and children; the reader calls it.
  virtual void ReadState(TReader& reader);
  virtual void WriteState(TWriter& writer);
  // Calls proc for every child that a description stores under this component.
  virtual void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root);
  // Owner for the children read under this component; nullptr means the root.
  virtual TComponent* GetChildOwner();
  // Parent for the children read under this component.
  virtual TComponent* GetChildParent();
  virtual void SetParentComponent(TComponent* parent);
  virtual bool HasParent() const { return false; }
  virtual void Notification(TComponent* component, TOperation operation);
  // Asks that component be told, through Notification(this, opRemove), when this one is
  // destroyed, whoever owns it: for references to components of other owners. The link goes
  // both ways, so that it is dropped when either of the two goes first.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  void DefineProperties(TFiler& filer) override;

  void SetLoadingState(uint32_t set, uint32_t clear) {
    FComponentState = (FComponentState | set) & ~clear;
  }

 private:
  // Points the owner's published field of this component's name at it, or back at nullptr.
  void SetReference(bool enable);

  TComponent* FOwner = nullptr;
  std::string FName;
  int32_t FTag = 0;
  int32_t FDesignInfo = 0;
  uint32_t FComponentState = 0;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
};

bool IsValidIdent(std::string_view name);

// --- Filer, reader, writer -----------------------------------------------------------------------

class TFiler : public TObject {
 public:
  using TReaderProc = std::function<void(TReader&)>;
  using TWriterProc = std::function<void(TWriter&)>;
  using TStreamProc = std::function<void(TStream&)>;

  explicit TFiler(TStream& stream) : FStream(stream) {}
  TFiler(const TFiler&) = delete;
  TFiler& operator=(const TFiler&) = delete;

  // A property that is not published, read and written by the given handlers. hasData says
  // whether the writer writes it; the reader reads it whenever the description holds it.
  virtual void DefineProperty(const std::string& name, const TReaderProc& readData,
                              const TWriterProc& writeData, bool hasData) = 0;
  // A property whose value is a block of bytes. The reader hands it to readData in a
  // TMemoryStream positioned at 0; the writer takes what writeData writes to an empty one.
  virtual void DefineBinaryProperty(const std::string& name, const TStreamProc& readData,
                                    const TStreamProc& writeData, bool hasData) = 0;

  TComponent* Root() const { return FRoot; }
  TStream& Stream() { return FStream; }

 protected:
  TStream& FStream;
  TComponent* FRoot = nullptr;
};

// Builds components from a binary form description.
//
// Failures raise exceptions of the EFilerError family; a failure while a property is read is
// raised as EReadError "Error reading %s.%s: %s" (component name, property name, message). A
// component whose reading fails is destroyed before the exception leaves the reader; the root
// and what was read before stays, for the caller to destroy.
class TReader : public TFiler {
 public:
  explicit TReader(TStream& stream) : TFiler(stream) {}

  // Reads the signature and one object tree into root, whose class the caller has chosen.
  // Every component read is told Loaded() once the whole tree is in. A description that lacks a
  // component for one of the root class's published fields is refused with EReadError "The form
  // description lacks components that %s declares: %s" (the class, the missing names), since the
  // class's code relies on every one of them; the components read so far stay for the caller to
  // destroy, and none of them is told Loaded().
  void ReadRootComponent(TComponent* root);

  void DefineProperty(const std::string& name, const TReaderProc& readData,
                      const TWriterProc& writeData, bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData,
                            const TStreamProc& writeData, bool hasData) override;

  // Reading values, for DefineProperty handlers. Each raises EReadError "Invalid property
  // value" when the next value is not of a fitting type.
  TValueType ReadValue();
  TValueType NextValue();
  int64_t ReadInteger();
  bool ReadBoolean();
  std::string ReadString();
  std::string ReadIdent();
  long double ReadFloat();
  void ReadListBegin();
  void ReadListEnd();
  bool EndOfList();
  void SkipValue();
  // A short string: a length byte and that many characters.
  std::string ReadStr();

  // The component whose properties are being read (for DefineProperties handlers).
  TComponent* Owner() const { return FOwner; }
  TComponent* Parent() const { return FParent; }

  // Used by TComponent::ReadState: the properties, then the children.
  void ReadData(TComponent* instance);
  // A property list, up to and with its end marker, into instance; each property fails as in a
  // whole description ("Error reading %s.%s: %s").
  void ReadProperties(TComponent* instance);

  // The pieces of the object structure, for walkers of the format (FormTree.h): the signature
  // ("Invalid stream format" when it is wrong) and an object's optional prefix (flags and child
  // position; both 0 without one).
  void ReadSignature();
  void ReadPrefix(uint8_t& flags, int32_t& childPos);

 private:
  struct TFixup {
    TPersistent* Instance;
    const TPropInfo* Prop;
    std::string Name;
  };

  TComponent* ReadComponent();
  void CheckRootFields();
  void ReadProperty(TPersistent& instance, TComponent& component);
  void ReadPropValue(TPersistent& instance, const TPropInfo& prop);
  void PropValueError();
  void CheckNesting();
  int32_t ReadInt32();
  void SkipBytes(int64_t count);
  void CheckRemaining(int64_t count);
  void ResolveFixups();
  const TClassInfo& FindComponentClass(const std::string& className);

  TComponent* FOwner = nullptr;
  TComponent* FParent = nullptr;
  std::string FPropName;
  std::vector<TComponent*> FLoaded;
  std::vector<TFixup> FFixups;
  int FDepth = 0;
};

// Writes components as a binary form description: each one's published properties that are
// stored and differ from their default, then its defined properties, then its children.
class TWriter : public TFiler {
 public:
  explicit TWriter(TStream& stream) : TFiler(stream) {}

  void WriteRootComponent(TComponent* root);

  void DefineProperty(const std::string& name, const TReaderProc& readData,
                      const TWriterProc& writeData, bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData,
                            const TStreamProc& writeData, bool hasData) override;

  void WriteInteger(int64_t value);
  void WriteBoolean(bool value);
  void WriteString(const std::string& value);
  void WriteIdent(const std::string& ident);
  void WriteFloat(long double value);
  void WriteListBegin();
  void WriteListEnd();
  // A short string; EWriteError for more than 255 characters.
  void WriteStr(const std::string& value);
  void WriteValue(TValueType value);

  // Used by TComponent::WriteState.
  void WriteData(TComponent* instance);
  // instance's published properties that are stored and differ from their default, then its
  // defined ones, without an end marker.
  void WriteProperties(TPersistent& instance);

 private:
  void WriteComponent(TComponent* component);
  void WriteProperty(TPersistent& instance, const TPropInfo& prop);
  void WritePropName(const std::string& name);

  std::string FPropPath;
};

// Reads a whole description from a stream into root (see TReader::ReadRootComponent).
void ReadComponentFromStream(TStream& stream, TComponent* root);
// Writes root and its children as a whole description.
void WriteComponentToStream(TStream& stream, TComponent* root);
