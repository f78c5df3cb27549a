// The part of openNURBS that the plug-in relies on: the object base class,
// wide and narrow strings, and the unit systems.
#pragma once

#include <windows.h>

#include <string>

#include "host/sdk/sdk_api.h"

typedef GUID ON_UUID;

class ON_BinaryArchive;
class ON_TextLog;

class ON {
 public:
  enum unit_system {
    no_unit_system = 0,
    microns = 1,
    millimeters = 2,
    centimeters = 3,
    meters = 4,
    kilometers = 5,
    microinches = 6,
    mils = 7,
    inches = 8,
    feet = 9,
    miles = 10,
  };
};

// An owned UTF-16 string.
class RHINO_SDK_API ON_wString {
 public:
  ON_wString();
  ON_wString(const wchar_t* text);
  // Converts narrow text with the ANSI code page.
  ON_wString& operator=(const char* text);
  operator const wchar_t*() const;

 private:
  std::wstring m_s;
};

// An owned narrow string.
class RHINO_SDK_API ON_String {
 public:
  ON_String();
  // Converts UTF-16 text with the ANSI code page.
  ON_String(const wchar_t* text);
  ON_String(const unsigned short* text);
  operator const char*() const;

 private:
  std::string m_s;
};

class RHINO_SDK_API ON_ClassId {
 public:
  ON_ClassId(const char* className, const ON_ClassId* baseClassId);
  const char* ClassName() const;
  const ON_ClassId* BaseClass() const;

 private:
  const char* m_sClassName;
  const ON_ClassId* m_pBaseClassId;
};

// The base of every openNURBS object. The order of the virtual operations is
// the host's, and plug-ins built against it depend on it.
class RHINO_SDK_API ON_Object {
 public:
  static const ON_ClassId m_ON_Object_class_id;

  ON_Object();
  virtual const ON_ClassId* ClassId() const;
  virtual ON_Object* DuplicateObject() const;
  virtual ~ON_Object();
  virtual BOOL IsValid(ON_TextLog* textLog = nullptr) const;
  virtual void Dump(ON_TextLog& textLog) const;
  virtual unsigned int SizeOf() const;
  virtual BOOL Write(ON_BinaryArchive& archive) const;
  virtual BOOL Read(ON_BinaryArchive& archive);
  virtual unsigned int ObjectType() const;
  virtual void DestroyRuntimeCache(bool deleteAll = true);

  // Objects are created and released by the host's allocator.
  static void* operator new(size_t size);
  static void operator delete(void* object);
};
