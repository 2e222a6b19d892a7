#pragma once
// Helpers shared by the files that define built-in classes.

#include <cmath>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "player/avm2/flash_declares.h"
#include "player/avm2/machine.h"

namespace quarvel::avm2 {

#define NATIVE(fn) [[maybe_unused]] Value fn([[maybe_unused]] Machine& m, [[maybe_unused]] Value self, [[maybe_unused]] std::span<Value> a)

// Flash keeps an integral number within 29 bits (not -0) as an int and
// any other number as a Number: what getQualifiedClassName and describeType
// report for a numeric value.
inline bool HeldAsInt(const Value& v) {
  if (!v.IsNumber()) return false;
  const double d = v.Num();
  return d >= -268435456.0 && d < 268435456.0 && d == static_cast<double>(static_cast<std::int32_t>(d)) &&
         !(d == 0 && std::signbit(d));
}

double ArgNum(Machine& m, std::span<Value> a, std::size_t i, double dflt);
std::string ArgStr(Machine& m, std::span<Value> a, std::size_t i, const std::string& dflt);
ArrayObject* AsArray(const Value& v);
// The constructor a native class runs for `new` (and its subclasses' super()).
void SetNativeCtor(Machine& m, Class* c, NativeFn fn);
int CompareForSort(Machine& m, const Value& x, const Value& y, int flags, const Value& fn);
Value SortArray(Machine& m, ArrayObject* arr, int flags, const Value& fn,
                const std::function<int(std::size_t, std::size_t)>* custom);
// Vector, Dictionary, RegExp, JSON, Date, XML, ByteArray, timers.
void InstallMoreBuiltins(Machine& m);
// XML and XMLList (builtins_xml.cpp).
void InstallXml(Machine& m);
// flash.xml's XMLNode, XMLDocument and XMLNodeType (builtins_xmldom.cpp).
void InstallXmlDom(Machine& m);
// E4X's escapes of element text and attribute values, and the text an
// XML literal takes from an embedded value (an XML value's markup).
std::string XmlEscapeText(std::string_view s);
std::string XmlEscapeAttribute(std::string_view s);
bool IsXmlValue(const Value& v);
std::string XmlValueText(Machine& m, const Value& v);
// ByteArray with AMF0/AMF3 serialization, registerClassAlias (builtins_bytes.cpp).
void InstallByteArray(Machine& m);
// QName, Proxy, describeType (builtins_reflect.cpp).
void InstallReflection(Machine& m);
// A QName's URI (null for any namespace) and local name, for names computed at
// run time (obj.ns::[qname]); false for any other value.
bool QNameParts(Machine& m, const Value& v, Value& uri, Value& local);
// The QName an attribute's name() gives names an attribute wherever it is
// used as a name (xml[attr.name()]).
bool QNameIsAttribute(Machine& m, const Value& v);
void MarkQNameAttribute(Machine& m, const Value& v);

}  // namespace quarvel::avm2
