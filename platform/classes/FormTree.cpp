#include "FormTree.h"

#include <utility>

namespace {

// The bytes of stream from start to its position; the position is where it was afterwards.
std::string BytesFrom(TStream& stream, int64_t start) {
  const int64_t end = stream.Position();
  std::string bytes(static_cast<std::size_t>(end - start), '\0');
  stream.SetPosition(start);
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

// A property list up to and with its end marker.
std::vector<TFormProperty> ReadPropertyList(TReader& reader, TStream& stream) {
  std::vector<TFormProperty> properties;
  while (!reader.EndOfList()) {
    TFormProperty property;
    property.Name = reader.ReadStr();
    const int64_t valueAt = stream.Position();
    reader.SkipValue();
    property.Value = BytesFrom(stream, valueAt);
    properties.push_back(std::move(property));
  }
  reader.ReadValue();
  return properties;
}

TFormObject ReadObject(TReader& reader, TStream& stream, int depth) {
  if (depth > MaxFormNesting) throw EReadError(SysConst::SNestedTooDeeply);
  TFormObject object;
  const int64_t prefixAt = stream.Position();
  uint8_t flags = 0;
  int32_t childPos = 0;
  reader.ReadPrefix(flags, childPos);
  object.Prefix = BytesFrom(stream, prefixAt);
  object.ClassName = reader.ReadStr();
  object.Name = reader.ReadStr();
  object.Properties = ReadPropertyList(reader, stream);
  while (!reader.EndOfList()) object.Children.push_back(ReadObject(reader, stream, depth + 1));
  reader.ReadValue();
  return object;
}

void WriteProperty(TWriter& writer, TStream& output, const TFormProperty& property) {
  writer.WriteStr(property.Name);
  output.WriteBuffer(property.Value.data(), static_cast<int64_t>(property.Value.size()));
}

void WriteObject(TWriter& writer, TStream& output, const TFormObject& object) {
  output.WriteBuffer(object.Prefix.data(), static_cast<int64_t>(object.Prefix.size()));
  writer.WriteStr(object.ClassName);
  writer.WriteStr(object.Name);
  for (const TFormProperty& property : object.Properties) WriteProperty(writer, output, property);
  writer.WriteListEnd();
  for (const TFormObject& child : object.Children) WriteObject(writer, output, child);
  writer.WriteListEnd();
}

// A filer that only takes note of the binary properties declared to it.
class TBinaryPropertyProbe : public TFiler {
 public:
  TBinaryPropertyProbe() : TFiler(FNothing) {}

  void DefineProperty(const std::string& /*name*/, const TReaderProc& /*readData*/,
                      const TWriterProc& /*writeData*/, bool /*hasData*/) override {}
  void DefineBinaryProperty(const std::string& name, const TStreamProc& /*readData*/,
                            const TStreamProc& /*writeData*/, bool /*hasData*/) override {
    Names.push_back(name);
  }

  std::vector<std::string> Names;

 private:
  TMemoryStream FNothing;
};

}  // namespace

TFormObject ReadFormTree(TStream& input) {
  TReader reader(input);
  reader.ReadSignature();
  return ReadObject(reader, input, 0);
}

void WriteFormTree(TStream& output, const TFormObject& root) {
  TWriter writer(output);
  output.WriteBuffer(FilerSignature, sizeof FilerSignature);
  WriteObject(writer, output, root);
}

void ForEachObject(TFormObject& object, const std::function<void(TFormObject&)>& visit) {
  visit(object);
  for (TFormObject& child : object.Children) ForEachObject(child, visit);
}

void ReadProperties(const std::vector<TFormProperty>& properties, TComponent& instance) {
  TMemoryStream stored;
  {
    TWriter writer(stored);
    for (const TFormProperty& property : properties) WriteProperty(writer, stored, property);
    writer.WriteListEnd();
  }
  stored.SetPosition(0);
  TReader reader(stored);
  reader.ReadProperties(&instance);
}

std::vector<TFormProperty> WriteProperties(TComponent& instance) {
  TMemoryStream written;
  {
    TWriter writer(written);
    writer.WriteProperties(instance);
    writer.WriteListEnd();
  }
  written.SetPosition(0);
  TReader reader(written);
  return ReadPropertyList(reader, written);
}

std::vector<std::string> BinaryPropertyNames(TPersistent& instance) {
  TBinaryPropertyProbe probe;
  instance.DefineProperties(probe);
  return std::move(probe.Names);
}
