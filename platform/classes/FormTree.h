// A binary form description as a tree of objects whose property values stay as they are stored:
// the walker of the form format for code that copies a description and changes some of its
// objects without knowing the classes of the others (mksetup build).
//
// The tree is read and written with the form reader's and writer's own rules (TReader's value
// types, lengths checked against what the input holds, MaxFormNesting), so it accepts what the
// setup program's reader can walk and refuses the rest with the reader's exceptions. The values
// of an object's properties are taken through its class only where the caller asks for it:
// ReadProperties puts them into a component of that class, WriteProperties takes them out of one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Classes.h"
#include "Streams.h"

struct TFormProperty {
  std::string Name;
  // The value as stored: its value-type byte and its data.
  std::string Value;
};

struct TFormObject {
  // The object's prefix as stored (flags and child position), empty when it has none.
  std::string Prefix;
  std::string ClassName;
  std::string Name;
  std::vector<TFormProperty> Properties;
  std::vector<TFormObject> Children;
};

// Reads a whole description (signature and one object tree) from input's position, leaving input
// just after it. Raises EReadError "Invalid stream format" for a wrong signature, "Stream read
// error" for one that ends early or declares a length beyond its end, "Invalid property value" or
// "Invalid stream format" for a value type that the reader does not know, and "Form description
// is nested too deeply" beyond MaxFormNesting.
TFormObject ReadFormTree(TStream& input);

// Writes root as a whole description: byte for byte what ReadFormTree read when nothing changed.
// Raises EWriteError for a name longer than 255 characters.
void WriteFormTree(TStream& output, const TFormObject& root);

// Calls visit for object and every object below it, each parent before its children.
void ForEachObject(TFormObject& object, const std::function<void(TFormObject&)>& visit);

// Sets instance's properties from stored ones, as reading a description would: each through its
// class's property table, its setter or its DefineProperties handler, a failure raised as
// EReadError "Error reading %s.%s: %s". Component references and event handlers, which need the
// whole form, are not resolved.
void ReadProperties(const std::vector<TFormProperty>& properties, TComponent& instance);

// The properties that the form writer stores for instance: its published ones that are stored and
// differ from their default, then its defined ones, in the writer's order. Raises what the
// writer and the component's handlers raise.
std::vector<TFormProperty> WriteProperties(TComponent& instance);

// The names of the binary properties that instance declares (TFiler::DefineBinaryProperty), each
// whether or not it has data now: the values that a component keeps to itself, such as the file
// that a TFileSource carries.
std::vector<std::string> BinaryPropertyNames(TPersistent& instance);
