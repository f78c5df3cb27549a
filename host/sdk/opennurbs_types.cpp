#include "host/sdk/opennurbs_types.h"

#include <cstdlib>
#include <new>

namespace {

std::wstring Widen(const char* text) {
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
  if (units > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(bytes > 0 ? bytes - 1 : 0, '\0');
  if (bytes > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

}  // namespace

ON_wString::ON_wString() = default;

ON_wString::ON_wString(const wchar_t* text) : m_s(text ? text : L"") {}

ON_wString& ON_wString::operator=(const char* text) {
  m_s = text ? Widen(text) : std::wstring();
  return *this;
}

ON_wString::operator const wchar_t*() const { return m_s.c_str(); }

ON_String::ON_String() = default;

ON_String::ON_String(const wchar_t* text) : m_s(text ? Narrow(text) : std::string()) {}

ON_String::ON_String(const unsigned short* text) : ON_String(reinterpret_cast<const wchar_t*>(text)) {}

ON_String::operator const char*() const { return m_s.c_str(); }

ON_ClassId::ON_ClassId(const char* className, const ON_ClassId* baseClassId)
    : m_sClassName(className), m_pBaseClassId(baseClassId) {}

const char* ON_ClassId::ClassName() const { return m_sClassName; }

const ON_ClassId* ON_ClassId::BaseClass() const { return m_pBaseClassId; }

const ON_ClassId ON_Object::m_ON_Object_class_id("ON_Object", nullptr);

ON_Object::ON_Object() = default;

const ON_ClassId* ON_Object::ClassId() const { return &m_ON_Object_class_id; }

ON_Object* ON_Object::DuplicateObject() const { return nullptr; }

ON_Object::~ON_Object() = default;

BOOL ON_Object::IsValid(ON_TextLog*) const { return TRUE; }

void ON_Object::Dump(ON_TextLog&) const {}

unsigned int ON_Object::SizeOf() const { return sizeof(*this); }

BOOL ON_Object::Write(ON_BinaryArchive&) const { return FALSE; }

BOOL ON_Object::Read(ON_BinaryArchive&) { return FALSE; }

unsigned int ON_Object::ObjectType() const { return 0; }

void ON_Object::DestroyRuntimeCache(bool) {}

void* ON_Object::operator new(size_t size) {
  if (void* memory = std::malloc(size)) return memory;
  throw std::bad_alloc();
}

void ON_Object::operator delete(void* object) { std::free(object); }
